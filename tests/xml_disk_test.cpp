// Disks, disk attachments and snapshots: real bodies of both API versions, reading rules and
// the bodies sent to the engine.
#include <gtest/gtest.h>

#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

#include "support/record_test_support.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;
using recordtest::Join;
using recordtest::ParserAt;
using recordtest::RootOf;
using std::to_string;

// Flags as letters: Sparse, Bootable, sHareable, Active, Read-only, Wipe after delete.
std::string Flags(const SDiskInfoLib& d) {
  return std::string(d.sparse ? "S" : "-") + (d.bootable ? "B" : "-") + (d.shareable ? "H" : "-") +
         (d.active ? "A" : "-") + (d.readOnly ? "R" : "-") + (d.wipeAfterDelete ? "W" : "-");
}

std::string Summary(const SDiskInfoLib& d) {
  return Join({d.id, d.name, d.imageId, d.storageDomainId, d.storageDomainHref, d.snapshotId,
               d.snapshotHref, to_string(d.provisionedSize), to_string(d.actualSize),
               to_string(d.totalSize), d.status, d.format, d.interface, d.storageType,
               d.logicalName, Flags(d), d.storageDomainName});
}

TEST(DiskReaderTest, RealBodies) {
  struct Case {
    const char* fixture;
    size_t index;  // in a list body
    const char* summary;
  };
  const Case cases[] = {
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
       "52b4ab2c-5e96-46f9-b764-7cad2b7c30aa|rpo-evm-iscsi_Disk6||||||0|0|0|||virtio|||---A--|"},
      {"v3/disks-with-lun.xml", 5,
       "e46eb24d-7b1e-4b04-8343-3b5c3f03a3bd|evm-v5012_Disk5|"
       "b92c078a-2503-4ce3-adf1-e17c7e5cac35|6284e934-9f11-486a-b9d8-aaacfa4f226f|||"
       "|7516192768|4429185024|0|ok|cow|ide|||SB-A--|"},
      // v4 top-level disks: no interface, bootable or active.
      {"v4/disks.xml", 0,
       "364605de-beb7-454c-b03a-a95ddd382b3d|OVF_STORE|18661e1f-8df0-4465-a6a5-bcf2be5fd146|"
       "26c8cd54-65d4-424f-a870-8145439bba1c|"
       "/ovirt-engine/api/storagedomains/26c8cd54-65d4-424f-a870-8145439bba1c|||134217728|"
       "134217728|0|ok|raw||image||--H---|"},
      {"v4/disks.xml", 11,
       "08b054b2-0001-4dd6-9cf2-434213c02fbe|GlanceDisk-fe03ebf|"
       "465933ac-5121-4f8d-af89-85193404c725|723b4112-1502-4b01-83a7-2ba87d1bbb35|"
       "/ovirt-engine/api/storagedomains/723b4112-1502-4b01-83a7-2ba87d1bbb35|||8589934592|"
       "2561437696|4050038784|ok|cow||image||S-----|"},
      {"v4/snapshot_disks.xml", 0,
       "08b054b2-0001-4dd6-9cf2-434213c02fbe|GlanceDisk-fe03ebf|"
       "32b2f0c8-0992-4500-8e3c-c78ffad01ef2|723b4112-1502-4b01-83a7-2ba87d1bbb35||"
       "395ead74-54f9-4f16-88bb-21a7a1e4924e||8589934592|1073741824|0|ok|cow||image||S-----|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + to_string(c.index));
    SDiskInfoLib disk;
    ASSERT_TRUE(recordtest::ReadOneOf(Fixture(c.fixture), "disks", c.index, disk,
                                      &TzRhevParser::parseDiskInfo,
                                      &TzRhevParser::parseDiskInfoList));
    EXPECT_EQ(Summary(disk), c.summary);
  }
}

TEST(DiskReaderTest, StorageDomainChoice) {
  struct Case {
    const char* children;
    const char* idAndHref;
  };
  const Case cases[] = {
      {"<storage_domains><storage_domain href=\"/sd/1\" id=\"1\"/>"
       "<storage_domain href=\"/sd/2\" id=\"2\"/></storage_domains>",
       "1|/sd/1"},
      {"<storage_domain href=\"/sd/3\" id=\"3\"/>", "3|/sd/3"},
      {"<storage_domain href=\"/sd/3\" id=\"3\"/><storage_domains><storage_domain id=\"4\"/>"
       "</storage_domains>",
       "4|"},
      {"<storage_domains><storage_domain id=\"4\"/></storage_domains>"
       "<storage_domain href=\"/sd/3\" id=\"3\"/>",
       "4|"},
      // Nothing usable: the record keeps what it held.
      {"<storage_domain href=\"/sd/5\"/><storage_domains/>", "old|/old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser;
    SDiskInfoLib disk;
    disk.storageDomainId = "old";
    disk.storageDomainHref = "/old";
    ASSERT_TRUE(parser.parseDiskInfo(std::string("<disk>") + c.children + "</disk>", disk));
    EXPECT_EQ(Join({disk.storageDomainId, disk.storageDomainHref}), c.idAndHref);
  }
}

TEST(DiskReaderTest, LunFormatRule) {
  struct Case {
    const char* children;
    const char* format;
  };
  const Case cases[] = {
      {"<format>raw</format><storage_type>lun</storage_type>", "raw"},
      {"<format>raw</format><storage_type>lun</storage_type><status>ok</status>", "lun"},
      {"<storage_type>lun</storage_type><link rel=\"a\" href=\"/a\"/>", "lun"},
      {"<storage_type>lun</storage_type><name>d</name><format>raw</format>", "raw"},
      {"<storage_type>lun</storage_type><format>raw</format><alias>d</alias>", "lun"},
      // The disk's own fields do not trigger it; the comparison is exact.
      {"<storage_type>lun</storage_type><format>raw</format><sparse>false</sparse>", "raw"},
      {"<format>raw</format><storage_type>LUN</storage_type><status>ok</status>", "raw"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser;
    SDiskInfoLib disk;
    ASSERT_TRUE(parser.parseDiskInfo(std::string("<disk>") + c.children + "</disk>", disk));
    EXPECT_EQ(disk.format, c.format);
  }

  // "lun_storage" leaves no trace, not even its id or its logical unit's size.
  TzRhevParser parser;
  SDiskInfoLib plain, withLun;
  ASSERT_TRUE(parser.parseDiskInfo("<disk id=\"d1\"><interface>virtio</interface></disk>", plain));
  ASSERT_TRUE(parser.parseDiskInfo(
      "<disk id=\"d1\"><lun_storage id=\"36001\"><name>lun</name><logical_unit id=\"36001\">"
      "<serial>S</serial><size>107374182400</size><disk_id>x</disk_id></logical_unit>"
      "</lun_storage><interface>virtio</interface></disk>",
      withLun));
  EXPECT_EQ(Summary(withLun), Summary(plain));
}

TEST(DiskAttachmentReaderTest, RealBodies) {
  auto summary = [](const SDiskAttachmentInfoLib& a) {
    return Join({a.id, a.interface, a.active ? "active" : "-", a.bootable ? "bootable" : "-",
                 a.readOnly ? "read_only" : "-", a.diskId, a.diskHref, a.vmId, a.vmHref,
                 a.snapshotId});
  };
  TzRhevParser parser;
  SDiskAttachmentInfoLib single;
  std::vector<SDiskAttachmentInfoLib> list;
  ASSERT_TRUE(parser.parseDiskAttachmentInfo(Fixture("v4/disk_attachment.xml"), single));
  ASSERT_TRUE(parser.parseDiskAttachmentInfoList(Fixture("v4/disk_attachments.xml"), list));
  ASSERT_TRUE(parser.parseDiskAttachmentInfoList(
      "<disk_attachments><disk_attachment id=\"a\"><read_only>true</read_only>"
      "<active>false</active><interface>virtio_scsi</interface><disk id=\"d\"/>"
      "</disk_attachment></disk_attachments>",
      list));
  EXPECT_EQ(summary(single),
            "456|virtio|active|bootable|-|456|/ovirt-engine/api/disks/456|123|"
            "/ovirt-engine/api/vms/123|");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(summary(list[0]),
            "08b054b2-0001-4dd6-9cf2-434213c02fbe|virtio|active|bootable|-|"
            "08b054b2-0001-4dd6-9cf2-434213c02fbe|"
            "/ovirt-engine/api/disks/08b054b2-0001-4dd6-9cf2-434213c02fbe|"
            "a1293e54-dae8-496f-baa4-27719592113e|"
            "/ovirt-engine/api/vms/a1293e54-dae8-496f-baa4-27719592113e|");
  EXPECT_EQ(summary(list[1]), "a|virtio_scsi|-|-|read_only|d||||");
}

std::string Summary(const SSnapshotInfoLib& s) {
  return Join({s.id, s.description, s.snapshotType, to_string(s.date), s.snapshotStatus, s.ovfData,
               s.name});
}

TEST(SnapshotReaderTest, RealBodies) {
  TzRhevParser parser;
  std::vector<SSnapshotInfoLib> v3, v4;
  ASSERT_TRUE(parser.parseSnapshotInfoList(Fixture("v3/snapshots.xml"), v3));
  ASSERT_TRUE(parser.parseSnapshotInfoList(Fixture("v4/snapshots.xml"), v4));
  ASSERT_EQ(v3.size(), 3u);
  ASSERT_EQ(v4.size(), 2u);
  // v3 names the kind "type"; a regular snapshot embeds a VM with a description, status, type
  // and initialization of its own, none of which is the snapshot's.
  EXPECT_EQ(Summary(v3[0]),
            "a49102de-1e2a-45b7-b464-185f959dbfbb|Active VM|active|1354721415346|ok||");
  EXPECT_EQ(Summary(v3[1]),
            "edbc4501-23a6-45c9-a736-b378f45a2aec|Snapshot1|regular|1354722731111|ok||");
  EXPECT_EQ(Summary(v4[0]),
            "fc082077-576c-4f06-a9cc-be2c3bd8f2d9|Active VM|active|1566303197228|ok||");
  EXPECT_EQ(Summary(v4[1]),
            "395ead74-54f9-4f16-88bb-21a7a1e4924e|vm_on_snap_1|regular|1566364835534|ok||");
  EXPECT_EQ(v4[1].href,
            "/ovirt-engine/api/vms/a1293e54-dae8-496f-baa4-27719592113e/snapshots/"
            "395ead74-54f9-4f16-88bb-21a7a1e4924e");
}

TEST(SnapshotReaderTest, KindInEitherForm) {
  struct Case {
    const char* children;
    const char* type;
  };
  const Case cases[] = {
      {"<snapshot_type>regular</snapshot_type>", "regular"},
      {"<type>regular</type>", "regular"},
      {"<date>1</date><snapshot_status>ok</snapshot_status><type>active</type>", "active"},
      {"<type>active</type><snapshot_type>regular</snapshot_type>", "regular"},
      {"<snapshot_type>regular</snapshot_type><type>active</type>", "regular"},
      {"<vm><type>server</type></vm>", "kept"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser;
    SSnapshotInfoLib snapshot;
    snapshot.snapshotType = "kept";
    ASSERT_TRUE(
        parser.parseSnapshotInfo(std::string("<snapshot>") + c.children + "</snapshot>", snapshot));
    EXPECT_EQ(snapshot.snapshotType, c.type);
  }
}

TEST(SnapshotReaderTest, StatusOvfAndKeptFields) {
  TzRhevParser parser;
  SSnapshotInfoLib v3, v4;
  v3.id = "set-before";
  ASSERT_TRUE(parser.parseSnapshotInfo(
      "<snapshot><snapshot_status><state>locked</state></snapshot_status>"
      "<initialization><configuration><type>ovf</type><data>&lt;ovf:Envelope/&gt;</data>"
      "</configuration></initialization><date>2019-08-20T12:13:17.228Z</date></snapshot>",
      v3));
  ASSERT_TRUE(
      parser.parseSnapshotInfo("<snapshot id=\"s-2\"><snapshot_status> locked\t</snapshot_status>"
                               "<date>1566303197228</date></snapshot>",
                               v4));
  EXPECT_EQ(Summary(v3), "set-before|||1566303197228|locked|<ovf:Envelope/>|");
  EXPECT_EQ(Summary(v4), "s-2|||1566303197228|locked||");
}

SDiskInfoLib NewDisk() {
  SDiskInfoLib disk;
  disk.id = "d-1";
  disk.name = "mydisk";
  disk.imageId = "img-1";
  disk.format = "cow";
  disk.interface = "virtio";
  disk.storageDomainId = "sd-1";
  disk.description = disk.status = disk.logicalName = disk.storageType = "never-written";
  disk.totalSize = 7;
  return disk;
}

TEST(DiskWriterTest, ThresholdsAndConditions) {
  const std::string flags =
      "<format>cow</format><interface>virtio</interface><sparse>true</sparse>"
      "<bootable>false</bootable><shareable>false</shareable><read_only>false</read_only>"
      "<wipe_after_delete>false</wipe_after_delete>";
  struct Case {
    unsigned major, minor;
    std::uint64_t provisionedSize, actualSize;
    const char* storageDomainName;
    const char* snapshotId;
    std::string children;
  };
  const Case cases[] = {
      // The record always holds a domain id; without a name no domain is written.
      {4, 0, 0, 0, "", "", flags},
      {3, 6, 6442450944ULL, 0, "", "", "<size>6442450944</size>" + flags},
      {4, 0, 6442450944ULL, 0, "", "", "<provisioned_size>6442450944</provisioned_size>" + flags},
      {4, 1, 0, 5368709120ULL, "", "", "<initial_size>5368709120</initial_size>" + flags},
      {4, 1, 0, 0, "mydata", "s-1",
       "<snapshot id=\"s-1\"/><storage_domains><storage_domain id=\"sd-1\" name=\"mydata\"/>"
       "</storage_domains>" +
           flags},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.children);
    TzRhevParser parser = ParserAt(c.major, c.minor, 0);
    SDiskInfoLib disk = NewDisk();
    disk.sparse = true;
    disk.provisionedSize = c.provisionedSize;
    disk.actualSize = c.actualSize;
    disk.storageDomainName = c.storageDomainName;
    disk.snapshotId = c.snapshotId;
    std::string body;
    ASSERT_TRUE(parser.serializeDiskInfo(disk, body));
    EXPECT_EQ(RootOf(body), "<disk id=\"d-1\"><name>mydisk</name><image_id>img-1</image_id>" +
                                c.children + "</disk>");
  }

  // A non-sparse disk never sends an initial size; every flag is written as set.
  TzRhevParser parser = ParserAt(4, 1, 0);
  SDiskInfoLib disk = NewDisk();
  disk.actualSize = 5368709120ULL;
  disk.bootable = disk.shareable = disk.readOnly = disk.wipeAfterDelete = true;
  std::string body;
  ASSERT_TRUE(parser.serializeDiskInfo(disk, body));
  EXPECT_EQ(RootOf(body),
            "<disk id=\"d-1\"><name>mydisk</name><image_id>img-1</image_id><format>cow</format>"
            "<interface>virtio</interface><sparse>false</sparse><bootable>true</bootable>"
            "<shareable>true</shareable><read_only>true</read_only>"
            "<wipe_after_delete>true</wipe_after_delete></disk>");
}

TEST(DiskAttachmentWriterTest, ThresholdsAndConditions) {
  const std::string flags =
      "<bootable>true</bootable><read_only>true</read_only><interface>virtio_scsi</interface>";
  const std::string disk = "<disk id=\"d-1\"><read_only>true</read_only>";
  const std::string snapshot = "<snapshot id=\"s-1\"/>";
  struct Case {
    unsigned major, minor, build;
    const char* diskId;
    std::string children;
  };
  const Case cases[] = {
      {4, 0, 1, "", flags},  // without a disk the snapshot is not written either
      {4, 0, 2, "", "<active>true</active>" + flags},
      {3, 6, 0, "d-1", flags + disk + snapshot + "</disk>"},
      {4, 1, 0, "d-1", "<active>true</active>" + flags + disk + snapshot + "</disk>"},
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

TEST(DiskRecordWritersTest, SnapshotDocumentAndRealRequestShapes) {
  TzRhevParser v3 = ParserAt(3, 6, 7);
  TzRhevParser v4 = ParserAt(4, 1, 0);
  std::string body;

  SSnapshotInfoLib snapshot;
  snapshot.description = "Backup <nightly>";
  snapshot.snapshotType = snapshot.snapshotStatus = snapshot.ovfData = "never-written";
  ASSERT_TRUE(v4.serializeSnapshotInfo(snapshot, body));
  EXPECT_EQ(RootOf(body),
            "<snapshot><description>Backup &lt;nightly&gt;</description>"
            "<persist_memorystate>false</persist_memorystate></snapshot>");
  snapshot.description = "Virtual Machine 1 - Snapshot For Backup";
  ASSERT_TRUE(v3.serializeSnapshotInfo(snapshot, body));
  recordtest::ExpectSendsShapeOf(Fixture("v3/request-add-snapshot.xml"), body, {});
  snapshot.description = "My snapshot";
  ASSERT_TRUE(v4.serializeSnapshotInfo(snapshot, body));
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-snapshot.xml"), body, {});
  // Our snapshots always take every disk.
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-snapshot-with-disks.xml"), body,
                                 {"snapshot/disk_attachments"});

  SDiskInfoLib disk;
  disk.name = "mydisk";
  disk.provisionedSize = 1048576;
  disk.format = "cow";
  disk.storageDomainId = "123";
  disk.storageDomainName = "mydata";
  ASSERT_TRUE(v4.serializeDiskInfo(disk, body));
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-disk.xml"), body, {"disk/backup"});

  SDiskInfoLib snapshotDisk;
  snapshotDisk.id = snapshotDisk.snapshotId = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  ASSERT_TRUE(v3.serializeDiskInfo(snapshotDisk, body));
  recordtest::ExpectSendsShapeOf(Fixture("v3/request-attach-disk-snapshot.xml"), body, {});

  SDiskAttachmentInfoLib attach;
  attach.bootable = attach.active = true;
  attach.interface = "ide";
  attach.diskId = "123";
  ASSERT_TRUE(v4.serializeDiskAttachmentInfo(attach, body));
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-attach-disk.xml"), body,
                                 {"disk_attachment/pass_discard"});

  // Creating a disk inside the attachment is not done here; the attachment's part matches.
  attach.bootable = false;
  attach.interface = "virtio";
  ASSERT_TRUE(v4.serializeDiskAttachmentInfo(attach, body));
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-disk-attachment-new-disk.xml"), body,
                                 {"disk_attachment/disk"});
}

// The first value the written body carries empty ("" when none): an attribute without a
// value, or an element with neither text, children nor attributes.
template <typename Record>
std::string EmptyValueWritten(TzRhevParser& parser, const Record& record,
                              bool (TzRhevParser::*write)(const Record&, std::string&)) {
  static const std::regex kEmpty("[a-z_]+=\"\"|<[a-z_]+/>|<([a-z_]+)></\\1>");
  std::string body;
  EXPECT_TRUE((parser.*write)(record, body));
  std::smatch found;
  return std::regex_search(body, found, kEmpty) ? found.str() : "";
}

TEST(RequestBodiesTest, ValuesThatAreNotSetAreLeftOut) {
  // Each record as the operations fill it, every other text left unset.
  TzRhevParser v3 = ParserAt(3, 6, 7);
  TzRhevParser v4 = ParserAt(4, 1, 0);
  SVMInfoLib newVm;  // named cluster, no id yet, sizes left to the template
  newVm.name = "restored";
  newVm.clusterName = "prod";
  SVMInfoLib fromOvf;  // the OVF names the VM
  fromOvf.clusterId = "c-1";
  fromOvf.ovfData = "<ovf:Envelope/>";
  SDiskInfoLib newDisk;
  newDisk.name = "data";
  newDisk.provisionedSize = 1073741824;
  newDisk.storageDomainName = "data1";
  SDiskInfoLib update;  // only flags: the name, format and interface must stay as they are
  update.bootable = true;
  SDiskInfoLib snapshotDisk;
  snapshotDisk.id = "d-1";
  snapshotDisk.snapshotId = "s-1";
  SDiskAttachmentInfoLib attachment;
  attachment.diskId = "d-1";
  SSnapshotInfoLib snapshot;
  snapshot.description = "nightly";
  SNicInfoLib nic;
  nic.name = "nic1";
  SStorageDomainInfoLib domain;  // the format left to the engine
  domain.name = "backup-sd";
  domain.storageType = "nfs";
  domain.storageAddress = "nfs.example.com";
  domain.storagePath = "/exports/backup";
  domain.hostName = "host1";
  const std::pair<const char*, std::string> written[] = {
      {"new VM", EmptyValueWritten(v4, newVm, &TzRhevParser::serializeVMInfo)},
      {"VM from OVF", EmptyValueWritten(v3, fromOvf, &TzRhevParser::serializeVMInfo)},
      {"new disk", EmptyValueWritten(v4, newDisk, &TzRhevParser::serializeDiskInfo)},
      {"disk update", EmptyValueWritten(v3, update, &TzRhevParser::serializeDiskInfo)},
      {"v3 attach", EmptyValueWritten(v3, snapshotDisk, &TzRhevParser::serializeDiskInfo)},
      {"attachment", EmptyValueWritten(v4, attachment, &TzRhevParser::serializeDiskAttachmentInfo)},
      {"snapshot", EmptyValueWritten(v4, snapshot, &TzRhevParser::serializeSnapshotInfo)},
      {"NIC", EmptyValueWritten(v4, nic, &TzRhevParser::serializeNicInfo)},
      {"storage domain", EmptyValueWritten(v4, domain, &TzRhevParser::serializeStorageDomainInfo)},
  };
  for (const auto& [what, empty] : written) EXPECT_EQ(empty, "") << what;
}

}  // namespace
}  // namespace Hypervale
