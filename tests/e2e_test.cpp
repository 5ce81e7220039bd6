// End to end through the public facade only, against the engine simulator, for every engine
// generation the library supports: backup, restore, storage domains, disk migration, faults.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine_simulator/engine_simulator.h"
#include "hypervale/hypervale.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

const char kPassword[] = "e2e-Pa55word!";
constexpr UINT64 kVmDisks = 0x10;
const char kZeroTemplate[] =
    "&lt;TemplateId&gt;00000000-0000-0000-0000-000000000000&lt;/TemplateId&gt;";

class EndToEndTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    hvsim::SimulatorOptions options;
    options.generation = GetParam();
    options.seedFile = std::string(HV_SIMULATOR_SEED_DIR) + "/example.seed";
    options.server.password = kPassword;
    options.timing = hvsim::Timing::uniform(hvsim::Delay::afterPolls(2));
    sim = std::make_unique<hvsim::EngineSimulator>(options);
    config.set("sRhevCAFile", sim->engine().caFile())
        .set("nRHEVMAPISLEEPINTERVAL", "1000")
        .set("nRHEVMAPIRETRYCT", "10")
        .set("nRhevStallTimeoutSec", "5");
    ASSERT_TRUE(hv.connect(server(), "admin", kPassword)) << logs.all();
  }

  void TearDown() override { EXPECT_EQ(logs.all().find(kPassword), std::string::npos); }

  std::string server() const { return "localhost:" + std::to_string(sim->port()); }
  bool atLeast402() const {
    const std::string g = GetParam();
    return g != "3.6" && g != "4.0.0" && g != "4.0.1";
  }

  SVMInfoLib vmNamed(const std::string& name, UINT64 mask) {
    SVMInfoLib vm;
    EXPECT_TRUE(hv.getVMInfo(name, "", vm, mask)) << name << "\n" << logs.all();
    return vm;
  }

  size_t requests(const std::string& method, const std::string& pathPart) const {
    size_t n = 0;
    for (const auto& r : sim->engine().requests()) {
      n += r.method == method && r.path.find(pathPart) != std::string::npos;
    }
    return n;
  }

  hvtest::ConfigScope config;
  hvtest::SleepRecorder sleeps;
  hvtest::LogCapture logs;
  std::unique_ptr<hvsim::EngineSimulator> sim;
  TzHypervale hv;
};

TEST_P(EndToEndTest, BackupCycle) {
  std::vector<SVMInfoLib> inventory;
  ASSERT_TRUE(hv.getVMInfoList(inventory, 0x1 | 0x8 | kVmDisks)) << logs.all();
  ASSERT_GE(inventory.size(), 3u);

  SVMInfoLib vm = vmNamed("web01", kVmDisks);  // "WEB01" exists too: exact names only
  ASSERT_EQ(vm.name, "web01");
  ASSERT_EQ(vm.disks.size(), 2u);
  const SVMInfoLib proxy = vmNamed("proxy", 0);
  EXPECT_EQ(hv.getMajorVersion(), GetParam()[0] == '3' ? 3u : 4u);

  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_web01_nightly_1";
  std::string ovf;
  ASSERT_TRUE(hv.createVMSnapshot(vm, snapshot, ovf)) << logs.all();
  EXPECT_FALSE(snapshot.id.empty());
  EXPECT_EQ(snapshot.snapshotType, "regular");
  EXPECT_NE(ovf.find("<TemplateId>"), std::string::npos);
  EXPECT_FALSE(hv.isVMLocked(vm.id));

  for (const auto& vmDisk : vm.disks) {
    SDiskInfoLib disk;
    disk.id = vmDisk.id;
    disk.snapshotId = snapshot.id;
    disk.interface = "virtio";
    ASSERT_TRUE(hv.attachDisk(proxy.id, disk, true, false, true)) << logs.all();
    SDiskInfoLib attached;
    ASSERT_TRUE(hv.getLogicalDiskName(proxy.id, disk.id, attached)) << logs.all();
    EXPECT_EQ(attached.logicalName.rfind("/dev/", 0), 0u) << attached.logicalName;
  }
  ASSERT_TRUE(hv.DetachSnappedDisksFromProxy(proxy.id, vm.id, snapshot.id)) << logs.all();
  if (atLeast402()) {
    for (const auto& vmDisk : vm.disks) EXPECT_FALSE(hv.IsDiskAttached(proxy.id, vmDisk.id));
  }
  ASSERT_TRUE(hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id)) << logs.all();
  EXPECT_FALSE(hv.checkSnapshotExistence(vm.id, snapshot.id));
  EXPECT_TRUE(hv.checkVMExistence(vm.id));
}

TEST_P(EndToEndTest, RestoreFromTheSnapshotsOvf) {
  SVMInfoLib source = vmNamed("web01", 0);
  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_web01_restore_1";
  std::string ovf;
  ASSERT_TRUE(hv.createVMSnapshot(source, snapshot, ovf)) << logs.all();

  SVMInfoLib restored;
  restored.name = "web01-restored";
  restored.clusterName = "Default";
  ASSERT_TRUE(hv.createVM(restored, ovf)) << logs.all();
  ASSERT_FALSE(restored.id.empty());
  bool zeroed = false;
  for (const auto& r : sim->engine().requests()) {
    if (r.method == "POST" && r.path == "/ovirt-engine/api/vms") {
      // The OVF travels as escaped text inside the VM document.
      zeroed = r.body.find(kZeroTemplate) != std::string::npos;
    }
  }
  EXPECT_TRUE(zeroed);

  SDiskInfoLib disk;
  disk.name = "web01-restored_Disk1";
  disk.provisionedSize = 1ULL << 30;
  disk.format = "cow";
  disk.interface = "virtio";
  disk.storageDomainId = sim->idOf(hvsim::Kind::StorageDomain, "data1");
  disk.storageDomainName = "data1";
  ASSERT_TRUE(hv.createDisk(disk)) << logs.all();
  ASSERT_FALSE(disk.id.empty());
  ASSERT_TRUE(hv.attachDisk(restored.id, disk, true, true, false)) << logs.all();
  ASSERT_TRUE(hv.addNicToVM(restored.id, "ovirtmgmt")) << logs.all();

  ASSERT_TRUE(hv.changePowerState(restored, 1)) << logs.all();
  EXPECT_EQ(sim->vm(restored.id)->status, "up");
  ASSERT_TRUE(hv.changePowerState(restored, 0)) << logs.all();
  EXPECT_EQ(sim->vm(restored.id)->status, "down");
  ASSERT_TRUE(hv.deleteVM(restored.name, restored.id)) << logs.all();
  EXPECT_FALSE(hv.checkVMExistence(restored.id));
  EXPECT_TRUE(hv.deleteVMSnapshot(source.name, source.id, snapshot.id)) << logs.all();
}

TEST_P(EndToEndTest, StorageDomainLifecycle) {
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

  // A domain holding a disk stays.
  SStorageDomainInfoLib data1;
  data1.name = "data1";
  data1.hostName = "host1";
  data1.dataCenterName = "Default";
  bool empty = true;
  ASSERT_TRUE(hv.deleteStorageDomain(data1, empty));
  EXPECT_FALSE(empty);
  EXPECT_TRUE(sim->storageDomain(sim->idOf(hvsim::Kind::StorageDomain, "data1")).has_value());

  SStorageDomainInfoLib scratch;
  scratch.name = "hv-scratch";
  scratch.hostName = "host1";
  scratch.dataCenterName = "Default";
  ASSERT_TRUE(hv.deleteStorageDomain(scratch, empty)) << logs.all();
  EXPECT_TRUE(empty);
  ASSERT_TRUE(hv.DoesStorageDomainExist("", "hv-scratch", exists, active));
  EXPECT_FALSE(exists);
}

TEST_P(EndToEndTest, DiskMigrationFollowedToCompletion) {
  // The proxy runs and has no snapshot of its own: the engine takes one per moved disk.
  SVMInfoLib vm = vmNamed("proxy", kVmDisks);
  ASSERT_EQ(vm.disks.size(), 1u);
  ASSERT_EQ(vm.disks[0].storageDomainName, "data1");
  ASSERT_TRUE(hv.moveDisks(vm.id, vm.disks, "data2", true)) << logs.all();
  bool completed = false;
  bool failed = false;
  for (int check = 0; check < 10 && !completed && !failed; ++check) {
    ASSERT_TRUE(hv.CheckTaskProgress(vm.id, "data1", "data2", vm.disks, false, completed, failed))
        << logs.all();
  }
  EXPECT_TRUE(completed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(sim->disk(vm.disks[0].id)->storageDomainId,
            sim->idOf(hvsim::Kind::StorageDomain, "data2"));
}

TEST_P(EndToEndTest, FaultsDuringABackup) {
  SVMInfoLib vm = vmNamed("web01", 0);
  // A storm of conflicts is waited out by the transport.
  sim->conflictBurst("POST", "/ovirt-engine/api/vms/" + vm.id + "/snapshots", 2);
  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_web01_restore_1";
  std::string ovf;
  ASSERT_TRUE(hv.createVMSnapshot(vm, snapshot, ovf)) << logs.all();
  const auto waits = sleeps.sleeps();
  EXPECT_GE(std::count(waits.begin(), waits.end(), 5000UL), 2);

  // The session expires in the middle: one re-connect, and the backup goes on.
  sim->expireSessionOnce();
  EXPECT_TRUE(hv.checkSnapshotExistence(vm.id, snapshot.id));
  EXPECT_TRUE(logs.containsError("Re-connecting to [" + server() + "] ..."));
  ASSERT_TRUE(hv.deleteVMSnapshot(vm.name, vm.id, snapshot.id)) << logs.all();

  // A snapshot that stays locked makes the next backup refuse without a request.
  sim->setSnapshotsStayLocked(true);
  SSnapshotInfoLib stuck;
  stuck.description = "_QZ_BACKUP_web01_stuck_1";
  EXPECT_FALSE(hv.createVMSnapshot(vm, stuck, ovf));
  const size_t posts = requests("POST", "/snapshots");
  SSnapshotInfoLib next;
  next.description = "_QZ_BACKUP_web01_next_1";
  EXPECT_FALSE(hv.createVMSnapshot(vm, next, ovf));
  EXPECT_TRUE(logs.containsError("is in locked state. Can't create a new snapshot."));
  EXPECT_EQ(requests("POST", "/snapshots"), posts);

  // A stalled engine ends in a clean false.
  config.set("nRhevStallTimeoutSec", "1");
  hvsim::Fault stall;
  stall.kind = hvsim::Fault::Kind::Stall;
  stall.duration = std::chrono::seconds(10);
  sim->injectFault("GET", "/ovirt-engine/api/vms", stall, 1);
  std::vector<SVMInfoLib> vms;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(hv.getVMInfoList(vms, 0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(Generations, EndToEndTest,
                         ::testing::Values("3.6", "4.0.0", "4.0.1", "4.0.2", "4.1"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = std::string("v") + info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
}  // namespace Hypervale
