// End to end through the public facade only, against the engine simulator behaving like a real
// engine: for every generation one backup cycle, one restore, one storage-domain lifecycle and
// one disk migration; then one case per fault a real engine exposes in the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine_simulator/engine_simulator.h"
#include "hypervale/hypervale.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

const char kPassword[] = "e2e-Pa55word!";
constexpr UINT64 kVmDisks = 0x10;
const char kApi[] = "/ovirt-engine/api/";

class EndToEnd : public ::testing::Test {
 protected:
  void startEngine(const std::string& generation) {
    hvsim::SimulatorOptions options;
    options.generation = generation;
    options.seedFile = std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed";
    options.server.password = kPassword;
    options.clock = clock.source();
    sim = std::make_unique<hvsim::EngineSimulator>(options);
    config.set("sRhevCAFile", sim->engine().caFile())
        .set("nRHEVMAPISLEEPINTERVAL", "1000")
        .set("nRHEVMAPIRETRYCT", "10")
        .set("nRhevStallTimeoutSec", "5");
    ASSERT_TRUE(hv.connect(server(), "admin", kPassword)) << logs.all();
  }

  void TearDown() override {
    EXPECT_EQ(logs.all().find(kPassword), std::string::npos);
    for (const auto& r : sim ? sim->engine().requests() : std::vector<hvtest::Request>()) {
      EXPECT_TRUE(r.tls || !r.headers.has("Authorization")) << r.method << " " << r.target;
    }
  }

  std::string server() const { return "localhost:" + std::to_string(sim->port()); }

  SVMInfoLib vmNamed(const std::string& name, UINT64 mask) {
    SVMInfoLib vm;
    EXPECT_TRUE(hv.getVMInfo(name, "", vm, mask)) << name << "\n" << logs.all();
    return vm;
  }

  // The regular snapshot the seed gives a VM, as the engine keeps it.
  hvsim::Snapshot seededSnapshot(const std::string& vmName) {
    std::optional<hvsim::Vm> vm = sim->vm(sim->idOf(hvsim::Kind::Vm, vmName));
    EXPECT_TRUE(vm && vm->snapshots.size() > 1) << vmName;
    return vm && vm->snapshots.size() > 1 ? vm->snapshots[1] : hvsim::Snapshot();
  }

  // Requests whose path holds `part`, answered `status` (0: any).
  size_t requests(const std::string& method, const std::string& part, int status = 0) const {
    size_t n = 0;
    for (const auto& r : sim->engine().requests()) {
      n += r.method == method && r.path.find(part) != std::string::npos &&
           (status == 0 || r.status == status);
    }
    return n;
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
};

// --- Per generation -------------------------------------------------------------------------

TEST_P(EveryGeneration, BackupCycle) {
  SVMInfoLib vm = vmNamed("web01", kVmDisks);  // "WEB01" exists too: exact names only
  ASSERT_EQ(vm.disks.size(), 2u);
  const SVMInfoLib proxy = vmNamed("proxy", 0);

  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_web01_nightly_1";
  std::string ovf;
  ASSERT_TRUE(hv.createVMSnapshot(vm, snapshot, ovf)) << logs.all();
  EXPECT_NE(ovf.find("<TemplateId>"), std::string::npos) << "a backup needs the VM's OVF";

  std::set<std::string> deviceNames;
  for (const auto& vmDisk : vm.disks) {
    SDiskInfoLib disk;  // as in the README: no interface named
    disk.id = vmDisk.id;
    disk.snapshotId = snapshot.id;
    ASSERT_TRUE(hv.attachDisk(proxy.id, disk, true, false, true)) << logs.all();
    SDiskInfoLib attached;
    ASSERT_TRUE(hv.getLogicalDiskName(proxy.id, disk.id, attached)) << logs.all();
    deviceNames.insert(attached.logicalName);
  }
  // The proxy boots from /dev/vda; the snapshot's disks come after it.
  EXPECT_EQ(deviceNames, (std::set<std::string>{"/dev/vdb", "/dev/vdc"}));

  ASSERT_TRUE(hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id)) << logs.all();
  EXPECT_EQ(sim->vm(proxy.id)->attachments.size(), 1u);
  EXPECT_EQ(sim->vm(vm.id)->attachments.size(), 2u) << "the source VM lost a disk";
  ASSERT_TRUE(hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id)) << logs.all();
  EXPECT_FALSE(hv.checkSnapshotExistence(vm.id, snapshot.id));
}

TEST_P(EveryGeneration, RestoreNextToTheSource) {
  const SVMInfoLib source = vmNamed("web01", 0);
  SVMInfoLib restored;
  restored.name = "web01-restored";
  restored.clusterName = "Default";
  ASSERT_TRUE(hv.createVM(restored, seededSnapshot("web01").ovf)) << logs.all();
  EXPECT_NE(restored.id, source.id);
  EXPECT_TRUE(hv.checkVMExistence(source.id));

  SDiskInfoLib disk;
  disk.name = "web01-restored_Disk1";
  disk.provisionedSize = 1ULL << 30;
  disk.format = "cow";
  disk.interface = "virtio";
  disk.storageDomainId = sim->idOf(hvsim::Kind::StorageDomain, "data1");
  disk.storageDomainName = "data1";
  ASSERT_TRUE(hv.createDisk(disk)) << logs.all();
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

  SStorageDomainInfoLib data1;  // holds disks: stays
  data1.name = "data1";
  data1.hostName = "host1";
  data1.dataCenterName = "Default";
  bool empty = true;
  ASSERT_TRUE(hv.deleteStorageDomain(data1, empty));
  EXPECT_FALSE(empty);
  EXPECT_TRUE(sim->storageDomain(sim->idOf(hvsim::Kind::StorageDomain, "data1")));

  SStorageDomainInfoLib scratch = data1;
  scratch.name = "hv-scratch";
  ASSERT_TRUE(hv.deleteStorageDomain(scratch, empty)) << logs.all();
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

INSTANTIATE_TEST_SUITE_P(Generations, EveryGeneration,
                         ::testing::Values("3.6", "4.0.0", "4.0.1", "4.0.2", "4.1", "4.2"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = std::string("v") + info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// --- Backups and restores -------------------------------------------------------------------

TEST_F(EndToEnd, DeviceNameIsTheProxysNeverTheSources) {
  startEngine("4.0.1");  // a VM lists its disks with their device names
  const SVMInfoLib proxy = vmNamed("proxy", 0);
  const SVMInfoLib source = vmNamed("web01", kVmDisks);
  SDiskInfoLib disk;  // read from the source, which calls it /dev/vda
  ASSERT_TRUE(hv.getDiskInfoForVM(source.id, source.disks.at(0).id, disk)) << logs.all();
  ASSERT_EQ(disk.logicalName, "/dev/vda");
  disk.snapshotId = seededSnapshot("web01").id;
  sim->setGuestAgent(proxy.id, false);  // the proxy reports no device names
  ASSERT_TRUE(hv.attachDisk(proxy.id, disk, true, false, true)) << logs.all();
  EXPECT_FALSE(hv.getLogicalDiskName(proxy.id, disk.id, disk)) << disk.logicalName;
}

TEST_F(EndToEnd, ActivationOfADiskTheVmDoesNotListFails) {
  startEngine("4.0.1");
  const SVMInfoLib proxy = vmNamed("proxy", 0);
  const SVMInfoLib source = vmNamed("web01", kVmDisks);
  const std::string snapshotId = seededSnapshot("web01").id;
  for (bool listed : {true, false}) {
    SCOPED_TRACE(listed ? "listed" : "not listed");
    SDiskInfoLib disk;
    ASSERT_TRUE(hv.getDiskInfoForVM(source.id, source.disks.at(listed ? 0 : 1).id, disk));
    disk.snapshotId = snapshotId;
    // Another client detaches the disk as soon as it is plugged: the VM no longer lists it.
    if (!listed) {
      sim->engine().answer("GET", kApi + std::string("vms/") + proxy.id + "/disks",
                           hvtest::Answer::xml(200, "<disks/>"));
    }
    EXPECT_EQ(hv.attachDisk(proxy.id, disk, true, false, true), listed) << logs.all();
  }
}

TEST_F(EndToEnd, V3DiskUpdateKeepsWhatItDoesNotChange) {
  startEngine("3.6");
  const std::string vmId = sim->idOf(hvsim::Kind::Vm, "WEB01");
  SDiskInfoLib flags;
  flags.id = sim->idOf(hvsim::Kind::Disk, "WEB01_Disk1");
  flags.bootable = true;
  flags.shareable = true;
  ASSERT_TRUE(hv.updateDisk(vmId, flags)) << logs.all();
  const hvsim::Disk disk = *sim->disk(flags.id);
  EXPECT_EQ(disk.name, "WEB01_Disk1");
  EXPECT_EQ(disk.format, "cow");
  EXPECT_TRUE(disk.shareable);
  EXPECT_EQ(sim->vm(vmId)->attachments.at(0).interface, "virtio");
}

TEST_F(EndToEnd, FailedEngineTasksAreNoSuccess) {
  startEngine("4.1");
  config.set("nRhevJobMaxWaitSec", "60");
  const SVMInfoLib vm = vmNamed("web01", 0);
  const std::string snapshotId = seededSnapshot("web01").id;
  // An aborted job is an end: the wait stops at once, and the snapshot stays.
  hvsim::Timing timing = sim->timing();
  timing.snapshotRemove = hvsim::Delay::instant();
  sim->setTiming(timing);
  sim->failTasks(hvsim::FailingTask::SnapshotRemove, 1, "aborted");
  EXPECT_FALSE(hv.deleteVMSnapshot(vm.name, vm.id, snapshotId));
  EXPECT_LE(requests("GET", std::string(kApi) + "jobs/"), 2u);
  EXPECT_TRUE(hv.checkSnapshotExistence(vm.id, snapshotId));
  // An answer that names no job leaves the wait for the snapshot to go.
  sim->setTiming(hvsim::Timing());
  sim->setActionsNameNoJob(true);
  EXPECT_TRUE(hv.deleteVMSnapshot(vm.name, vm.id, snapshotId)) << logs.all();
  EXPECT_FALSE(hv.checkSnapshotExistence(vm.id, snapshotId));

  sim->failTasks(hvsim::FailingTask::DiskCreate, 1);
  SDiskInfoLib disk;
  disk.name = "broken";
  disk.provisionedSize = 1ULL << 30;
  disk.format = "cow";
  disk.storageDomainName = "data1";
  EXPECT_FALSE(hv.createDisk(disk));
}

// --- Storage domains and disk migration -----------------------------------------------------

TEST_F(EndToEnd, StorageDomainsAreJudgedInTheirDataCenter) {
  startEngine("4.1");
  // An attached domain without disks, active in its data center.
  std::string emptyId;
  sim->withInventory([&](hvsim::Inventory& inventory) {
    hvsim::StorageDomain domain;
    domain.id = emptyId = inventory.newId(hvsim::IdKind::StorageDomain);
    domain.name = "empty";
    domain.dataCenterId = inventory.dataCenters.findByName("Default")->id;
    domain.dataCenterStatus = "active";
    inventory.storageDomains.add(domain);
  });
  bool exists = false;
  bool active = false;
  ASSERT_TRUE(hv.DoesStorageDomainExist("", "data2", exists, active));
  EXPECT_TRUE(exists && active) << "an attached domain, asked without its data center";

  SStorageDomainInfoLib domain;
  domain.name = "empty";
  domain.hostName = "host1";
  bool empty = false;
  EXPECT_TRUE(hv.deleteStorageDomain(domain, empty)) << logs.all();
  EXPECT_FALSE(sim->storageDomain(emptyId)) << "the empty domain is removed";
  EXPECT_EQ(requests("DELETE", "storagedomains/", 409), 0u) << "an active domain was destroyed";

  // Existing but attached to no data center: not "gone" from the one named.
  domain.name = "spare";
  domain.dataCenterName = "Default";
  EXPECT_FALSE(hv.deleteStorageDomain(domain, empty));
  EXPECT_TRUE(sim->storageDomain(sim->idOf(hvsim::Kind::StorageDomain, "spare")));
}

TEST_F(EndToEnd, MovingTheDisksOfAStoppedVm) {
  startEngine("4.1");
  const SVMInfoLib vm = vmNamed("WEB01", kVmDisks);  // down: no snapshot is taken
  ASSERT_TRUE(hv.moveDisks(vm.id, vm.disks, "data2", true)) << logs.all();
}

// --- Bodies that cannot be written ---------------------------------------------------------

TEST_F(EndToEnd, RequestsThatCannotBeWrittenAreNotSent) {
  startEngine("4.1");
  SVMInfoLib vm;
  vm.name = std::string("cut\0off", 7);
  vm.clusterId = sim->idOf(hvsim::Kind::Cluster, "Default");  // nothing to read first
  EXPECT_FALSE(hv.createVM(vm));
  {
    struct Uninitialised {
      Uninitialised() { TerminateXmlLibrary(); }
      ~Uninitialised() { InitializeXmlLibrary(); }
    } uninitialised;
    vm.name = "no-xml";
    EXPECT_FALSE(hv.createVM(vm));
  }
  EXPECT_EQ(requests("POST", "vms"), 0u);
  vm.name = "clean";
  EXPECT_TRUE(hv.createVM(vm)) << logs.all();
}

}  // namespace
}  // namespace Hypervale
