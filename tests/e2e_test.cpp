// End to end through the public facade only, against the engine simulator behaving like a real
// engine: for every generation one backup cycle, one restore, one storage-domain lifecycle and
// one disk migration, and once that a request which cannot be written is never sent. Other
// faults run against scripted engines, where each can be set up alone.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "engine_simulator/engine_simulator.h"
#include "hypervale/hypervale.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

const char kPassword[] = "e2e-Pa55word!";
constexpr UINT64 kVmDisks = 0x10;

class EndToEnd : public ::testing::Test {
 protected:
  // `adjust`, when given, changes the simulator's options before it starts.
  void startEngine(const std::string& generation,
                   const std::function<void(hvsim::SimulatorOptions&)>& adjust = nullptr) {
    hvsim::SimulatorOptions options;
    options.generation = generation;
    if (adjust) adjust(options);
    options.seedFile = std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed";
    options.server.password = kPassword;
    options.clock = clock.source();
    sim = std::make_unique<hvsim::EngineSimulator>(options);
    config.set("sRhevCAFile", sim->engine().caFile())
        .set("nRHEVMAPISLEEPINTERVAL", "1000")
        .set("nRHEVMAPIRETRYCT", "10")
        .set("nRhevStallTimeoutSec", "5");
    ASSERT_TRUE(hv.connect("localhost:" + std::to_string(sim->port()), "admin", kPassword))
        << logs.all();
  }

  void TearDown() override {
    const std::string logged = logs.all();
    EXPECT_EQ(logged.find(kPassword), std::string::npos);
    for (const auto& r : sim ? sim->engine().requests() : std::vector<hvtest::Request>()) {
      for (const char* secret : {"Authorization", "Cookie", "Prefer"}) {
        EXPECT_TRUE(r.tls || !r.headers.has(secret))
            << secret << ": " << r.method << " " << r.target;
      }
      const std::string cookie = r.header("Cookie");
      const size_t value = cookie.find('=');
      if (value != std::string::npos) {
        EXPECT_EQ(logged.find(cookie.substr(value + 1)), std::string::npos)
            << "session cookie logged";
      }
    }
  }

  // Snapshot web01 with its OVF, hand its disks to the proxy, take them back, drop the
  // snapshot; `midway` runs between the snapshot and the attachments.
  void backupCycle(const std::function<void()>& midway = nullptr) {
    SVMInfoLib vm = vmNamed("web01", kVmDisks);  // "WEB01" exists too: exact names only
    ASSERT_EQ(vm.disks.size(), 2u);
    const SVMInfoLib proxy = vmNamed("proxy", 0);

    SSnapshotInfoLib snapshot;
    snapshot.description = "_QZ_BACKUP_web01_nightly_1";
    std::string ovf;
    ASSERT_TRUE(hv.createVMSnapshot(vm, snapshot, ovf)) << logs.all();
    if (midway) midway();
    EXPECT_NE(ovf.find("<TemplateId>"), std::string::npos) << "a backup needs the VM's OVF";
    EXPECT_TRUE(hv.checkSnapshotExistence(vm.id, snapshot.id));

    std::set<std::string> deviceNames;
    for (const auto& vmDisk : vm.disks) {
      SDiskInfoLib disk;  // as in the README: no interface named
      disk.id = vmDisk.id;
      disk.snapshotId = snapshot.id;
      ASSERT_TRUE(hv.attachDisk(proxy.id, disk, true, false, true)) << logs.all();
      ASSERT_TRUE(hv.getLogicalDiskName(proxy.id, disk.id, disk)) << logs.all();
      deviceNames.insert(disk.logicalName);
    }
    // The proxy boots from /dev/vda; the snapshot's disks come after it.
    EXPECT_EQ(deviceNames, (std::set<std::string>{"/dev/vdb", "/dev/vdc"}));

    ASSERT_TRUE(hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id)) << logs.all();
    EXPECT_EQ(sim->vm(proxy.id)->attachments.size(), 1u);
    EXPECT_EQ(sim->vm(vm.id)->attachments.size(), 2u) << "the source VM lost a disk";
    ASSERT_TRUE(hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id)) << logs.all();
    EXPECT_FALSE(hv.checkSnapshotExistence(vm.id, snapshot.id));
  }

  SVMInfoLib vmNamed(const std::string& name, UINT64 mask) {
    SVMInfoLib vm;
    EXPECT_TRUE(hv.getVMInfo(name, "", vm, mask)) << name << "\n" << logs.all();
    return vm;
  }

  // The simulator's clock moves by what the library asks to sleep: polling without pausing
  // finishes nothing.
  hvsim::ManualClock clock;
  hvtest::SleepRecorder sleeps{
      [this](unsigned long ms) { clock.advance(std::chrono::milliseconds(ms)); }};
  hvtest::ConfigScope config;
  hvtest::LogCapture logs;
  std::unique_ptr<hvsim::EngineSimulator> sim;
  TzHypervale hv;
};

class EveryGeneration : public EndToEnd, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override { startEngine(GetParam()); }
  // Whatever a case does, one facade costs the engine one login.
  void TearDown() override {
    EndToEnd::TearDown();
    if (sim) {
      EXPECT_EQ(sim->sessionStats().logins, 1u) << hvsim::describe(sim->sessionStats());
    }
  }
};

// --- Per generation -------------------------------------------------------------------------

TEST_P(EveryGeneration, BackupCycle) { backupCycle(); }

TEST_P(EveryGeneration, RestoreNextToTheSource) {
  const SVMInfoLib source = vmNamed("web01", 0);
  SVMInfoLib restored;
  restored.name = "web01-restored";
  restored.clusterName = "Default";
  // The OVF of the regular snapshot the seed gives the VM, as the engine keeps it.
  ASSERT_TRUE(hv.createVM(restored, sim->vm(source.id)->snapshots.at(1).ovf)) << logs.all();
  EXPECT_NE(restored.id, source.id);
  EXPECT_TRUE(hv.checkVMExistence(source.id));

  SDiskInfoLib disk;
  disk.name = "web01-restored_Disk1";
  disk.provisionedSize = 1ULL << 30;
  disk.format = "cow";
  disk.interface = "virtio";
  disk.storageDomainName = "data1";
  ASSERT_TRUE(hv.createDisk(disk)) << logs.all();
  EXPECT_TRUE(hv.checkDiskExistence(disk.id));
  ASSERT_TRUE(hv.attachDisk(restored.id, disk, true, true, false)) << logs.all();
  ASSERT_TRUE(hv.addNicToVM(restored.id, "ovirtmgmt")) << logs.all();
  ASSERT_TRUE(hv.changePowerState(restored, 1)) << logs.all();
  EXPECT_EQ(sim->vm(restored.id)->status, "up");
  EXPECT_TRUE(sim->vm(restored.id)->attachments.at(0).active) << "it runs without its disk";
  ASSERT_TRUE(hv.changePowerState(restored, 0)) << logs.all();
  ASSERT_TRUE(hv.deleteVM(restored.name, restored.id)) << logs.all();
  EXPECT_FALSE(hv.checkVMExistence(restored.id));
}

TEST_P(EveryGeneration, StorageDomainLifecycle) {
  SStorageDomainInfoLib domain;
  domain.name = "hv-scratch";
  domain.dataCenterName = "Default";
  domain.hostName = "host1";
  domain.type = "data";
  domain.storageType = "nfs";
  domain.storageAddress = "nfs.example.com";
  domain.storagePath = "/exports/hv-scratch";
  ASSERT_TRUE(hv.createStorageDomain(domain)) << logs.all();
  bool exists = false;
  bool active = false;
  ASSERT_TRUE(hv.DoesStorageDomainExist("Default", "hv-scratch", exists, active));
  EXPECT_TRUE(exists && active);

  SStorageDomainInfoLib data1 = domain;  // holds disks: stays
  data1.name = "data1";
  bool empty = true;
  ASSERT_TRUE(hv.deleteStorageDomain(data1, empty));
  EXPECT_FALSE(empty);
  EXPECT_TRUE(sim->storageDomain(sim->idOf(hvsim::Kind::StorageDomain, "data1")));
  ASSERT_TRUE(hv.deleteStorageDomain(domain, empty)) << logs.all();
  EXPECT_TRUE(empty);
  EXPECT_TRUE(sim->idOf(hvsim::Kind::StorageDomain, "hv-scratch").empty());
}

TEST_P(EveryGeneration, DiskMigrationFollowedToCompletion) {
  // The proxy runs: the engine moves its disk live, behind a snapshot of its own.
  SVMInfoLib vm = vmNamed("proxy", kVmDisks);
  ASSERT_EQ(vm.disks.size(), 1u);
  ASSERT_TRUE(hv.moveDisks(vm.id, vm.disks, "data2", true)) << logs.all();
  bool completed = false;
  bool failed = false;
  for (int check = 0; check < 10 && !completed && !failed; ++check) {
    ASSERT_TRUE(hv.CheckTaskProgress(vm.id, "data1", "data2", vm.disks, false, completed, failed))
        << logs.all();
    clock.advance(std::chrono::seconds(1));  // the agent's own pause between checks
  }
  EXPECT_TRUE(completed && !failed);
  EXPECT_EQ(sim->disk(vm.disks[0].id)->storageDomainId,
            sim->idOf(hvsim::Kind::StorageDomain, "data2"));
}

// A failure names the generation as the test's parameter.
INSTANTIATE_TEST_SUITE_P(Generations, EveryGeneration,
                         ::testing::Values("3.6", "4.0.0", "4.0.1", "4.0.2", "4.1", "4.2", "4.3",
                                           "4.4", "4.5.0", "4.5.1"));

// Every field of a VM record and of its disks and snapshots, one per line.
std::string Dump(const SVMInfoLib& vm) {
  std::ostringstream out;
  auto base = [&out](const char* kind, const SBaseResourceInfoLib& r) {
    out << kind << " " << r.id << "|" << r.name << "|" << r.description << "|" << r.comment << "|"
        << r.href;
    for (const auto& [rel, href] : r.links) out << "|" << rel << "=" << href;
    out << "\n";
  };
  base("vm", vm);
  out << vm.hostName << "|" << vm.hostId << "|" << vm.hostHref << "|" << vm.clusterName << "|"
      << vm.clusterId << "|" << vm.clusterHref << "|" << vm.dataCenterName << "|" << vm.dataCenterId
      << "|" << vm.architecture << "|" << vm.sockets << "|" << vm.memory << "|"
      << vm.guestOsFullVersion << "|" << vm.osType << "|" << vm.fqdn << "|" << vm.status << "|"
      << vm.ovfData << "\n";
  for (const auto& p : vm.customProperties) out << "property " << p.name << "=" << p.value << "\n";
  for (const SDiskInfoLib& d : vm.disks) {
    base("disk", d);
    out << d.logicalName << "|" << d.imageId << "|" << d.snapshotId << "|" << d.snapshotHref << "|"
        << d.storageDomainName << "|" << d.storageDomainId << "|" << d.storageDomainHref << "|"
        << d.provisionedSize << "|" << d.actualSize << "|" << d.totalSize << "|" << d.status << "|"
        << d.format << "|" << d.interface << "|" << d.storageType << "|" << d.sparse << d.bootable
        << d.shareable << d.active << d.readOnly << d.wipeAfterDelete << "\n";
  }
  for (const SSnapshotInfoLib& s : vm.snapshots) {
    base("snapshot", s);
    out << s.snapshotType << "|" << s.date << "|" << s.snapshotStatus << "|" << s.ovfData << "\n";
  }
  return out.str();
}

// From 4.2 the walks that want each VM's disks or snapshots have them put inline ("follow")
// and give the same records, field for field, as one request per object, which the
// configuration can still choose and earlier engines always get.
class FollowedWalks : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(FollowedWalks, GiveTheRecordsOfOneRequestPerObject) {
  startEngine(GetParam());
  const bool follows = std::string(GetParam()) >= "4.2";
  const std::string webId = vmNamed("web01", 0).id;
  constexpr UINT64 kSnapshots = 0x8, kDataCenter = 0x1, kClusterVms = 0x10000000000000;
  const std::vector<std::pair<const char*, std::function<bool(std::string&)>>> walks = {
      {"VM list",
       [&](std::string& dump) {
         std::vector<SVMInfoLib> vms;
         const bool ok = hv.getVMInfoList(vms, kVmDisks | kSnapshots);
         for (const auto& vm : vms) dump += Dump(vm);
         return ok;
       }},
      {"one VM",
       [&](std::string& dump) {
         SVMInfoLib vm;
         const bool ok = hv.getVMInfo("", webId, vm, kVmDisks | kSnapshots | kDataCenter);
         dump = Dump(vm);
         return ok;
       }},
      {"one VM by name",
       [&](std::string& dump) {
         SVMInfoLib vm;
         const bool ok = hv.getVMInfo("web01", "", vm, kVmDisks);
         dump = Dump(vm);
         return ok;
       }},
      {"each disk of a VM",
       [&](std::string& dump) {
         SVMInfoLib holder;
         bool ok = true;
         const auto attachments = sim->vm(webId)->attachments;
         for (const auto& attachment : attachments) {
           SDiskInfoLib disk;
           ok = hv.getDiskInfoForVM(webId, attachment.diskId, disk) && ok;
           holder.disks.push_back(disk);
         }
         dump = Dump(holder);
         return ok;
       }},
      {"VMs of each cluster",
       [&](std::string& dump) {
         std::vector<SClusterInfoLib> clusters;
         const bool ok = hv.getClusterInfoList(clusters, kClusterVms | kVmDisks);
         for (const auto& cluster : clusters) {
           for (const auto& vm : cluster.vms) dump += Dump(vm);
         }
         return ok;
       }},
  };
  for (const auto& [name, walk] : walks) {
    SCOPED_TRACE(name);
    std::string dumps[2];
    size_t requests[2] = {0, 0};
    size_t perObject[2] = {0, 0};
    for (const int follow : {1, 0}) {
      config.set("nRhevFollowLinks", std::to_string(follow));
      sim->engine().clearRequests();
      ASSERT_TRUE(walk(dumps[follow])) << logs.all();
      for (const auto& r : sim->engine().requests()) {
        EXPECT_EQ(r.target.find("follow="),
                  follows && follow ? r.target.find("follow=") : std::string::npos);
        const bool oneObject = (r.target.find("/diskattachments") != std::string::npos ||
                                r.target.find("/snapshots") != std::string::npos ||
                                r.target.find("/disks/") != std::string::npos) &&
                               r.target.find("follow=") == std::string::npos;
        perObject[follow] += oneObject ? 1 : 0;
        ++requests[follow];
      }
    }
    EXPECT_EQ(dumps[1], dumps[0]);
    EXPECT_NE(dumps[1].find("\ndisk "), std::string::npos) << "the walk read no disk";
    if (follows) {
      EXPECT_EQ(perObject[1], 0u) << "followed walks read no object on its own";
      EXPECT_LT(requests[1], requests[0]);
    } else {
      EXPECT_EQ(perObject[1], perObject[0]);
      EXPECT_GT(perObject[1], 0u);
    }
  }
  EXPECT_NE(Dump(vmNamed("web01", kSnapshots)).find("\nsnapshot "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Generations, FollowedWalks, ::testing::Values("4.1", "4.2", "4.5.1"));

// A snapshot whose storage work outlasts the library's status wait (11 reads a second apart
// here) is followed to its end: from 4.2 through the job the engine finds by the request's
// correlation id, before that by the snapshot's status, both bounded by nRhevJobMaxWaitSec.
// Row: generation, description, how the engine's work ends, whether the snapshot is created.
using SnapshotRow = std::tuple<const char*, const char*, const char*, bool>;
class SnapshotFollowedToItsEnd : public EndToEnd,
                                 public ::testing::WithParamInterface<SnapshotRow> {};

TEST_P(SnapshotFollowedToItsEnd, WhateverItTakes) {
  const auto& [generation, description, ending, created] = GetParam();
  config.set("nRhevJobMaxWaitSec", "600");
  startEngine(generation, [](hvsim::SimulatorOptions& options) {
    options.timing.snapshotCreate = hvsim::Delay{1, std::chrono::minutes(5)};
  });
  const std::string end = ending;
  if (end == "failed" || end == "aborted")
    sim->failTasks(hvsim::FailingTask::SnapshotCreate, 1, end);
  if (end == "locked") sim->setSnapshotsStayLocked(true);
  SVMInfoLib vm = vmNamed("web01", 0);
  SSnapshotInfoLib snapshot;
  snapshot.description = description;
  std::string ovf;
  EXPECT_EQ(hv.createVMSnapshot(vm, snapshot, ovf), created) << logs.all();
  if (created) {
    EXPECT_NE(ovf.find("<TemplateId>"), std::string::npos);
  }
  if (end == "locked") {
    EXPECT_TRUE(logs.containsError("Snapshot [" + snapshot.id + "] of VM [" + vm.id + "]"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Generations, SnapshotFollowedToItsEnd,
    ::testing::Values(SnapshotRow{"4.2", "_QZ_BACKUP_web01_nightly_1", "ok", true},
                      // The engine keeps only [0-9a-zA-Z_-] of a correlation id.
                      SnapshotRow{"4.5.1", "_QZ_BACKUP_web01_night.ly full_1", "ok", true},
                      SnapshotRow{"4.1", "_QZ_BACKUP_web01_nightly_1", "ok", true},
                      SnapshotRow{"4.2", "_QZ_BACKUP_web01_nightly_1", "failed", false},
                      SnapshotRow{"4.5.0", "_QZ_BACKUP_web01_nightly_1", "aborted", false},
                      SnapshotRow{"4.1", "_QZ_BACKUP_web01_nightly_1", "locked", false}));

// Engines answer an unknown id with a bare 404: the last error still names what was asked.
TEST_F(EndToEnd, UnknownIdIsNamedInTheLastError) {
  startEngine("4.1");
  const std::string missing = "0badc0de-0000-4000-8000-000000000000";
  SVMInfoLib vm;
  EXPECT_FALSE(hv.getVMInfo("", missing, vm, 0));
  EXPECT_NE(hv.getLastError().find(missing), std::string::npos) << hv.getLastError();
}

// After a 401 the re-connect's own answer (a 404 from the API root while the engine restarts)
// is no "not found" of the resource: no delete reports an object that exists as gone.
TEST_F(EndToEnd, DeletesAfterAFailedReconnectFail) {
  startEngine("4.2");
  const std::string server = "localhost:" + std::to_string(sim->port());
  const SVMInfoLib web01 = vmNamed("web01", 0);
  SSnapshotInfoLib seeded;
  seeded.id = sim->vm(web01.id)->snapshots.at(1).id;
  SDiskInfoLib floating;
  floating.id = sim->idOf(hvsim::Kind::Disk, "floating");
  SStorageDomainInfoLib spare;  // empty, so the delete goes as far as destroying it
  spare.name = "spare";
  spare.hostName = "host1";
  const std::string spareId = sim->idOf(hvsim::Kind::StorageDomain, "spare");
  bool flag = false;
  // Each delete, the request of it that gets the 401, and how many of those pass before.
  using Delete = std::tuple<const char*, std::string, unsigned, std::function<bool()>>;
  const Delete deletes[] = {
      {"deleteVM", "/ovirt-engine/api/vms/*", 0,
       [&] { return hv.deleteVM("WEB01", sim->idOf(hvsim::Kind::Vm, "WEB01")); }},
      {"deleteDisk", "/ovirt-engine/api/disks/*", 0, [&] { return hv.deleteDisk(floating); }},
      {"deleteVMSnapshot", "/ovirt-engine/api/vms/" + web01.id + "/snapshots/" + seeded.id, 0,
       [&] { return hv.deleteVMSnapshot(web01, seeded, flag); }},
      // The removal's own read of the domain, after the emptiness check.
      {"deleteStorageDomain", "/ovirt-engine/api/storagedomains/" + spareId, 0,
       [&] { return hv.deleteStorageDomain(spare, flag); }},
  };
  for (const auto& [name, refused, passing, remove] : deletes) {
    SCOPED_TRACE(name);
    hvsim::Fault pass, expired, restarting;
    pass.kind = hvsim::Fault::Kind::Slow;  // the real answer, at once
    expired.status = 401;
    restarting.status = 404;
    if (passing) sim->injectFault("GET", refused, pass, passing);
    sim->injectFault("*", refused, expired);
    sim->injectFault("GET", "/ovirt-engine/api", restarting);
    EXPECT_FALSE(remove());
    EXPECT_EQ(sim->pendingFaults(), 0u);
    ASSERT_TRUE(hv.connect(server, "admin", kPassword));
  }
  EXPECT_TRUE(sim->vm(sim->idOf(hvsim::Kind::Vm, "WEB01")));
  EXPECT_TRUE(sim->disk(floating.id));
  EXPECT_EQ(sim->vm(web01.id)->snapshots.size(), 2u);
  EXPECT_TRUE(sim->storageDomain(spareId));

  // The VM read of a snapshot delete answered 409 (the VM locked) is a conflict too.
  sim->conflictBurst("GET", "/ovirt-engine/api/vms/" + web01.id, 4);
  bool conflict = false;
  EXPECT_FALSE(hv.deleteVMSnapshot(web01, seeded, conflict));
  EXPECT_TRUE(conflict);
}

TEST_F(EndToEnd, RequestsThatCannotBeWrittenAreNotSent) {
  startEngine("4.1");
  SVMInfoLib vm;
  vm.name = std::string("cut\0off", 7);
  vm.clusterId = sim->idOf(hvsim::Kind::Cluster, "Default");  // nothing to read first
  EXPECT_FALSE(hv.createVM(vm));
  EXPECT_EQ(sim->engine().requestCount("POST", "/ovirt-engine/api/vms"), 0u);
  vm.name = "clean";
  EXPECT_TRUE(hv.createVM(vm)) << logs.all();
}

// --- Engine sessions: what the library costs the engine in logins --------------------------

class LoginsPerFacade : public EndToEnd,
                        public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(LoginsPerFacade, OneLoginForAWholeLifetimeUnlessSwitchedOff) {
  const bool keepSession = std::get<1>(GetParam());
  config.set("nRhevPersistentAuth", keepSession ? "1" : "0");
  startEngine(std::get<0>(GetParam()));
  const std::string web01 = sim->idOf(hvsim::Kind::Vm, "web01");
  for (int read = 0; read < 200; ++read) ASSERT_TRUE(hv.checkVMExistence(web01));
  backupCycle();
  const hvsim::SessionStats stats = sim->sessionStats();
  if (keepSession) {
    EXPECT_EQ(stats.logins, 1u) << hvsim::describe(stats);
    EXPECT_EQ(stats.liveSessions, 1u);
  } else {
    EXPECT_EQ(stats.logins, stats.totalRequests()) << hvsim::describe(stats);
  }
  EXPECT_GT(stats.totalRequests(), 200u);
  if (!keepSession) return;
  // A facade dropped, or connected again, ends its engine session; ending one is no login.
  const std::string server = "localhost:" + std::to_string(sim->port());
  {
    TzHypervale brief;
    ASSERT_TRUE(brief.connect(server, "admin", kPassword));
    EXPECT_EQ(sim->sessionStats().liveSessions, 2u);
  }
  EXPECT_EQ(sim->sessionStats().liveSessions, 1u);
  ASSERT_TRUE(hv.connect(server, "admin", kPassword));
  EXPECT_EQ(sim->sessionStats().liveSessions, 1u);
  EXPECT_EQ(sim->sessionStats().logins, 3u);
}

INSTANTIATE_TEST_SUITE_P(Generations, LoginsPerFacade,
                         ::testing::Combine(::testing::Values("3.6", "4.1", "4.3", "4.5"),
                                            ::testing::Bool()));

TEST_F(EndToEnd, SessionThatRunsOutOfIdleTimeIsReplacedByOneLogin) {
  startEngine("4.5");
  backupCycle([this] { sim->expireSessions(); });
  EXPECT_EQ(sim->sessionStats().logins, 2u);
  EXPECT_TRUE(logs.contains("logged in to [localhost:" + std::to_string(sim->port()) + "] again"));
}

TEST_F(EndToEnd, EngineThatKeepsNoSessionIsUsedWithBasicOnEveryRequest) {
  startEngine("4.1",
              [](hvsim::SimulatorOptions& options) { options.sessions.persistentAuth = false; });
  backupCycle();
  size_t warnings = 0;
  for (const std::string& line : logs.errors())
    warnings += line.find("kept no session") != std::string::npos;
  EXPECT_EQ(warnings, 1u);
  EXPECT_EQ(sim->sessionStats().logins, sim->sessionStats().totalRequests());
}

TEST_F(EndToEnd, CreationRefusedWithA401IsSentOnceMoreAfterANewLogin) {
  startEngine("4.2");
  hvsim::Fault expired;
  expired.status = 401;
  sim->injectFault("POST", "/ovirt-engine/api/vms", expired);
  SVMInfoLib vm;
  vm.name = "once";
  vm.clusterName = "Default";
  ASSERT_TRUE(hv.createVM(vm)) << logs.all();
  EXPECT_EQ(sim->engine().requestCount("POST", "/ovirt-engine/api/vms"), 2u);
  size_t named = 0;
  sim->withInventory([&](hvsim::Inventory& inventory) {
    for (const auto& found : inventory.vms.items()) named += found->name == "once";
  });
  EXPECT_EQ(named, 1u);
  EXPECT_EQ(sim->sessionStats().logins, 2u);
}

TEST_F(EndToEnd, SessionEndTheEngineDoesNotAnswerChangesNothingForTheCaller) {
  startEngine("4.0.2");
  sim->dropConnections("GET", "/ovirt-engine/api", 1);  // the old session's end, at re-connect
  ASSERT_TRUE(hv.connect("localhost:" + std::to_string(sim->port()), "admin", kPassword))
      << logs.all();
  EXPECT_TRUE(logs.contains("not ended"));
  EXPECT_TRUE(hv.checkVMExistence(sim->idOf(hvsim::Kind::Vm, "web01")));
  EXPECT_EQ(sim->sessionStats().logins, 2u);
}

// --- Connections: what a facade keeps open at the engine's front end ----------------------

// Waits (boundedly) for the engine to see connections the client has closed.
size_t OpenConnectionsSettled(const hvtest::TestEngine& engine, size_t atMost) {
  for (int wait = 0; wait < 200 && engine.openConnections() > atMost; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return engine.openConnections();
}

TEST_F(EndToEnd, AFacadeKeepsAtMostTwoConnectionsAtRest) {
  startEngine("4.2");
  backupCycle();  // POSTs go over fresh connections of their own
  SVMInfoLib vm;
  vm.name = "rest";
  vm.clusterName = "Default";
  ASSERT_TRUE(hv.createVM(vm)) << logs.all();
  EXPECT_GT(sim->engine().acceptedConnections(), 2u);
  EXPECT_LE(OpenConnectionsSettled(sim->engine(), 2), 2u);
}

// A front end closes kept-alive connections left idle: the next requests go over new ones
// without failing.
TEST_F(EndToEnd, ConnectionsClosedWhileIdleAreReplaced) {
  startEngine("4.4", [](hvsim::SimulatorOptions& options) {
    options.server.idleTimeout = std::chrono::milliseconds(30);
  });
  const size_t before = sim->engine().acceptedConnections();
  backupCycle([this] { OpenConnectionsSettled(sim->engine(), 0); });
  EXPECT_EQ(OpenConnectionsSettled(sim->engine(), 0), 0u);
  EXPECT_GT(sim->engine().acceptedConnections(), before + 1);
}

TEST_F(EndToEnd, FacadesOnTwoThreadsKeepASessionEach) {
  startEngine("4.4");
  TzHypervale other;
  std::thread second([&] {
    EXPECT_TRUE(other.connect("localhost:" + std::to_string(sim->port()), "admin", kPassword));
    EXPECT_TRUE(other.checkVMExistence(sim->idOf(hvsim::Kind::Vm, "proxy")));
  });
  EXPECT_TRUE(hv.checkVMExistence(sim->idOf(hvsim::Kind::Vm, "web01")));
  second.join();
  EXPECT_EQ(sim->sessionStats().logins, 2u);
  EXPECT_EQ(sim->sessionStats().liveSessions, 2u);
}

}  // namespace
}  // namespace Hypervale
