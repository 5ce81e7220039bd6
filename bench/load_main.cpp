// A load check, not a test: T facades on T threads, each running K backup cycles (the VM read
// with its disks, a snapshot with its OVF, the snapshot's disks attached to a proxy VM and
// detached again, the snapshot deleted) against one engine simulator in a process of its own.
// Prints one line: cycles that succeeded and failed, throughput, this process's CPU per cycle
// and peak memory, the descriptors each facade holds at rest, and what the engine spent (its
// CPU, logins and requests).
//
//   hv_load --simulator PATH [--threads T] [--cycles K] [--reuse 0|1] [--vms N] [--header]
#include <dirent.h>
#include <fcntl.h>
#include <hypervale/hypervale.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kPassword[] = "load-password";

struct Settings {
  std::string simulator;
  unsigned threads = 8;
  unsigned cycles = 10;
  std::string reuse = "1";
  unsigned vms = 200;
  bool header = false;
};

Settings ParseArgs(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--header") {
      s.header = true;
      continue;
    }
    if (i + 1 >= argc) throw std::runtime_error(flag + " needs a value");
    const std::string value = argv[++i];
    if (flag == "--simulator") {
      s.simulator = value;
    } else if (flag == "--threads") {
      s.threads = static_cast<unsigned>(std::max(1L, std::strtol(value.c_str(), nullptr, 10)));
    } else if (flag == "--cycles") {
      s.cycles = static_cast<unsigned>(std::max(1L, std::strtol(value.c_str(), nullptr, 10)));
    } else if (flag == "--reuse") {
      s.reuse = value;
    } else if (flag == "--vms") {
      s.vms = static_cast<unsigned>(std::max(2L, std::strtol(value.c_str(), nullptr, 10)));
    } else {
      throw std::runtime_error("unknown option " + flag);
    }
  }
  if (s.simulator.empty()) {
    throw std::runtime_error(
        "usage: hv_load --simulator PATH [--threads T] [--cycles K] [--reuse 0|1] [--vms N]");
  }
  if (s.vms < 2 * s.threads) s.vms = 2 * s.threads;
  return s;
}

double CpuSeconds(const rusage& usage) {
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// The simulator in a process of its own, so that its CPU is counted apart from the client's.
class SimulatorProcess {
 public:
  SimulatorProcess(const Settings& settings, const std::string& dir) : errors_(dir + "/sim.err") {
    const std::string passwordFile = dir + "/password";
    std::ofstream(passwordFile) << kPassword << "\n";
    caFile_ = dir + "/ca.pem";
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err >= 0) dup2(err, STDERR_FILENO);
      close(out[0]);
      const std::string vms = std::to_string(settings.vms);
      execl(settings.simulator.c_str(), settings.simulator.c_str(), "--generation", "4.2", "--vms",
            vms.c_str(), "--polls", "1", "--delay-ms", "0", "--password-file", passwordFile.c_str(),
            "--ca-out", caFile_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("listening on", 0) != 0 || colon == std::string::npos) {
      throw std::runtime_error("the simulator did not start: " + line);
    }
    port_ = line.substr(colon + 1);
  }
  ~SimulatorProcess() { Stop(); }

  std::string Server() const { return "localhost:" + port_; }
  const std::string& CaFile() const { return caFile_; }
  // Stops it; its CPU seconds and what it said of its work ("engine logins: ...").
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    rusage usage{};
    if (wait4(pid_, &status, 0, &usage) == pid_) cpuSeconds_ = CpuSeconds(usage);
    pid_ = -1;
    std::ifstream errors(errors_);
    for (std::string line; std::getline(errors, line);) {
      if (line.rfind("engine logins:", 0) == 0) work_ = line;
    }
  }
  double CpuSecondsUsed() const { return cpuSeconds_; }
  const std::string& Work() const { return work_; }

 private:
  std::string errors_;
  std::string caFile_;
  std::string port_;
  pid_t pid_ = -1;
  double cpuSeconds_ = 0;
  std::string work_;
};

bool BackupCycle(Hypervale::TzHypervale& hv, const std::string& vmName,
                 const std::string& proxyName, unsigned cycle) {
  using namespace Hypervale;
  SVMInfoLib vm, proxy;
  if (!hv.getVMInfo(vmName, "", vm, 0x10) || !hv.getVMInfo(proxyName, "", proxy, 0)) return false;
  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_" + vm.name + "_load" + std::to_string(cycle) + "_1";
  std::string ovf;
  if (!hv.createVMSnapshot(vm, snapshot, ovf)) return false;
  bool ok = true;
  for (const SDiskInfoLib& source : vm.disks) {
    SDiskInfoLib disk;
    disk.id = source.id;
    disk.snapshotId = snapshot.id;
    ok = hv.attachDisk(proxy.id, disk, true, false, true) && ok;
  }
  ok = hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id) && ok;
  return hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id) && ok;
}

std::string VmName(unsigned number) {
  char name[16];
  std::snprintf(name, sizeof name, "vm%05u", number);
  return name;
}

}  // namespace

int main(int argc, char** argv) try {
  const Settings settings = ParseArgs(argc, argv);
  if (settings.header) {
    std::printf("%7s %5s %6s %6s %8s %9s %12s %9s %10s %9s  %s\n", "facades", "reuse", "ok",
                "failed", "seconds", "cycles/s", "CPU ms/cycle", "peak MiB", "fds/facade",
                "sim CPU s", "engine");
  }
  char dirTemplate[] = "/tmp/hv_load.XXXXXX";
  if (!mkdtemp(dirTemplate)) throw std::runtime_error("mkdtemp failed");
  SimulatorProcess simulator(settings, dirTemplate);

  Hypervale::InitializeXmlLibrary();
  Hypervale::SetLogThreshold(-1);
  Hypervale::SetConfigValue("VirtualServer", "sRhevCAFile", simulator.CaFile());
  Hypervale::SetConfigValue("VirtualServer", "nRHEVMAPISLEEPINTERVAL", "50");
  Hypervale::SetConfigValue("VirtualServer", "nRhevReuseConnections", settings.reuse);

  std::atomic<unsigned> ok{0}, failed{0};
  std::mutex mutex;
  std::condition_variable changed;
  unsigned atRest = 0;
  bool release = false;
  const size_t descriptorsBefore = OpenDescriptors();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < settings.threads; ++t) {
    threads.emplace_back([&, t] {
      {
        // Each facade backs up a VM of its own through a proxy of its own.
        Hypervale::TzHypervale hv;
        if (hv.connect(simulator.Server(), "admin", kPassword)) {
          for (unsigned k = 0; k < settings.cycles; ++k) {
            (BackupCycle(hv, VmName(2 * t + 1), VmName(2 * t + 2), k) ? ok : failed)++;
          }
        } else {
          failed += settings.cycles;
        }
        std::unique_lock<std::mutex> lock(mutex);
        ++atRest;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
      }
    });
  }
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return atRest == settings.threads; });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const double fdsPerFacade =
      (static_cast<double>(OpenDescriptors()) - static_cast<double>(descriptorsBefore)) /
      settings.threads;
  release = true;
  changed.notify_all();
  lock.unlock();
  for (std::thread& t : threads) t.join();
  Hypervale::TerminateXmlLibrary();
  simulator.Stop();
  for (const char* file : {"/password", "/ca.pem", "/sim.err"}) {
    std::remove((std::string(dirTemplate) + file).c_str());
  }
  rmdir(dirTemplate);

  const unsigned succeeded = ok.load();
  const double cpu = CpuSeconds(after) - CpuSeconds(before);
  std::printf("%7u %5s %6u %6u %8.2f %9.1f %12.1f %9.1f %10.1f %9.2f  %s\n", settings.threads,
              settings.reuse.c_str(), succeeded, failed.load(), seconds, succeeded / seconds,
              succeeded ? 1000.0 * cpu / succeeded : 0.0, after.ru_maxrss / 1024.0, fdsPerFacade,
              simulator.CpuSecondsUsed(), simulator.Work().c_str());
  return failed.load() == 0 ? 0 : 1;
} catch (const std::exception& e) {
  std::fprintf(stderr, "hv_load: %s\n", e.what());
  return 2;
}
