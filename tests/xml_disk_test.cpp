// Disks, disk attachments and snapshots: real bodies of both API versions and reading rules;
// then the request bodies of every record against real requests, version forms and empty values.
#include <gtest/gtest.h>

#include <regex>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using recordtest::ExpectShapeOfRequest;
using recordtest::Join;
using recordtest::ParserAt;
using recordtest::RootOf;
using std::to_string;
using P = TzRhevParser;

// Flags as letters: Sparse, Bootable, sHareable, Active, Read-only, Wipe after delete.
std::string Disk(const SDiskInfoLib& d) {
  const std::string flags = std::string(d.sparse ? "S" : "-") + (d.bootable ? "B" : "-") +
                            (d.shareable ? "H" : "-") + (d.active ? "A" : "-") +
                            (d.readOnly ? "R" : "-") + (d.wipeAfterDelete ? "W" : "-");
  return Join({d.id, d.name, d.imageId, d.storageDomainId, d.storageDomainHref, d.snapshotId,
               d.snapshotHref, to_string(d.provisionedSize), to_string(d.actualSize),
               to_string(d.totalSize), d.status, d.format, d.interface, d.storageType,
               d.logicalName, flags, d.storageDomainName});
}

std::string Attachment(const SDiskAttachmentInfoLib& a) {
  return Join({a.id, a.interface, a.active ? "active" : "-", a.bootable ? "bootable" : "-",
               a.readOnly ? "read_only" : "-", a.diskId, a.diskHref, a.vmId, a.vmHref,
               a.snapshotId});
}

std::string Snapshot(const SSnapshotInfoLib& s) {
  return Join({s.id, s.description, s.snapshotType, to_string(s.date), s.snapshotStatus, s.ovfData,
               s.name});
}

TEST(DiskReaderTest, RealBodies) {
  recordtest::ExpectReads(
      "disks", &P::parseDiskInfo, &P::parseDiskInfoList, Disk,
      {
          // v3 VM disk: interface and flags on the disk, its domain by id only.
          {"v3/disks.xml", 0,
           "da123bb9-095a-4933-95f2-8032dfa332e1|GlanceDisk-73786f4|"
           "cbfd10d8-6aac-4046-8b4f-0b607a6d4d1b|ee745353-c069-4de8-8d76-ec2e155e2ca0|||"
           "|42991616|26214400|0|ok|cow|virtio|image||S--A--|"},
          // A single "storage_domain" with an href and a list naming it by id: the list wins.
          {"v3/disk-on-4.0-engine.xml", 0,
           "da123bb9-095a-4933-95f2-8032dfa332e1|GlanceDisk-73786f4|"
           "cbfd10d8-6aac-4046-8b4f-0b607a6d4d1b|ee745353-c069-4de8-8d76-ec2e155e2ca0|||"
           "|41126400|2564096|0|ok|cow|virtio|image||S-----|"},
          // Engine 3.1's direct LUN disk has no "storage_type", so its format stays empty.
          {"v3/disks-with-lun.xml", 0,
           "52b4ab2c-5e96-46f9-b764-7cad2b7c30aa|rpo-evm-iscsi_Disk6||||||0|0|0|||virtio|||---A--"
           "|"},
          // v4 top-level disks: no interface, bootable or active.
          {"v4/disks.xml", 11,
           "08b054b2-0001-4dd6-9cf2-434213c02fbe|GlanceDisk-fe03ebf|"
           "465933ac-5121-4f8d-af89-85193404c725|723b4112-1502-4b01-83a7-2ba87d1bbb35|"
           "/ovirt-engine/api/storagedomains/723b4112-1502-4b01-83a7-2ba87d1bbb35|||8589934592|"
           "2561437696|4050038784|ok|cow||image||S-----|"},
          {"v4/snapshot_disks.xml", 0,
           "08b054b2-0001-4dd6-9cf2-434213c02fbe|GlanceDisk-fe03ebf|"
           "32b2f0c8-0992-4500-8e3c-c78ffad01ef2|723b4112-1502-4b01-83a7-2ba87d1bbb35||"
           "395ead74-54f9-4f16-88bb-21a7a1e4924e||8589934592|1073741824|0|ok|cow||image||S-----|"},
          // "lun_storage" leaves no trace, not even its id or its logical unit's size.
          {"<disk id=\"d1\"><lun_storage id=\"36001\"><name>lun</name><logical_unit id=\"36001\">"
           "<size>107374182400</size></logical_unit></lun_storage></disk>",
           0, "d1|||||||0|0|0||||||------|"},
      });
  recordtest::ExpectReads(
      "disk_attachments", &P::parseDiskAttachmentInfo, &P::parseDiskAttachmentInfoList, Attachment,
      {
          {"v4/disk_attachment.xml", 0,
           "456|virtio|active|bootable|-|456|/ovirt-engine/api/disks/456|123|"
           "/ovirt-engine/api/vms/123|"},
          {"v4/disk_attachments.xml", 0,
           "08b054b2-0001-4dd6-9cf2-434213c02fbe|virtio|active|bootable|-|"
           "08b054b2-0001-4dd6-9cf2-434213c02fbe|"
           "/ovirt-engine/api/disks/08b054b2-0001-4dd6-9cf2-434213c02fbe|"
           "a1293e54-dae8-496f-baa4-27719592113e|"
           "/ovirt-engine/api/vms/a1293e54-dae8-496f-baa4-27719592113e|"},
          {"<disk_attachment id=\"a\"><read_only>true</read_only><active>false</active>"
           "<interface>virtio_scsi</interface><disk id=\"d\"/></disk_attachment>",
           0, "a|virtio_scsi|-|-|read_only|d||||"},
      });
  // v3 names the kind "type"; a regular snapshot embeds a VM with a description, status, type
  // and initialization of its own, none of which is the snapshot's.
  recordtest::ExpectReads(
      "snapshots", &P::parseSnapshotInfo, &P::parseSnapshotInfoList, Snapshot,
      {
          {"v3/snapshots.xml", 1,
           "edbc4501-23a6-45c9-a736-b378f45a2aec|Snapshot1|regular|1354722731111|ok||"},
          {"v4/snapshots.xml", 1,
           "395ead74-54f9-4f16-88bb-21a7a1e4924e|vm_on_snap_1|regular|1566364835534|ok||"},
          {"<snapshot><snapshot_status><state>locked</state></snapshot_status><initialization>"
           "<configuration><type>ovf</type><data>&lt;ovf:Envelope/&gt;</data></configuration>"
           "</initialization><date>2019-08-20T12:13:17.228Z</date></snapshot>",
           0, "|||1566303197228|locked|<ovf:Envelope/>|"},
      });
}

TEST(DiskReaderTest, ChoicesBetweenForms) {
  struct Case {
    const char* body;
    const char* read;  // the domain's id and href, or the format, or the snapshot's kind
  };
  const Case domains[] = {
      {"<storage_domains><storage_domain href=\"/sd/1\" id=\"1\"/>"
       "<storage_domain href=\"/sd/2\" id=\"2\"/></storage_domains>",
       "1|/sd/1"},
      {"<storage_domain href=\"/sd/3\" id=\"3\"/>", "3|/sd/3"},
      {"<storage_domains><storage_domain id=\"4\"/></storage_domains>"
       "<storage_domain href=\"/sd/3\" id=\"3\"/>",
       "4|"},
      // Nothing usable: the record keeps what it held.
      {"<storage_domain href=\"/sd/5\"/><storage_domains/>", "old|/old"},
  };
  // A direct LUN disk's format is "lun" once a later element that is none of the disk's own
  // fields follows its storage type; the comparison is exact.
  const Case formats[] = {
      {"<format>raw</format><storage_type>lun</storage_type>", "raw"},
      {"<format>raw</format><storage_type>lun</storage_type><status>ok</status>", "lun"},
      {"<storage_type>lun</storage_type><name>d</name><format>raw</format>", "raw"},
      {"<storage_type>lun</storage_type><format>raw</format><alias>d</alias>", "lun"},
      {"<storage_type>lun</storage_type><format>raw</format><sparse>false</sparse>", "raw"},
      {"<format>raw</format><storage_type>LUN</storage_type><status>ok</status>", "raw"},
  };
  const Case kinds[] = {
      {"<type>regular</type>", "regular"},
      {"<type>active</type><snapshot_type>regular</snapshot_type>", "regular"},
      {"<snapshot_type>regular</snapshot_type><type>active</type>", "regular"},
      {"<vm><type>server</type></vm>", "kept"},
  };
  TzRhevParser parser;
  for (const auto& c : domains) {
    SDiskInfoLib disk;
    disk.storageDomainId = "old";
    disk.storageDomainHref = "/old";
    ASSERT_TRUE(parser.parseDiskInfo(std::string("<disk>") + c.body + "</disk>", disk));
    EXPECT_EQ(Join({disk.storageDomainId, disk.storageDomainHref}), c.read) << c.body;
  }
  for (const auto& c : formats) {
    SDiskInfoLib disk;
    ASSERT_TRUE(parser.parseDiskInfo(std::string("<disk>") + c.body + "</disk>", disk));
    EXPECT_EQ(disk.format, c.read) << c.body;
  }
  for (const auto& c : kinds) {
    SSnapshotInfoLib snapshot;
    snapshot.snapshotType = "kept";
    ASSERT_TRUE(
        parser.parseSnapshotInfo(std::string("<snapshot>") + c.body + "</snapshot>", snapshot));
    EXPECT_EQ(snapshot.snapshotType, c.read) << c.body;
  }
}

TEST(DiskWriterTest, VersionFormsAndConditions) {
  const std::string flags =
      "<format>cow</format><interface>virtio</interface><sparse>true</sparse>"
      "<bootable>false</bootable><shareable>false</shareable><read_only>false</read_only>"
      "<wipe_after_delete>false</wipe_after_delete>";
  struct Case {
    unsigned major, minor;
    std::uint64_t provisionedSize, actualSize;
    const char* storageDomainName;
    std::string children;
  };
  const Case cases[] = {
      // The record always holds a domain id; without a name no domain is written.
      {3, 6, 6442450944ULL, 0, "", "<size>6442450944</size>" + flags},
      {4, 0, 6442450944ULL, 0, "", "<provisioned_size>6442450944</provisioned_size>" + flags},
      {4, 1, 0, 5368709120ULL, "", "<initial_size>5368709120</initial_size>" + flags},
      {4, 1, 0, 0, "mydata",
       "<storage_domains><storage_domain id=\"sd-1\" name=\"mydata\"/></storage_domains>" + flags},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser = ParserAt(c.major, c.minor, 0);
    SDiskInfoLib disk;
    disk.id = "d-1";
    disk.format = "cow";
    disk.interface = "virtio";
    disk.storageDomainId = "sd-1";
    disk.sparse = true;
    disk.provisionedSize = c.provisionedSize;
    disk.actualSize = c.actualSize;
    disk.storageDomainName = c.storageDomainName;
    std::string body;
    ASSERT_TRUE(parser.serializeDiskInfo(disk, body));
    EXPECT_EQ(RootOf(body), "<disk id=\"d-1\">" + c.children + "</disk>");
    // A non-sparse disk never sends an initial size; every flag is written as set.
    disk.sparse = false;
    disk.bootable = disk.shareable = disk.readOnly = disk.wipeAfterDelete = true;
    ASSERT_TRUE(parser.serializeDiskInfo(disk, body));
    EXPECT_EQ(body.find("initial_size"), std::string::npos);
    EXPECT_NE(body.find("<sparse>false</sparse><bootable>true</bootable><shareable>true"
                        "</shareable><read_only>true</read_only><wipe_after_delete>true"),
              std::string::npos);
  }
}

TEST(DiskAttachmentWriterTest, ActiveFrom402AndTheDiskOnlyWithItsId) {
  const std::string flags =
      "<bootable>true</bootable><read_only>true</read_only><interface>virtio_scsi</interface>";
  const std::string disk = "<disk id=\"d-1\"><read_only>true</read_only><snapshot id=\"s-1\"/>";
  struct Case {
    unsigned major, minor, build;
    const char* diskId;
    std::string children;
  };
  const Case cases[] = {
      {4, 0, 1, "", flags},  // without a disk the snapshot is not written either
      {4, 0, 2, "", "<active>true</active>" + flags},
      {3, 6, 0, "d-1", flags + disk + "</disk>"},
      {4, 1, 0, "d-1", "<active>true</active>" + flags + disk + "</disk>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser = ParserAt(c.major, c.minor, c.build);
    SDiskAttachmentInfoLib attachment;
    attachment.active = attachment.bootable = attachment.readOnly = true;
    attachment.interface = "virtio_scsi";
    attachment.diskId = c.diskId;
    attachment.snapshotId = "s-1";
    attachment.id = attachment.vmId = attachment.diskHref = "never-written";
    std::string body;
    ASSERT_TRUE(parser.serializeDiskAttachmentInfo(attachment, body));
    EXPECT_EQ(RootOf(body), "<disk_attachment>" + c.children + "</disk_attachment>");
  }
}

template <typename Record>
std::string Written(TzRhevParser& parser, const Record& record,
                    bool (TzRhevParser::*write)(const Record&, std::string&)) {
  std::string body;
  EXPECT_TRUE((parser.*write)(record, body));
  return body;
}

TEST(RequestBodiesTest, HaveTheShapeOfRealRequests) {
  TzRhevParser v3 = ParserAt(3, 6, 7);
  TzRhevParser v4 = ParserAt(4, 1, 0);
  SVMInfoLib vm;
  vm.name = "myvm";
  vm.clusterName = "Default";
  vm.memory = 536870912;
  vm.description = vm.hostId = vm.status = vm.osType = "never-written";
  vm.customProperties.push_back({"p", "v"});
  ExpectShapeOfRequest("v4/request-add-vm.xml", Written(v4, vm, &P::serializeVMInfo),
                       {"vm/description", "vm/os"});
  vm.name = "OVERRIDING_NAME";
  vm.clusterName = "cluster_name";
  vm.ovfData = ".....";
  ExpectShapeOfRequest("v3/request-add-vm-from-ovf.xml", Written(v3, vm, &P::serializeVMInfo), {},
                       {"vm/template", "vm/initialization/regenerate_ids"});

  SSnapshotInfoLib snapshot;
  snapshot.description = "Virtual Machine 1 - Snapshot For Backup";
  snapshot.snapshotType = snapshot.snapshotStatus = snapshot.ovfData = "never-written";
  ExpectShapeOfRequest("v3/request-add-snapshot.xml",
                       Written(v3, snapshot, &P::serializeSnapshotInfo), {},
                       {"snapshot/persist_memorystate"});
  snapshot.description = "My snapshot";
  ExpectShapeOfRequest("v4/request-add-snapshot.xml",
                       Written(v4, snapshot, &P::serializeSnapshotInfo), {});

  // Every flag is written, whether the engine's examples name it or not.
  const std::vector<std::string> flags = {"disk/sparse", "disk/bootable", "disk/shareable",
                                          "disk/read_only", "disk/wipe_after_delete"};
  SDiskInfoLib disk;
  disk.name = "mydisk";
  disk.provisionedSize = 1048576;
  disk.format = "cow";
  disk.storageDomainId = "123";
  disk.storageDomainName = "mydata";
  disk.description = disk.status = disk.logicalName = disk.storageType = "never-written";
  disk.totalSize = 7;
  std::vector<std::string> extra = flags;
  extra.push_back("disk/storage_domains/storage_domain/@name=mydata");
  ExpectShapeOfRequest("v4/request-add-disk.xml", Written(v4, disk, &P::serializeDiskInfo),
                       {"disk/backup"}, extra);
  SDiskInfoLib snapshotDisk;
  snapshotDisk.id = snapshotDisk.snapshotId = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  ExpectShapeOfRequest("v3/request-attach-disk-snapshot.xml",
                       Written(v3, snapshotDisk, &P::serializeDiskInfo), {}, flags);

  SDiskAttachmentInfoLib attach;
  attach.bootable = attach.active = true;
  attach.interface = "ide";
  attach.diskId = "123";
  ExpectShapeOfRequest("v4/request-attach-disk.xml",
                       Written(v4, attach, &P::serializeDiskAttachmentInfo),
                       {"disk_attachment/pass_discard"},
                       {"disk_attachment/read_only", "disk_attachment/disk/read_only"});

  SActionInfoLib action;
  action.storageDomainId = "456";
  ExpectShapeOfRequest("v4/request-move-disk.xml", Written(v4, action, &P::serializeAction), {},
                       {"action/async"});
  action.storageDomainId = "";
  action.detach = true;
  ExpectShapeOfRequest("v3/request-detach-disk.xml", Written(v3, action, &P::serializeAction), {},
                       {"action/async"});
}

// The first value the written body carries empty ("" when none): an attribute without a
// value, or an element with neither text, children nor attributes.
template <typename Record>
std::string EmptyValueWritten(TzRhevParser& parser, const Record& record,
                              bool (TzRhevParser::*write)(const Record&, std::string&)) {
  static const std::regex kEmpty("[a-z_]+=\"\"|<[a-z_]+/>|<([a-z_]+)></\\1>");
  std::smatch found;
  const std::string body = Written(parser, record, write);
  return std::regex_search(body, found, kEmpty) ? found.str() : "";
}

TEST(RequestBodiesTest, ValuesThatAreNotSetAreLeftOut) {
  // Records as the operations fill them, every other text left unset (the real-request rows
  // above check the other forms).
  TzRhevParser v3 = ParserAt(3, 6, 7);
  TzRhevParser v4 = ParserAt(4, 1, 0);
  SVMInfoLib fromOvf;  // the OVF names the VM; the cluster by id
  fromOvf.clusterId = "c-1";
  fromOvf.ovfData = "<ovf:Envelope/>";
  SDiskInfoLib update;  // only flags: the name, format and interface must stay as they are
  update.bootable = true;
  SDiskAttachmentInfoLib attachment;  // the interface left to the engine
  attachment.diskId = "d-1";
  SNicInfoLib nic;
  nic.name = "nic1";
  SStorageDomainInfoLib domain;  // the format left to the engine
  domain.name = "backup-sd";
  domain.storageType = "nfs";
  const std::pair<const char*, std::string> written[] = {
      {"VM from OVF", EmptyValueWritten(v3, fromOvf, &P::serializeVMInfo)},
      {"disk update", EmptyValueWritten(v3, update, &P::serializeDiskInfo)},
      {"attachment", EmptyValueWritten(v4, attachment, &P::serializeDiskAttachmentInfo)},
      {"NIC", EmptyValueWritten(v4, nic, &P::serializeNicInfo)},
      {"storage domain", EmptyValueWritten(v4, domain, &P::serializeStorageDomainInfo)},
  };
  for (const auto& [what, empty] : written) EXPECT_EQ(empty, "") << what;
}

}  // namespace
}  // namespace Hypervale
