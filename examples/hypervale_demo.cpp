// A backup and a restore through the Hypervale facade, one line per step.
//
// By default it starts the bundled engine simulator in-process and works on its inventory;
// flags point it at a real engine instead (see --help).
#include <hypervale/hypervale.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_simulator/engine_simulator.h"

namespace {

using namespace Hypervale;
using Clock = std::chrono::steady_clock;

struct Settings {
  std::string server;  // empty: the bundled simulator
  std::string user = "admin@internal";
  std::string passwordFile;
  std::string caFile;
  std::string apiVersion;
  std::string vm = "web01";
  std::string proxyVm = "proxy";
  std::string cluster = "Default";
  std::string storageDomain = "data1";
  std::string vnicProfile = "ovirtmgmt";
  std::string generation = "4.1";
  std::string logFile;
  bool restore = true;
};

const char kUsage[] =
    "Usage: hypervale-demo [options]\n"
    "\n"
    "Runs a backup cycle (inventory, snapshot, snapshot disks attached to a proxy VM, their\n"
    "device names, detach, snapshot removal) and a restore (VM from the snapshot's OVF, a new\n"
    "disk, a NIC, start, stop, removal), printing one line per step. Exit status 0 only when\n"
    "every step succeeded.\n"
    "\n"
    "Without --server it starts the bundled engine simulator on 127.0.0.1 and uses it.\n"
    "\n"
    "  --server HOST[:PORT]      a real engine instead of the simulator\n"
    "  --user NAME               engine user (default admin@internal)\n"
    "  --password-file FILE      file whose first line is the password (required with --server)\n"
    "  --ca-file FILE            PEM bundle of the engine's CA (default: system trust store)\n"
    "  --api-version N           API version announced if the first connect attempt fails\n"
    "  --vm NAME                 VM to back up (default web01)\n"
    "  --proxy-vm NAME           proxy VM that receives the snapshot disks (default proxy)\n"
    "  --cluster NAME            cluster of the restored VM (default Default)\n"
    "  --storage-domain NAME     storage domain of the restored VM's disk (default data1)\n"
    "  --vnic-profile NAME       vNIC profile of the restored VM's NIC (default ovirtmgmt)\n"
    "  --no-restore              run the backup cycle only\n"
    "  --generation G            simulated engine: 3.6, 4.0.0, 4.0.1, 4.0.2, 4.1 (default),\n"
    "                            4.2, 4.3, 4.4, 4.5.0 or 4.5.1\n"
    "  --log FILE                write the library's log there (default: not shown)\n"
    "  --help                    this text\n";

bool ParseArguments(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (flag == "--no-restore") {
      s.restore = false;
      continue;
    }
    std::string* target = nullptr;
    if (flag == "--server") target = &s.server;
    if (flag == "--user") target = &s.user;
    if (flag == "--password-file") target = &s.passwordFile;
    if (flag == "--ca-file") target = &s.caFile;
    if (flag == "--api-version") target = &s.apiVersion;
    if (flag == "--vm") target = &s.vm;
    if (flag == "--proxy-vm") target = &s.proxyVm;
    if (flag == "--cluster") target = &s.cluster;
    if (flag == "--storage-domain") target = &s.storageDomain;
    if (flag == "--vnic-profile") target = &s.vnicProfile;
    if (flag == "--generation") target = &s.generation;
    if (flag == "--log") target = &s.logFile;
    if (!target || i + 1 >= argc) {
      std::fprintf(stderr, "hypervale-demo: unknown or incomplete option '%s' (see --help)\n",
                   flag.c_str());
      return false;
    }
    *target = argv[++i];
  }
  if (!s.server.empty() && s.passwordFile.empty()) {
    std::fprintf(stderr, "hypervale-demo: --server needs --password-file\n");
    return false;
  }
  return true;
}

bool ReadPassword(const std::string& path, std::string& password) {
  std::ifstream in(path);
  if (!in || !std::getline(in, password)) return false;
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return !password.empty();
}

// Runs the steps in order, printing each with its time and outcome; a failed step skips the
// steps that need it.
class Steps {
 public:
  explicit Steps(TzHypervale& hv) : hv_(hv) {}

  bool run(const char* name, const std::function<bool(std::string& detail)>& step) {
    std::string detail;
    const auto start = Clock::now();
    const bool ok = step(detail);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok && detail.empty()) {
      detail =
          hv_.getLastError().empty() ? "details with --log FILE" : "engine: " + hv_.getLastError();
    }
    std::printf("%-4s %-40s %7.2fs  %s\n", ok ? "ok" : "FAIL", name, seconds, detail.c_str());
    std::fflush(stdout);
    ++(ok ? passed_ : failed_);
    return ok;
  }

  void skip(const char* name) {
    std::printf("%-4s %-40s %8s  skipped after an earlier failure\n", "--", name, "");
    ++skipped_;
  }

  int summary(double seconds) const {
    std::printf("\n%d steps: %d passed, %d failed, %d skipped in %.2fs\n",
                passed_ + failed_ + skipped_, passed_, failed_, skipped_, seconds);
    return failed_ == 0 && skipped_ == 0 ? 0 : 1;
  }

 private:
  TzHypervale& hv_;
  int passed_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
};

int RunDemo(const Settings& s, const std::string& server, const std::string& password) {
  TzHypervale hv;
  Steps steps(hv);
  const auto start = Clock::now();

  bool connected = steps.run("connect", [&](std::string& detail) {
    if (!hv.connect(server, s.user, password)) return false;
    detail = "engine " + hv.getConnectionVersion();
    return true;
  });

  SVMInfoLib vm;
  SVMInfoLib proxy;
  bool found = connected && steps.run("inventory", [&](std::string& detail) {
    std::vector<SVMInfoLib> vms;
    // Data centers, snapshots and disks of every VM.
    if (!hv.getVMInfoList(vms, 0x1 | 0x8 | 0x10)) return false;
    size_t disks = 0;
    for (const auto& each : vms) disks += each.disks.size();
    detail = std::to_string(vms.size()) + " VMs, " + std::to_string(disks) + " disks";
    return hv.getVMInfo(s.vm, "", vm, 0x10) && hv.getVMInfo(s.proxyVm, "", proxy, 0);
  });
  if (!connected) steps.skip("inventory");

  SSnapshotInfoLib snapshot;
  std::string ovf;
  const bool snapped = found && steps.run("snapshot", [&](std::string& detail) {
    snapshot.description = "_QZ_BACKUP_" + vm.name + "_demo_1";
    if (!hv.createVMSnapshot(vm, snapshot, ovf)) return false;
    detail = "snapshot " + snapshot.id + ", OVF " + std::to_string(ovf.size()) + " bytes";
    return true;
  });
  if (!found) steps.skip("snapshot");

  bool attached = snapped && steps.run("attach snapshot disks to proxy", [&](std::string& detail) {
    for (const auto& vmDisk : vm.disks) {
      SDiskInfoLib disk;
      disk.id = vmDisk.id;
      disk.snapshotId = snapshot.id;
      disk.interface = "virtio";
      if (!hv.attachDisk(proxy.id, disk, true, false, true)) return false;
    }
    detail = std::to_string(vm.disks.size()) + " disks on " + proxy.name;
    return true;
  });
  if (!snapped) steps.skip("attach snapshot disks to proxy");

  if (attached) {
    steps.run("device names in the proxy", [&](std::string& detail) {
      for (const auto& vmDisk : vm.disks) {
        SDiskInfoLib named;
        if (!hv.getLogicalDiskName(proxy.id, vmDisk.id, named)) return false;
        detail += (detail.empty() ? "" : ", ") + named.logicalName;
      }
      return true;
    });
  } else {
    steps.skip("device names in the proxy");
  }
  if (snapped) {
    steps.run("detach snapshot disks", [&](std::string&) {
      return hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id);
    });
  } else {
    steps.skip("detach snapshot disks");
  }

  if (s.restore) {
    SVMInfoLib restored;
    const bool created = snapped && steps.run("restore: VM from OVF", [&](std::string& detail) {
      restored.name = vm.name + "-restored";
      restored.clusterName = s.cluster;
      if (!hv.createVM(restored, ovf)) return false;
      detail = restored.name + " " + restored.id;
      return true;
    });
    if (!snapped) steps.skip("restore: VM from OVF");
    const char* later[] = {"restore: new disk", "restore: NIC", "restore: start", "restore: stop",
                           "restore: remove VM"};
    if (created) {
      steps.run(later[0], [&](std::string& detail) {
        SStorageDomainInfoLib domain;
        if (!hv.getStorageDomainInfo(s.storageDomain, "", domain, 0)) return false;
        SDiskInfoLib disk;
        disk.name = restored.name + "_Disk1";
        disk.provisionedSize = 1ULL << 30;
        disk.format = "cow";
        disk.interface = "virtio";
        disk.storageDomainId = domain.id;
        disk.storageDomainName = domain.name;
        if (!hv.createDisk(disk) || !hv.attachDisk(restored.id, disk, true, true, false)) {
          return false;
        }
        detail = "1 GiB on " + domain.name;
        return true;
      });
      steps.run(later[1], [&](std::string& detail) {
        detail = "profile " + s.vnicProfile;
        return hv.addNicToVM(restored.id, s.vnicProfile);
      });
      steps.run(later[2], [&](std::string&) { return hv.changePowerState(restored, 1); });
      steps.run(later[3], [&](std::string&) { return hv.changePowerState(restored, 0); });
      steps.run(later[4], [&](std::string&) { return hv.deleteVM(restored.name, restored.id); });
    } else {
      for (const char* name : later) steps.skip(name);
    }
  }

  if (snapped) {
    steps.run("remove snapshot",
              [&](std::string&) { return hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id); });
  } else {
    steps.skip("remove snapshot");
  }
  return steps.summary(std::chrono::duration<double>(Clock::now() - start).count());
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!ParseArguments(argc, argv, s)) return 2;

  InitializeXmlLibrary();
  if (!s.logFile.empty() && SetLogFile(s.logFile)) {
    SetLogThreshold(2);
  } else {
    SetLogThreshold(-1);  // the step lines say what matters
  }

  int status = 1;
  try {
    if (!s.server.empty()) {
      std::string password;
      if (!ReadPassword(s.passwordFile, password)) {
        std::fprintf(stderr, "hypervale-demo: cannot read a password from %s\n",
                     s.passwordFile.c_str());
        return 2;
      }
      if (!s.caFile.empty()) SetConfigValue("VirtualServer", "sRhevCAFile", s.caFile);
      if (!s.apiVersion.empty()) SetConfigValue("VirtualServer", "sRHEVMAPIVERSION", s.apiVersion);
      std::printf("Engine %s, VM %s, proxy %s\n\n", s.server.c_str(), s.vm.c_str(),
                  s.proxyVm.c_str());
      status = RunDemo(s, s.server, password);
    } else {
      hvsim::SimulatorOptions options;
      options.generation = s.generation;
      options.seedFile = std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed";
      options.server.password = "demo-only";
      // Tasks take one poll and half a second here (an engine takes seconds); poll briskly.
      options.timing = hvsim::Timing::uniform(hvsim::Delay{1, std::chrono::milliseconds(500)});
      hvsim::EngineSimulator simulator(options);
      SetConfigValue("VirtualServer", "sRhevCAFile", simulator.engine().caFile());
      SetConfigValue("VirtualServer", "nRHEVMAPISLEEPINTERVAL", "200");
      std::printf("Engine simulator %s on 127.0.0.1:%u, VM %s, proxy %s\n\n", s.generation.c_str(),
                  simulator.port(), s.vm.c_str(), s.proxyVm.c_str());
      status = RunDemo(s, "localhost:" + std::to_string(simulator.port()), "demo-only");
      // What the demo cost the engine: on a real engine every login is real work.
      std::printf("%s\n", hvsim::describe(simulator.sessionStats()).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hypervale-demo: %s\n", e.what());
    status = 2;
  }
  TerminateXmlLibrary();
  return status;
}
