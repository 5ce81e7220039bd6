// The facade's backup, restore, storage domain, NIC and disk migration procedures: their
// guards, post-checks and messages, against a scripted engine.
#include <gtest/gtest.h>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"

namespace Hypervale {
namespace {

using namespace hvtest;

const std::string kVm = Href("vms", "v1");
const std::string kSnapshot = kVm + "/snapshots/s1";
const std::string kAttachments = Href("vms", "proxy") + "/diskattachments";
const std::string kDomainSearch = "/ovirt-engine/api/storagedomains?search=name=backup-sd";
const Answer kComplete = Answer::xml(200, "<action><status>complete</status></action>");

class ProceduresTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    config.set("nRHEVMAPIRETRYCT", "2").set("nRHEVMAPISLEEPINTERVAL", "10");
    serveApiRoot("v4/api.xml");  // 4.0.4: disks are tied to VMs through attachments
    ASSERT_TRUE(facade.connect(server(), "admin", TestPassword()));
    engine->clearRequests();
    vm.id = "v1";
  }

  void serve(const std::string& target, const std::string& body) {
    engine->answer("GET", target, Answer::xml(200, body));
  }
  // VM v1 (running on h1) with the given snapshots.
  void serveVmWithSnapshots(std::initializer_list<std::string> snapshots) {
    serve(kVm, VmXml("v1", "vm1", "h1", "c1", {{"snapshots", kVm + "/snapshots"}}));
    serve(kVm + "/snapshots", ListXml("snapshots", snapshots));
  }
  void serveProxyDisks(const std::vector<std::string>& diskIds) {
    std::string list = ListXml("disk_attachments", {});
    for (const std::string& id : diskIds) {
      list.insert(list.rfind("</"), AttachmentXml(id, "virtio", false, true));
    }
    serve(kAttachments, list);
  }
  // Requests sent with `method` to targets starting with `prefix`.
  size_t sent(const std::string& method, const std::string& prefix = "/") const {
    size_t n = 0;
    for (const auto& r : engine->requests()) {
      n += r.method == method && r.target.rfind(prefix, 0) == 0;
    }
    return n;
  }
  // Storage domains: the domain "backup-sd" holding `disks` (`status`: outside its data center);
  // `vm`, when given, is the one VM of the engine.
  void serveDomain(std::initializer_list<std::string> disks, const std::string& vm = "",
                   const std::string& status = "") {
    serve(
        kDomainSearch,
        ListXml("storage_domains",
                {StorageDomainXml("sd1", "backup-sd",
                                  {{"disks", Href("storagedomains", "sd1") + "/disks"}}, status)}));
    serve(Href("storagedomains", "sd1") + "/disks", ListXml("disks", disks));
    serve("/ovirt-engine/api/vms", vm.empty() ? ListXml("vms", {}) : ListXml("vms", {vm}));
  }
  // Deletes the domain, which must be found `empty` or not.
  void deleteDomain(bool empty) {
    SStorageDomainInfoLib d;
    d.name = "backup-sd";
    d.hostName = "host1";
    bool found = !empty;
    EXPECT_TRUE(facade.deleteStorageDomain(d, found)) << logs.all();
    EXPECT_EQ(found, empty);
  }

  TzHypervale facade;
  SVMInfoLib vm;  // v1
};

TEST_F(ProceduresTest, OnlyTheFirstTemplateIdOfAnOvfBecomesTheZeroId) {
  const std::string zero = "<TemplateId>00000000-0000-0000-0000-000000000000</TemplateId>";
  const std::pair<std::string, std::string> cases[] = {
      {"<a><TemplateId>6a4f1b2c-0000-4d9e-aaaa-1234567890ab</TemplateId></a>",
       "<a>" + zero + "</a>"},
      {"<TemplateId>x-1</TemplateId><TemplateId>y-2</TemplateId>",
       zero + "<TemplateId>y-2</TemplateId>"},
      {"<TemplateId></TemplateId>", zero},
      {"<TemplateId>{6a4f}</TemplateId>", "<TemplateId>{6a4f}</TemplateId>"},
      {"<templateid>abc</templateid>", "<templateid>abc</templateid>"},
      {"no template here $1 \\1", "no template here $1 \\1"},
  };
  for (auto [ovf, updated] : cases) {
    EXPECT_TRUE(facade.updateOVF(ovf));
    EXPECT_EQ(ovf, updated);
  }
}

TEST_F(ProceduresTest, SnapshotsWaitForNoLockedOneAndABackupMustCarryItsOvf) {
  serveVmWithSnapshots({SnapshotXml("s0", "active", "ok"), SnapshotXml("s1", "regular", "locked")});
  SSnapshotInfoLib snapshot;
  std::string ovf = "untouched";
  EXPECT_FALSE(facade.createVMSnapshot(vm, snapshot, ovf));
  EXPECT_TRUE(logs.containsError(
      "One of the snapshot of the VM [v1] is in locked state. Can't create a new snapshot."));
  EXPECT_FALSE(facade.deleteVMSnapshot("vm1", "v1", "s1"));
  EXPECT_FALSE(facade.deleteVMSnapshot("vm1", "v1", ""));
  EXPECT_TRUE(logs.containsError("Snapshot can't be empty for deletion"));
  EXPECT_EQ(sent("POST") + sent("DELETE"), 0u);
  EXPECT_FALSE(facade.isVMLocked("unknown-vm"));  // unreadable VM: not locked

  // Another letter case is not the engine's "locked": the request goes out.
  serveVmWithSnapshots({SnapshotXml("s0", "regular", "Locked")});
  engine->answer("POST", kVm + "/snapshots",
                 Answer::xml(201, SnapshotXml("s1", "regular", "locked")));
  serve("/ovirt-engine/api/jobs", ListXml("jobs", {}));
  const std::string ok = SnapshotXml("s1", "regular", "ok");
  for (const bool carriesOvf : {false, true}) {
    serve(kSnapshot, carriesOvf ? ok.substr(0, ok.rfind("</snapshot>")) +
                                      "<initialization><configuration><data>&lt;ovf:Envelope/&gt;"
                                      "</data><type>ovf</type></configuration></initialization>"
                                      "</snapshot>"
                                : ok);
    engine->clearRequests();
    logs.clear();
    snapshot.description = "_QZ_BACKUP_vm1_nightly_1";
    snapshot.ovfData = "<stale/>";  // what the caller's record held before never counts
    EXPECT_EQ(facade.createVMSnapshot(vm, snapshot, ovf), carriesOvf);
    EXPECT_EQ(ovf, carriesOvf ? "<ovf:Envelope/>" : "untouched");
    EXPECT_EQ(
        logs.containsError("Snapshot [s1] of VM [v1] came without its VM configuration (OVF)"),
        !carriesOvf);
    // Reads of the one snapshot (the unlock wait and the final read) ask for all content.
    for (const auto& r : engine->requests()) {
      EXPECT_EQ(r.header("All-Content"), r.target == kSnapshot ? "true" : "") << r.target;
    }
    EXPECT_EQ(sent("GET", kSnapshot), 2u);
  }
}

TEST_F(ProceduresTest, RecordFormOfSnapshotDeletionFlagsOnlyConflicts) {
  serveVmWithSnapshots({SnapshotXml("s1", "regular", "ok")});
  serve(kSnapshot, SnapshotXml("s1", "regular", "ok"));
  SSnapshotInfoLib snapshot;
  snapshot.id = "s1";
  for (const int status : {409, 500}) {
    engine->answer("DELETE", kSnapshot, Answer::engineFault(status, "Operation Failed", "refused"));
    bool conflict = false;
    EXPECT_FALSE(facade.deleteVMSnapshot(vm, snapshot, conflict));
    EXPECT_EQ(conflict, status == 409);
  }
  // A 409 left from an earlier call is not this call's: a refusal without a failed request.
  engine->answer("GET", Href("vms", "busy"), Answer::engineFault(409, "Operation Failed", "busy"));
  EXPECT_FALSE(facade.checkVMExistence("busy"));
  ASSERT_EQ(facade.getLastErrorCode(), 409);
  serve(kSnapshot, SnapshotXml("s1", "regular", "locked"));
  bool conflict = false;
  EXPECT_FALSE(facade.deleteVMSnapshot(vm, snapshot, conflict));
  EXPECT_FALSE(conflict);
}

TEST_F(ProceduresTest, AttachAndDetachResultsFollowTheProxysDiskList) {
  SDiskInfoLib disk;
  disk.id = "k1";
  serveProxyDisks({"k1"});
  EXPECT_FALSE(facade.attachDisk("proxy", disk, true, false, true));
  EXPECT_TRUE(logs.containsError("Disk [k1] is already attached to VM [proxy]"));
  EXPECT_EQ(sent("POST"), 0u);

  // An attach the engine reported as failed but carried out counts.
  engine->script("GET", kAttachments,
                 {Answer::xml(200, ListXml("disk_attachments", {})),
                  Answer::xml(200, ListXml("disk_attachments",
                                           {AttachmentXml("k2", "virtio", false, true)}))});
  engine->answer("POST", kAttachments, Answer::drop());
  SDiskInfoLib other;
  other.id = "k2";
  EXPECT_TRUE(facade.attachDisk("proxy", other, true, false, true));

  // So does a detach that failed but left the disk detached; still listed, it failed.
  engine->answer("DELETE", kAttachments + "/k1",
                 Answer::engineFault(500, "Operation Failed", "timeout"));
  const std::pair<std::vector<std::string>, bool> detaches[] = {
      {{"k9"}, true}, {{}, true}, {{"k1"}, false}};
  for (const auto& [listed, detached] : detaches) {
    serveProxyDisks(listed);
    EXPECT_EQ(facade.detachDisk("proxy", disk), detached);
  }

  // A list that cannot be read proves nothing: not for a detach, an attach, or the clean-up
  // of a proxy whose list was read once before its detach failed.
  serve(kVm + "/snapshots/s1/disks", ListXml("disks", {DiskXml("k1", "a", "sd")}));
  engine->clearRequests();
  for (const Answer& unread : {Answer::engineFault(503, "Unavailable", "busy"),
                               Answer::xml(200, "<html>proxy</html>"), Answer::drop()}) {
    engine->script("GET", kAttachments,
                   {Answer::xml(200, ListXml("disk_attachments",
                                             {AttachmentXml("k1", "virtio", false, true)})),
                    unread});
    logs.clear();
    EXPECT_FALSE(facade.DetachSnappedDisksFromProxy("proxy", "v1", "s1"));
    EXPECT_TRUE(logs.containsError("Cannot tell whether disk [k1] was detached from VM [proxy]"));
    EXPECT_FALSE(facade.detachDisk("proxy", disk));
    EXPECT_FALSE(facade.attachDisk("proxy", disk, true, false, true));
  }
  EXPECT_EQ(sent("POST"), 0u);
  serveProxyDisks({});
  EXPECT_FALSE(facade.DetachSnappedDisksFromProxy("proxy", "v1", "s1"));
  EXPECT_TRUE(logs.containsError("No disks attached to VM [proxy]"));
}

TEST_F(ProceduresTest, DiskOfASnapshotIsReadThroughTheVmWithItsAttachment) {
  serve(kVm + "/snapshots/s1/disks/k1", DiskXml("k1", "boot", "sd"));
  serve(kVm + "/diskattachments/k1", AttachmentXml("k1", "virtio_scsi", true, false));
  SDiskInfoLib disk;
  disk.snapshotId = "s1";
  ASSERT_TRUE(facade.getDiskInfoForVM("v1", "k1", disk));
  EXPECT_EQ(disk.name, "boot");
  EXPECT_EQ(disk.interface, "virtio_scsi");  // from the attachment (4.0.2 and later)
  EXPECT_TRUE(disk.bootable);
}

TEST_F(ProceduresTest, NicProfileNameMustMatchExactly) {
  serve("/ovirt-engine/api/vnicprofiles",
        ListXml("vnic_profiles",
                {VnicProfileXml("p1", "Backup", "n1"), VnicProfileXml("p2", "backup", "n2")}));
  const std::string nic = "<nic id=\"n9\"><linked>true</linked><plugged>true</plugged></nic>";
  engine->answer("POST", kVm + "/nics", Answer::xml(201, nic));
  serve(kVm + "/nics/n9", nic);
  EXPECT_FALSE(facade.addNicToVM("v1", "BACKUP"));
  EXPECT_TRUE(logs.containsError("vnic profile BACKUP not found"));
  EXPECT_EQ(sent("POST"), 0u);
  const std::pair<const char*, const char*> interfaces[] = {
      {nullptr, "rtl8139"}, {"", "rtl8139"}, {"virtio", "virtio"}};  // configured, sent
  for (const auto& [configured, interface] : interfaces) {
    if (configured) config.set("sRhevNicInterfaceName", configured);
    engine->clearRequests();
    ASSERT_TRUE(facade.addNicToVM("v1", "backup")) << logs.all();
    std::string body;
    for (const auto& r : engine->requests()) body += r.body;
    EXPECT_NE(body.find(std::string("<nic><name>nic1</name><interface>") + interface +
                        "</interface><vnic_profile id=\"p2\"/></nic>"),
              std::string::npos)
        << body;
  }
}

TEST_F(ProceduresTest, UnknownDomainIsGoneAndOneWithOnlyOvfStoresIsDestroyed) {
  // Another letter case is another domain: this one is gone, nothing is removed.
  serve(kDomainSearch, ListXml("storage_domains", {StorageDomainXml("x", "Backup-SD")}));
  deleteDomain(true);
  EXPECT_TRUE(logs.contains("Stoage domain (backup-sd) does not exist"));
  EXPECT_EQ(sent("DELETE"), 0u);

  serveDomain({DiskXml("o1", "OVF_STORE", "sd1"), DiskXml("o2", "OVF_STORE", "sd1")}, "",
              "unattached");
  engine->answer("DELETE", Href("storagedomains", "sd1") + "?host=host1&destroy=true", kComplete);
  // Read once before the destroy, gone afterwards.
  engine->script("GET", Href("storagedomains", "sd1"),
                 {Answer::xml(200, StorageDomainXml("sd1", "backup-sd", {}, "unattached")),
                  Answer::engineFault(404, "Not Found", "gone")});
  deleteDomain(true);
  EXPECT_EQ(sent("DELETE", Href("storagedomains", "sd1")), 1u) << logs.all();
}

TEST_F(ProceduresTest, RealDisksUsersOrUncertaintyKeepTheDomain) {
  serve(Href("vms", "v9") + "/disks", ListXml("disks", {DiskXml("o1", "OVF_STORE", "sd1")}));
  const std::string user = VmXml("v9", "vm9", "", "c1", {{"disks", Href("vms", "v9") + "/disks"}});
  struct Case {
    std::string disk;
    std::string vm;
    const char* failing;  // a lookup that fails part-way
  };
  // "ovf_store" in another case is a real disk; a VM using an OVF_STORE-named disk is a user.
  const Case cases[] = {
      {DiskXml("o1", "ovf_store", "sd1"), "", nullptr},
      {DiskXml("k1", "data", "sd1"), "", nullptr},
      {DiskXml("o1", "OVF_STORE", "sd1"), user, nullptr},
      {"", "", "/ovirt-engine/api/storagedomains?search=name=backup-sd"},
      {"", "", "/ovirt-engine/api/storagedomains/sd1/disks"},
      {"", "", "/ovirt-engine/api/vms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing ? c.failing : c.disk + c.vm);
    engine->clearRequests();
    logs.clear();
    serveDomain({c.disk}, c.vm);
    if (c.failing) {
      serveDomain({}, "");
      engine->answer("GET", c.failing, Answer::xml(503, "<html>busy</html>"));
    }
    deleteDomain(false);
    EXPECT_EQ(sent("DELETE"), 0u);
    EXPECT_EQ(logs.containsError("Could not establish whether storage domain [backup-sd] is empty"),
              c.failing != nullptr);
    EXPECT_TRUE(logs.contains("Stoage domain backup-sd is in-use, hence can't destory"));
  }
  // Two domains of that name: which one is meant cannot be told.
  serveDomain({});
  serve(kDomainSearch, ListXml("storage_domains", {StorageDomainXml("sd2", "backup-sd"),
                                                   StorageDomainXml("sd1", "backup-sd")}));
  deleteDomain(false);
  EXPECT_TRUE(logs.containsError("several domains carry that name"));
}

TEST_F(ProceduresTest, ExistenceAndActivityInAnyCaseAndCreationOnlyInAKnownDataCenter) {
  serve("/ovirt-engine/api/datacenters?search=name=DC1",
        ListXml("data_centers", {DataCenterXml("d1", "DC1")}));
  // Outside its data center an attached domain shows no status, only its data center.
  std::string attached = StorageDomainXml("sd1", "backup-sd");
  attached.insert(attached.rfind("</storage_domain>"),
                  "<data_centers><data_center id=\"d1\"/></data_centers>");
  serve(kDomainSearch, ListXml("storage_domains", {attached}));
  serve("/ovirt-engine/api/storagedomains?search=name=other", ListXml("storage_domains", {}));
  // The status in the data center ("": it cannot be read), and whether it means active.
  for (const auto& [status, isActive] : {std::pair("Active", true), std::pair("ACTIVE", true),
                                         std::pair("maintenance", false), std::pair("", false)}) {
    const std::string inDataCenter = StorageDomainXml("sd1", "backup-sd", {}, status);
    const Answer answer = *status ? Answer::xml(200, ListXml("storage_domains", {inDataCenter}))
                                  : Answer::xml(503, "<html>busy</html>");
    engine->answer("GET", Href("datacenters", "d1") + "/storagedomains", answer);
    engine->answer("GET", Href("datacenters", "d1") + "/storagedomains/sd1",
                   *status ? Answer::xml(200, inDataCenter) : answer);
    for (const char* dataCenter : {"DC1", ""}) {
      SCOPED_TRACE(std::string(status) + " in [" + dataCenter + "]");
      bool exists = false;
      bool active = !isActive;
      ASSERT_TRUE(facade.DoesStorageDomainExist(dataCenter, "backup-sd", exists, active));
      // Found by name without a data center, the domain exists whatever its data center says.
      EXPECT_EQ(exists, *status || !*dataCenter);
      EXPECT_EQ(active, isActive);
      ASSERT_TRUE(facade.DoesStorageDomainExist(dataCenter, "other", exists, active));
      EXPECT_FALSE(exists || active);
    }
  }

  serve("/ovirt-engine/api/datacenters?search=name=nowhere", ListXml("data_centers", {}));
  SStorageDomainInfoLib domain;
  domain.name = "backup-sd";
  domain.hostName = "host1";
  domain.dataCenterName = "nowhere";
  EXPECT_FALSE(facade.createStorageDomain(domain));
  EXPECT_EQ(sent("POST"), 0u);
}

// Disk migration.

class MigrationTest : public ProceduresTest {
 protected:
  void SetUp() override {
    ProceduresTest::SetUp();
    serve("/ovirt-engine/api/storagedomains?search=name=target",
          ListXml("storage_domains", {StorageDomainXml("sdT", "target")}));
    serve("/ovirt-engine/api/storagedomains?search=name=nowhere", ListXml("storage_domains", {}));
    serve(Href("storagedomains", "sdT"), StorageDomainXml("sdT", "target"));
    serve(Href("storagedomains", "sdS"), StorageDomainXml("sdS", "source"));
    for (const char* id : {"k1", "k2"}) {
      engine->answer("POST", Href("disks", id) + "/move", kComplete);
      SDiskInfoLib disk;
      disk.id = id;
      disk.name = std::string("disk-") + id;
      disk.storageDomainName = "source";
      disks.push_back(disk);
    }
  }

  // A disk as the engine reports it during or after the move.
  void serveDiskState(const std::string& id, const std::string& status, const std::string& domainId,
                      unsigned long long totalSize = 0) {
    serve(Href("disks", id), "<disk id=\"" + id + "\"><status>" + status + "</status><total_size>" +
                                 std::to_string(totalSize) +
                                 "</total_size><storage_domains><storage_domain id=\"" + domainId +
                                 "\"/></storage_domains></disk>");
  }

  std::vector<SDiskInfoLib> disks;  // k1 and k2 on "source"
};

TEST_F(MigrationTest, DisksAlreadyOnTheTargetOrAnUnknownTargetMoveNothing) {
  serve(kVm + "/snapshots", ListXml("snapshots", {SnapshotXml("a", "active", "ok")}));
  std::vector<SDiskInfoLib> onTarget = disks;
  for (auto& disk : onTarget) disk.storageDomainName = "target";
  ASSERT_TRUE(facade.moveDisks("v1", onTarget, "target", true));
  for (const char* id : {"k1", "k2"}) {
    EXPECT_TRUE(logs.containsError("Source and destination of disk [" + std::string(id) +
                                   "] is same. Skiping disk movement."));
  }
  EXPECT_FALSE(facade.moveDisks("v1", disks, "nowhere", false));
  EXPECT_EQ(sent("POST"), 0u);
}

TEST_F(MigrationTest, SnapshotCountIsCheckedOnlyForARunningVm) {
  // One snapshot per move is expected, so an older one makes the count wrong: while the VM runs.
  // The engine moves the disks of a VM that is down without snapshots: nothing to count.
  serve(kVm + "/snapshots",
        ListXml("snapshots",
                {SnapshotXml("a", "active", "ok"), SnapshotXml("m1", "regular", "ok"),
                 SnapshotXml("old", "regular", "ok"), SnapshotXml("m2", "regular", "ok")}));
  for (const char* id : {"m1", "m2", "old"}) {
    serve(kVm + "/snapshots/" + id, SnapshotXml(id, "regular", "ok"));
  }
  for (const bool running : {true, false}) {
    engine->clearRequests();
    serve(kVm, VmXml("v1", "vm1", running ? "h1" : "", "c1"));
    EXPECT_EQ(facade.moveDisks("v1", disks, "target", true), !running);
    for (const char* disk : {"k1", "k2"}) {
      EXPECT_EQ(sent("POST", Href("disks", disk) + "/move"), 1u);
    }
    for (const auto& r : engine->requests()) {
      EXPECT_TRUE(r.method != "POST" || r.body.find("<storage_domain id=\"sdT\"/>") != r.body.npos);
    }
    // The snapshots are all waited for where they were counted.
    EXPECT_EQ(engine->requestCount("GET", kVm + "/snapshots"), running ? 1u : 0u);
    EXPECT_EQ(sent("GET", kVm + "/snapshots/old") > 0, running);
  }
  EXPECT_TRUE(logs.contains("VM [v1] is down: its disks move without snapshots"));
}

TEST_F(MigrationTest, ProgressOfLockedArrivedIllegalAndStrayDisks) {
  bool completed = true;
  bool failed = false;
  const auto progress = [&] {
    return facade.CheckTaskProgress("v1", "source", "target", disks, false, completed, failed);
  };
  // From 4.1 on the total size is the space a disk uses, never 0 for one with data.
  serveDiskState("k1", "LOCKED", "sdS", 100);
  serveDiskState("k2", "ok", "sdT", 4050038784);
  ASSERT_TRUE(progress());
  EXPECT_FALSE(completed || failed);
  serveDiskState("k1", "ok", "sdT");  // an engine before 4.1 sends no total size
  ASSERT_TRUE(progress());
  EXPECT_TRUE(completed);
  // Unlocked, but back on the source; or on the target, but illegal.
  for (const auto& [status, domain] : {std::pair("ok", "sdS"), std::pair("Illegal", "sdT")}) {
    serveDiskState("k1", status, domain);
    completed = failed = false;
    EXPECT_FALSE(progress());
    EXPECT_TRUE(failed && !completed) << status;
  }
  EXPECT_TRUE(logs.containsError("Failed to move disk [disk-k1] from [source] to [target] domain"));
  EXPECT_TRUE(logs.containsError("Disk [disk-k1][k1] is illegal after its move"));
  completed = true;
  failed = false;
  EXPECT_FALSE(facade.CheckTaskProgress("v1", "source", "target", {}, false, completed, failed));
  EXPECT_TRUE(completed && !failed);
}

}  // namespace
}  // namespace Hypervale
