// The facade's backup, restore, storage domain, NIC and disk migration procedures: their
// guards, post-checks and messages, against a scripted engine.
#include <gtest/gtest.h>

#include <algorithm>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"
#include "support/inventory_xml.h"

namespace Hypervale {
namespace {

using namespace hvtest;

const char kApi41[] =
    "<api><product_info><name>oVirt Engine</name><version><build>0</build>"
    "<full_version>4.1.0</full_version><major>4</major><minor>1</minor><revision>0</revision>"
    "</version></product_info></api>";

class ProceduresTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    config.set("nRHEVMAPIRETRYCT", "2").set("nRHEVMAPISLEEPINTERVAL", "10");
    connectTo(kApi41);
  }

  void connectTo(const std::string& apiRoot) {
    engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, apiRoot));
    facade = std::make_unique<TzHypervale>();
    ASSERT_TRUE(facade->connect(server(), "admin", TestPassword()));
    engine->clearRequests();
  }

  void serve(const std::string& target, const std::string& body) {
    engine->answer("GET", target, Answer::xml(200, body));
  }

  // VM v1 with the given snapshots.
  void serveVmWithSnapshots(std::initializer_list<std::string> snapshots) {
    serve(Href("vms", "v1"),
          VmXml("v1", "vm1", "h1", "c1", {{"snapshots", Href("vms", "v1") + "/snapshots"}}));
    serve(Href("vms", "v1") + "/snapshots", ListXml("snapshots", snapshots));
    serve(Href("hosts", "h1"), HostXml("h1", "host1", "c1"));
    serve(Href("clusters", "c1"), ClusterXml("c1", "Cluster1", "d1"));
  }

  size_t posts(const std::string& target) const { return count("POST", target); }
  // Requests sent with `method`, whatever their target.
  size_t sent(const std::string& method) const {
    const auto all = engine->requests();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [&](const auto& r) { return r.method == method; }));
  }

  std::unique_ptr<TzHypervale> facade;
};

TEST(UpdateOvfTest, OnlyTheFirstTemplateIdBecomesTheZeroId) {
  const std::string zero = "<TemplateId>00000000-0000-0000-0000-000000000000</TemplateId>";
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"<a><TemplateId>6a4f1b2c-0000-4d9e-aaaa-1234567890ab</TemplateId></a>",
       "<a>" + zero + "</a>"},
      {"<TemplateId>x-1</TemplateId><TemplateId>y-2</TemplateId>",
       zero + "<TemplateId>y-2</TemplateId>"},
      {"<TemplateId></TemplateId>", zero},
      {"<TemplateId>{6a4f}</TemplateId>", "<TemplateId>{6a4f}</TemplateId>"},
      {"<templateid>abc</templateid>", "<templateid>abc</templateid>"},
      {"no template here $1 \\1", "no template here $1 \\1"},
  };
  TzHypervale facade;
  for (const auto& c : cases) {
    std::string ovf = c.in;
    EXPECT_TRUE(facade.updateOVF(ovf));
    EXPECT_EQ(ovf, c.out);
  }
}

TEST_F(ProceduresTest, SnapshotIsRefusedOnlyWhileAnotherIsLockedExactly) {
  serveVmWithSnapshots({SnapshotXml("s0", "active", "ok"), SnapshotXml("s1", "regular", "locked")});
  SVMInfoLib vm;
  vm.id = "v1";
  vm.name = "vm1";
  SSnapshotInfoLib snapshot;
  snapshot.description = "_QZ_BACKUP_nightly";
  std::string ovf = "untouched";
  EXPECT_FALSE(facade->createVMSnapshot(vm, snapshot, ovf));
  EXPECT_TRUE(logs.containsError(
      "One of the snapshot of the VM [v1] is in locked state. Can't create a new snapshot."));
  EXPECT_EQ(posts(Href("vms", "v1") + "/snapshots"), 0u);
  EXPECT_EQ(ovf, "untouched");
  EXPECT_TRUE(facade->isVMLocked("v1"));

  EXPECT_FALSE(facade->deleteVMSnapshot("vm1", "v1", "s1"));
  EXPECT_TRUE(logs.containsError(
      "One of the snapshot of the VM [v1] is in locked state. Can't delete snapshot [s1]"));
  EXPECT_EQ(count("DELETE", Href("vms", "v1") + "/snapshots/s1"), 0u);

  EXPECT_FALSE(facade->isVMLocked("unknown-vm"));  // unreadable VM: not locked
  EXPECT_FALSE(facade->deleteVMSnapshot("vm1", "v1", ""));
  EXPECT_TRUE(logs.containsError("Snapshot can't be empty for deletion"));
}

TEST_F(ProceduresTest, SnapshotForBackupIsReadWithAllContentAndMustCarryItsOvf) {
  // Another letter case is not the engine's "locked": the request goes out.
  serveVmWithSnapshots({SnapshotXml("s0", "regular", "Locked")});
  engine->answer("POST", Href("vms", "v1") + "/snapshots",
                 Answer::xml(201, SnapshotXml("s1", "regular", "locked")));
  serve("/ovirt-engine/api/jobs", ListXml("jobs", {}));
  const std::string self = Href("vms", "v1") + "/snapshots/s1";
  const std::string ok = SnapshotXml("s1", "regular", "ok");
  const std::string withOvf = ok.substr(0, ok.size() - std::string("</snapshot>").size()) +
                              "<initialization><configuration><data>&lt;ovf:Envelope/&gt;"
                              "</data><type>ovf</type></configuration></initialization></snapshot>";
  SVMInfoLib vm;
  vm.id = "v1";
  vm.name = "vm1";
  for (const bool carriesOvf : {false, true}) {
    serve(self, carriesOvf ? withOvf : ok);
    engine->clearRequests();
    logs.clear();
    SSnapshotInfoLib snapshot;
    snapshot.description = "_QZ_BACKUP_vm1_nightly_1";
    snapshot.ovfData = "<stale/>";  // what the caller's record held before never counts
    std::string ovf = "untouched";
    EXPECT_EQ(facade->createVMSnapshot(vm, snapshot, ovf), carriesOvf);
    EXPECT_EQ(ovf, carriesOvf ? "<ovf:Envelope/>" : "untouched");
    EXPECT_EQ(
        logs.containsError("Snapshot [s1] of VM [v1] came without its VM configuration (OVF)"),
        !carriesOvf);
    size_t snapshotReads = 0;
    for (const auto& r : engine->requests()) {
      // Reads of the one snapshot ask for all content; lists and the rest stay as they are.
      EXPECT_EQ(r.header("All-Content"), r.target == self ? "true" : "") << r.target;
      snapshotReads += r.target == self;
    }
    EXPECT_EQ(snapshotReads, 2u);  // the unlock wait and the final read
  }
}

TEST_F(ProceduresTest, RecordFormOfSnapshotDeletionFlagsOnlyConflicts) {
  serveVmWithSnapshots({SnapshotXml("s1", "regular", "ok")});
  serve(Href("vms", "v1") + "/snapshots/s1", SnapshotXml("s1", "regular", "ok"));
  SVMInfoLib vm;
  vm.id = "v1";
  SSnapshotInfoLib snapshot;
  snapshot.id = "s1";

  engine->answer("DELETE", Href("vms", "v1") + "/snapshots/s1",
                 Answer::engineFault(409, "Operation Failed", "[Cannot remove Snapshot.]"));
  bool conflict = false;
  EXPECT_FALSE(facade->deleteVMSnapshot(vm, snapshot, conflict));
  EXPECT_TRUE(conflict);
  EXPECT_EQ(count("DELETE", Href("vms", "v1") + "/snapshots/s1"), 4u);  // the transport retried

  engine->answer("DELETE", Href("vms", "v1") + "/snapshots/s1",
                 Answer::engineFault(500, "Operation Failed", "broken"));
  conflict = false;
  EXPECT_FALSE(facade->deleteVMSnapshot(vm, snapshot, conflict));
  EXPECT_FALSE(conflict);

  // A 409 left from an earlier call is not this call's: a refusal without a failed request.
  engine->answer("GET", Href("vms", "busy"), Answer::engineFault(409, "Operation Failed", "busy"));
  EXPECT_FALSE(facade->checkVMExistence("busy"));
  ASSERT_EQ(facade->getLastErrorCode(), 409);
  serve(Href("vms", "v1") + "/snapshots/s1", SnapshotXml("s1", "regular", "locked"));
  EXPECT_FALSE(facade->deleteVMSnapshot(vm, snapshot, conflict));
  EXPECT_FALSE(conflict);
}

TEST_F(ProceduresTest, AttachOfAnAttachedDiskSendsNothing) {
  serve(Href("vms", "proxy") + "/diskattachments",
        ListXml("disk_attachments", {AttachmentXml("k1", "virtio", false, true)}));
  SDiskInfoLib disk;
  disk.id = "k1";
  EXPECT_FALSE(facade->attachDisk("proxy", disk, true, false, true));
  EXPECT_TRUE(logs.containsError("Disk [k1] is already attached to VM [proxy]"));
  EXPECT_EQ(posts(Href("vms", "proxy") + "/diskattachments"), 0u);

  // An attach the engine reported as failed but carried out counts.
  engine->script("GET", Href("vms", "proxy") + "/diskattachments",
                 {Answer::xml(200, ListXml("disk_attachments", {})),
                  Answer::xml(200, ListXml("disk_attachments",
                                           {AttachmentXml("k2", "virtio", false, true)}))});
  engine->answer("POST", Href("vms", "proxy") + "/diskattachments", Answer::drop());
  disk.id = "k2";
  EXPECT_TRUE(facade->attachDisk("proxy", disk, true, false, true));
}

TEST_F(ProceduresTest, DetachThatFailedButLeftTheDiskDetachedSucceeds) {
  engine->answer("DELETE", Href("vms", "proxy") + "/diskattachments/k1",
                 Answer::engineFault(500, "Operation Failed", "timeout"));
  serve(Href("vms", "proxy") + "/diskattachments",
        ListXml("disk_attachments", {AttachmentXml("k9", "virtio", false, true)}));
  SDiskInfoLib disk;
  disk.id = "k1";
  EXPECT_TRUE(facade->detachDisk("proxy", disk));
  serve(Href("vms", "proxy") + "/diskattachments", ListXml("disk_attachments", {}));
  EXPECT_TRUE(facade->detachDisk("proxy", disk));  // no attachments left at all
  serve(Href("vms", "proxy") + "/diskattachments",
        ListXml("disk_attachments", {AttachmentXml("k1", "virtio", false, true)}));
  EXPECT_FALSE(facade->detachDisk("proxy", disk));  // still there: a real failure

  // A list that cannot be read proves nothing: not for a detach, an attach, or the clean-up
  // of a proxy whose list was read once before its detach failed.
  serve(Href("vms", "v1") + "/snapshots/s1/disks", ListXml("disks", {DiskXml("k1", "a", "sd")}));
  for (const Answer& unread : {Answer::engineFault(503, "Unavailable", "busy"),
                               Answer::xml(200, "<html>proxy</html>"), Answer::drop()}) {
    engine->script("GET", Href("vms", "proxy") + "/diskattachments",
                   {Answer::xml(200, ListXml("disk_attachments",
                                             {AttachmentXml("k1", "virtio", false, true)})),
                    unread});
    logs.clear();
    EXPECT_FALSE(facade->DetachSnappedDisksFromProxy("proxy", "v1", "s1"));
    EXPECT_TRUE(logs.containsError("Cannot tell whether disk [k1] was detached from VM [proxy]"));
    EXPECT_FALSE(facade->detachDisk("proxy", disk));
    EXPECT_FALSE(facade->attachDisk("proxy", disk, true, false, true));
  }
  EXPECT_EQ(posts(Href("vms", "proxy") + "/diskattachments"), 0u);
}

TEST_F(ProceduresTest, SnapshotDisksAreDetachedFromTheProxy) {
  serve(Href("vms", "v1") + "/snapshots/s1/disks",
        ListXml("disks",
                {DiskXml("k1", "a", "sd"), DiskXml("k2", "b", "sd"), DiskXml("k3", "c", "sd")}));
  serve(Href("vms", "proxy") + "/diskattachments",
        ListXml("disk_attachments", {AttachmentXml("k0", "virtio", true, true),
                                     AttachmentXml("k3", "virtio", false, true),
                                     AttachmentXml("k1", "virtio", false, true)}));
  engine->answer("DELETE", "*", Answer::xml(200, "<action><status>complete</status></action>"));
  engine->script(
      "GET", Href("vms", "proxy") + "/diskattachments",
      {Answer::xml(200, ListXml("disk_attachments", {AttachmentXml("k0", "virtio", true, true),
                                                     AttachmentXml("k3", "virtio", false, true),
                                                     AttachmentXml("k1", "virtio", false, true)})),
       Answer::xml(200, ListXml("disk_attachments", {AttachmentXml("k0", "virtio", true, true)}))});
  ASSERT_TRUE(facade->DetachSnappedDisksFromProxy("proxy", "v1", "s1"));
  std::vector<std::string> deleted;
  for (const auto& r : engine->requests()) {
    if (r.method == "DELETE") deleted.push_back(r.target);
  }
  // In the snapshot's disk order, only those the proxy had.
  EXPECT_EQ(deleted, (std::vector<std::string>{Href("vms", "proxy") + "/diskattachments/k1",
                                               Href("vms", "proxy") + "/diskattachments/k3"}));

  serve(Href("vms", "proxy") + "/diskattachments", ListXml("disk_attachments", {}));
  EXPECT_FALSE(facade->DetachSnappedDisksFromProxy("proxy", "v1", "s1"));
  EXPECT_TRUE(logs.containsError("No disks attached to VM [proxy]"));
}

TEST_F(ProceduresTest, DiskOfASnapshotIsReadThroughTheVm) {
  serve(Href("vms", "v1") + "/snapshots/s1/disks/k1", DiskXml("k1", "boot", "sd"));
  serve(Href("vms", "v1") + "/diskattachments/k1", AttachmentXml("k1", "virtio_scsi", true, false));
  SDiskInfoLib disk;
  disk.snapshotId = "s1";
  ASSERT_TRUE(facade->getDiskInfoForVM("v1", "k1", disk));
  EXPECT_EQ(disk.name, "boot");
  EXPECT_EQ(disk.interface, "virtio_scsi");  // from the attachment (4.0.2 and later)
  EXPECT_TRUE(disk.bootable);
}

TEST_F(ProceduresTest, ExistenceChecksAskTheRightPaths) {
  serve(Href("vms", "v1"), VmXml("v1", "vm1", "", "c1"));
  EXPECT_TRUE(facade->checkVMExistence("v1"));
  EXPECT_FALSE(facade->checkDiskExistence("k1"));
  EXPECT_FALSE(facade->checkSnapshotExistence("v1", "s1"));
  std::vector<std::string> targets;
  for (const auto& r : engine->requests()) targets.push_back(r.target);
  EXPECT_EQ(targets, (std::vector<std::string>{Href("vms", "v1"), Href("disks", "k1"),
                                               Href("vms", "v1") + "/snapshots/s1"}));
  EXPECT_TRUE(logs.errors().empty());
}

// Storage domains.

class StorageProceduresTest : public ProceduresTest {
 protected:
  // `vm`, when given, is the one VM of the engine.
  void serveDomain(std::initializer_list<std::string> disks, const std::string& vm = "") {
    serve("/ovirt-engine/api/storagedomains?search=name=backup-sd",
          ListXml("storage_domains",
                  {StorageDomainXml("sd1", "backup-sd",
                                    {{"disks", Href("storagedomains", "sd1") + "/disks"}}, "")}));
    serve(Href("storagedomains", "sd1") + "/disks", ListXml("disks", disks));
    serve("/ovirt-engine/api/vms", vm.empty() ? ListXml("vms", {}) : ListXml("vms", {vm}));
  }

  SStorageDomainInfoLib domain() const {
    SStorageDomainInfoLib d;
    d.name = "backup-sd";
    d.hostName = "host1";
    return d;
  }

  size_t destroys() const { return count("DELETE", Href("storagedomains", "sd1")); }
};

TEST_F(StorageProceduresTest, DomainWithOnlyOvfStoresIsDestroyed) {
  serveDomain({DiskXml("o1", "OVF_STORE", "sd1"), DiskXml("o2", "OVF_STORE", "sd1")});
  serve("/ovirt-engine/api/storagedomains?search=name=backup-sd",
        ListXml("storage_domains",
                {StorageDomainXml("sd1", "backup-sd",
                                  {{"disks", Href("storagedomains", "sd1") + "/disks"}},
                                  "unattached")}));
  engine->answer("DELETE", Href("storagedomains", "sd1") + "?host=host1&destroy=true",
                 Answer::xml(200, "<action><status>complete</status></action>"));
  // Read once before the destroy, gone afterwards.
  engine->script("GET", Href("storagedomains", "sd1"),
                 {Answer::xml(200, StorageDomainXml("sd1", "backup-sd", {}, "unattached")),
                  Answer::engineFault(404, "Not Found", "gone")});
  SStorageDomainInfoLib d = domain();
  bool empty = false;
  ASSERT_TRUE(facade->deleteStorageDomain(d, empty)) << logs.all();
  EXPECT_TRUE(empty);
  EXPECT_EQ(d.id, "sd1");
  EXPECT_EQ(destroys(), 1u) << logs.all();
}

TEST_F(StorageProceduresTest, RealDisksOrUsersKeepTheDomain) {
  struct Case {
    std::string disk;
    std::string vm;
  };
  // "ovf_store" in another case is a real disk; a VM using an OVF_STORE-named disk is a user.
  const Case cases[] = {
      {DiskXml("o1", "ovf_store", "sd1"), ""},
      {DiskXml("k1", "data", "sd1"), ""},
      {DiskXml("o1", "OVF_STORE", "sd1"),
       VmXml("v9", "vm9", "", "c1", {{"disks", Href("vms", "v9") + "/disks"}})},
  };
  serve(Href("vms", "v9") + "/disks", ListXml("disks", {DiskXml("o1", "OVF_STORE", "sd1")}));
  for (const auto& c : cases) {
    serveDomain({c.disk}, c.vm);
    SStorageDomainInfoLib d = domain();
    bool empty = true;
    ASSERT_TRUE(facade->deleteStorageDomain(d, empty));
    EXPECT_FALSE(empty);
    EXPECT_EQ(destroys(), 0u);
    EXPECT_TRUE(logs.contains("Stoage domain backup-sd is in-use, hence can't destory"));
  }
}

TEST_F(StorageProceduresTest, UnknownDomainIsReportedGoneWithoutRemoval) {
  serve("/ovirt-engine/api/storagedomains?search=name=backup-sd",
        ListXml("storage_domains", {StorageDomainXml("x", "Backup-SD")}));
  SStorageDomainInfoLib d = domain();
  bool empty = false;
  ASSERT_TRUE(facade->deleteStorageDomain(d, empty));
  EXPECT_TRUE(empty);
  EXPECT_TRUE(logs.contains("Stoage domain (backup-sd) does not exist"));
  EXPECT_EQ(sent("DELETE"), 0u);
}

TEST_F(StorageProceduresTest, EmptinessThatCannotBeEstablishedKeepsTheDomain) {
  // Each of these lookups failing part-way used to leave a verdict on partial lists.
  const char* failing[] = {"/ovirt-engine/api/storagedomains?search=name=backup-sd",
                           "/ovirt-engine/api/storagedomains/sd1/disks", "/ovirt-engine/api/vms"};
  for (const char* target : failing) {
    engine->reset();
    serveApiRoot("v4/api.xml");
    serveDomain({});
    engine->answer("GET", target, Answer::xml(503, "<html>busy</html>"));
    SStorageDomainInfoLib d = domain();
    bool empty = true;
    bool exists = false;
    ASSERT_TRUE(facade->IsStorageDomainEmpty(d, empty, exists)) << target;
    EXPECT_FALSE(empty) << target;
    EXPECT_TRUE(exists) << target;
    EXPECT_TRUE(
        logs.containsError("Could not establish whether storage domain [backup-sd] is empty"))
        << target;
    bool emptyForDelete = true;
    ASSERT_TRUE(facade->deleteStorageDomain(d, emptyForDelete));
    EXPECT_FALSE(emptyForDelete);
    EXPECT_EQ(sent("DELETE"), 0u) << target;
    logs.clear();
  }
}

TEST_F(StorageProceduresTest, ExistenceAndActivityInAnyCase) {
  struct Case {
    const char* status;  // in the data center; nullptr: the data center cannot be read
    bool active;
  };
  const Case cases[] = {
      {"Active", true}, {"ACTIVE", true}, {"maintenance", false}, {nullptr, false}};
  serve("/ovirt-engine/api/datacenters?search=name=DC1",
        ListXml("data_centers", {DataCenterXml("d1", "DC1")}));
  // Outside its data center an attached domain shows no status, only its data center.
  std::string attached = StorageDomainXml("sd1", "backup-sd");
  attached.insert(attached.rfind("</storage_domain>"),
                  "<data_centers><data_center id=\"d1\"/></data_centers>");
  serve("/ovirt-engine/api/storagedomains?search=name=backup-sd",
        ListXml("storage_domains", {attached}));
  for (const auto& c : cases) {
    const std::string inDataCenter =
        c.status ? StorageDomainXml("sd1", "backup-sd", {}, c.status) : "";
    const auto answer = [&](const std::string& body) {
      return c.status ? Answer::xml(200, body) : Answer::xml(503, "<html>busy</html>");
    };
    engine->answer("GET", Href("datacenters", "d1") + "/storagedomains/sd1", answer(inDataCenter));
    engine->answer("GET", Href("datacenters", "d1") + "/storagedomains",
                   answer(ListXml("storage_domains", {inDataCenter})));
    for (const char* dataCenter : {"DC1", ""}) {
      SCOPED_TRACE(std::string(c.status ? c.status : "unreadable") + " in [" + dataCenter + "]");
      // Found by name without a data center, the domain exists whatever its data center says.
      const bool exists = c.status || !*dataCenter;
      bool found = !exists;
      bool active = !c.active;
      ASSERT_TRUE(facade->DoesStorageDomainExist(dataCenter, "backup-sd", found, active));
      EXPECT_EQ(found, exists);
      EXPECT_EQ(active, c.active);
    }
  }
  serve("/ovirt-engine/api/storagedomains?search=name=other", ListXml("storage_domains", {}));
  for (const char* dataCenter : {"DC1", ""}) {
    bool exists = true;
    bool active = true;
    ASSERT_TRUE(facade->DoesStorageDomainExist(dataCenter, "other", exists, active));
    EXPECT_FALSE(exists || active) << dataCenter;
  }
}

TEST_F(StorageProceduresTest, UnknownDataCenterSendsNoCreation) {
  serve("/ovirt-engine/api/datacenters?search=name=nowhere", ListXml("data_centers", {}));
  SStorageDomainInfoLib d = domain();
  d.dataCenterName = "nowhere";
  EXPECT_FALSE(facade->createStorageDomain(d));
  EXPECT_EQ(sent("POST"), 0u);
}

// NICs.

TEST_F(ProceduresTest, NicProfileNameMustMatchExactly) {
  serve("/ovirt-engine/api/vnicprofiles",
        ListXml("vnic_profiles",
                {VnicProfileXml("p1", "Backup", "n1"), VnicProfileXml("p2", "backup", "n2")}));
  engine->answer(
      "POST", Href("vms", "v1") + "/nics",
      Answer::xml(201, "<nic href=\"" + Href("vms", "v1") +
                           "/nics/n9\" id=\"n9\">"
                           "<name>nic1</name><linked>true</linked><plugged>true</plugged></nic>"));
  serve(Href("vms", "v1") + "/nics/n9",
        "<nic id=\"n9\"><name>nic1</name><linked>true</linked><plugged>true</plugged></nic>");
  EXPECT_FALSE(facade->addNicToVM("v1", "BACKUP"));
  EXPECT_TRUE(logs.containsError("vnic profile BACKUP not found"));
  EXPECT_EQ(posts(Href("vms", "v1") + "/nics"), 0u);

  struct Case {
    const char* configured;
    const char* sent;
  };
  const Case cases[] = {{nullptr, "rtl8139"}, {"", "rtl8139"}, {"virtio", "virtio"}};
  for (const auto& c : cases) {
    if (c.configured) config.set("sRhevNicInterfaceName", c.configured);
    engine->clearRequests();
    ASSERT_TRUE(facade->addNicToVM("v1", "backup")) << logs.all();
    const auto requests = engine->requests();
    std::string body;
    for (const auto& r : requests) {
      if (r.method == "POST") body = r.body;
    }
    EXPECT_NE(body.find(std::string("<interface>") + c.sent + "</interface>"), std::string::npos)
        << body;
    EXPECT_NE(body.find("<name>nic1</name>"), std::string::npos) << body;
    EXPECT_NE(body.find("id=\"p2\""), std::string::npos) << body;
  }
}

// Disk migration.

class MigrationTest : public ProceduresTest {
 protected:
  void SetUp() override {
    ProceduresTest::SetUp();
    serve("/ovirt-engine/api/storagedomains?search=name=target",
          ListXml("storage_domains", {StorageDomainXml("sdT", "target")}));
    serve(Href("storagedomains", "sdT"), StorageDomainXml("sdT", "target"));
    serve(Href("storagedomains", "sdS"), StorageDomainXml("sdS", "source"));
    for (const char* disk : {"k1", "k2"}) {
      engine->answer("POST", Href("disks", disk) + "/move",
                     Answer::xml(200, "<action><status>complete</status></action>"));
    }
  }

  static SDiskInfoLib Disk(const std::string& id, const std::string& domainName) {
    SDiskInfoLib disk;
    disk.id = id;
    disk.name = "disk-" + id;
    disk.storageDomainName = domainName;
    return disk;
  }

  // A disk as the engine reports it during or after the move.
  void serveDiskState(const std::string& id, const std::string& status, const std::string& domainId,
                      unsigned long long totalSize = 0) {
    serve(Href("disks", id), "<disk id=\"" + id + "\"><status>" + status + "</status><total_size>" +
                                 std::to_string(totalSize) +
                                 "</total_size><storage_domains><storage_domain id=\"" + domainId +
                                 "\"/></storage_domains></disk>");
  }
};

TEST_F(MigrationTest, DisksAlreadyOnTheTargetAreSkipped) {
  serve(Href("vms", "v1") + "/snapshots", ListXml("snapshots", {SnapshotXml("a", "active", "ok")}));
  ASSERT_TRUE(
      facade->moveDisks("v1", {Disk("k1", "target"), Disk("k2", "target")}, "target", true));
  EXPECT_EQ(sent("POST"), 0u);
  size_t skips = 0;
  for (const auto& e : logs.errors())
    skips += e.find("Skiping disk movement.") != std::string::npos;
  EXPECT_EQ(skips, 2u);
}

TEST_F(MigrationTest, UnknownTargetMovesNothing) {
  serve("/ovirt-engine/api/storagedomains?search=name=nowhere", ListXml("storage_domains", {}));
  EXPECT_FALSE(facade->moveDisks("v1", {Disk("k1", "source")}, "nowhere", false));
  EXPECT_EQ(sent("POST"), 0u);
}

TEST_F(MigrationTest, SnapshotCountIsCheckedOnlyForARunningVm) {
  serve(Href("vms", "v1") + "/snapshots/m1", SnapshotXml("m1", "regular", "ok"));
  serve(Href("vms", "v1") + "/snapshots/old", SnapshotXml("old", "regular", "ok"));
  struct Case {
    const char* hostId;  // empty: the VM is down
    std::initializer_list<std::string> snapshots;
    bool result;
  };
  const Case cases[] = {
      // Running: one snapshot per move expected, an older one makes the count wrong.
      {"h1",
       {SnapshotXml("a", "active", "ok"), SnapshotXml("m1", "regular", "ok"),
        SnapshotXml("old", "regular", "ok")},
       false},
      // Down: the engine moves the disks without snapshots.
      {"", {SnapshotXml("a", "active", "ok")}, true},
  };
  for (const auto& c : cases) {
    engine->clearRequests();
    serve(Href("vms", "v1"), VmXml("v1", "vm1", c.hostId, "c1"));
    serve(Href("vms", "v1") + "/snapshots", ListXml("snapshots", c.snapshots));
    EXPECT_EQ(facade->moveDisks("v1", {Disk("k1", "source")}, "target", true), c.result);
    EXPECT_EQ(count("POST", Href("disks", "k1") + "/move"), 1u);
    for (const auto& r : engine->requests()) {
      if (r.method == "POST") {
        EXPECT_NE(r.body.find("<storage_domain id=\"sdT\"/>"), std::string::npos);
      }
    }
    // The count is taken only where it means something; the snapshots are then all waited for.
    const size_t reads = *c.hostId ? 1 : 0;
    EXPECT_EQ(count("GET", Href("vms", "v1") + "/snapshots"), reads);
    EXPECT_GE(count("GET", Href("vms", "v1") + "/snapshots/m1"), reads);
    EXPECT_GE(count("GET", Href("vms", "v1") + "/snapshots/old"), reads);
  }
  EXPECT_TRUE(logs.contains("VM [v1] is down: its disks move without snapshots"));
}

TEST_F(MigrationTest, ProgressOfLockedArrivedIllegalAndStrayDisks) {
  // From 4.1 on the total size is the space a disk uses, never 0 for one with data.
  serveDiskState("k1", "LOCKED", "sdS", 100);
  serveDiskState("k2", "ok", "sdT", 4050038784);
  bool completed = true;
  bool failed = false;
  ASSERT_TRUE(facade->CheckTaskProgress("v1", "source", "target",
                                        {Disk("k1", "source"), Disk("k2", "source")}, false,
                                        completed, failed));
  EXPECT_FALSE(completed);
  EXPECT_FALSE(failed);

  serveDiskState("k1", "ok", "sdT");  // an engine before 4.1 sends no total size
  ASSERT_TRUE(facade->CheckTaskProgress("v1", "source", "target",
                                        {Disk("k1", "source"), Disk("k2", "source")}, false,
                                        completed, failed));
  EXPECT_TRUE(completed);

  // Unlocked, but back on the source; or on the target, but illegal.
  for (const auto& [status, domain] : {std::pair("ok", "sdS"), std::pair("Illegal", "sdT")}) {
    serveDiskState("k1", status, domain);
    completed = false;
    failed = false;
    EXPECT_FALSE(facade->CheckTaskProgress("v1", "source", "target",
                                           {Disk("k1", "source"), Disk("k2", "source")}, false,
                                           completed, failed));
    EXPECT_TRUE(failed) << status;
    EXPECT_FALSE(completed) << status;
    EXPECT_TRUE(
        logs.containsError("Failed to move disk [disk-k1] from [source] to [target] domain"));
  }
  EXPECT_TRUE(logs.containsError("Disk [disk-k1][k1] is illegal after its move"));

  completed = true;
  failed = false;
  EXPECT_FALSE(facade->CheckTaskProgress("v1", "source", "target", {}, false, completed, failed));
  EXPECT_TRUE(completed);
  EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace Hypervale
