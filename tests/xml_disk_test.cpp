// Disks, disk attachments and snapshots: real bodies of both API versions and reading rules;
// then the request bodies of every record against real requests, version forms and empty values.
#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using recordtest::ExpectShapeOfRequest;
using recordtest::Join;
using recordtest::ParserAt;
using recordtest::Written;
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

TEST(DiskReaderTest, RealBodiesAndChoicesBetweenForms) {
  recordtest::ExpectReads(
      "disks", &P::parseDiskInfo, &P::parseDiskInfoList, Disk,
      {
          // v3 VM disk: interface and flags on the disk, its domain by id only.
          {"v3/disks.xml", 0,
           "da12~32e1|GlanceDisk-73786f4|cbfd~4d1b|ee74~2ca0||||42991616|26214400|0|ok|cow|"
           "virtio|image||S--A--|"},
          // A single "storage_domain" with an href and a list naming it by id: the list wins.
          {"v3/disk-on-4.0-engine.xml", 0,
           "da12~32e1|GlanceDisk-73786f4|cbfd~4d1b|ee74~2ca0||||41126400|2564096|0|ok|cow|"
           "virtio|image||S-----|"},
          // Engine 3.1's direct LUN disk has no "storage_type", so its format stays empty.
          {"v3/disks-with-lun.xml", 0,
           "52b4~30aa|rpo-evm-iscsi_Disk6||||||0|0|0|||virtio|||---A--|"},
          // v4 top-level disks: no interface, bootable or active.
          {"v4/disks.xml", 11,
           "08b0~2fbe|GlanceDisk-fe03ebf|4659~c725|723b~bb35|"
           "/ovirt-engine/api/storagedomains/723b~bb35|||8589934592|2561437696|4050038784|ok|"
           "cow||image||S-----|"},
          {"v4/snapshot_disks.xml", 0,
           "08b0~2fbe|GlanceDisk-fe03ebf|32b2~1ef2|723b~bb35||395e~924e||8589934592|1073741824|"
           "0|ok|cow||image||S-----|"},
          // A single one alone is read.
          {"<disk><storage_domain href=\"/sd/3\" id=\"3\"/></disk>", 0,
           "|||3|/sd/3|||0|0|0||||||------|"},
          // A direct LUN disk's format is "lun" once a later element that is none of the
          // disk's own fields follows its storage type; "lun_storage" is one and leaves no
          // trace, not even its id or its logical unit's size. The comparison is exact.
          {"<disk id=\"d1\"><format>raw</format><storage_type>lun</storage_type><lun_storage "
           "id=\"36001\"><name>lun</name><logical_unit id=\"36001\"><size>107374182400</size>"
           "</logical_unit></lun_storage></disk>",
           0, "d1|||||||0|0|0||raw||lun||------|"},
          {"<disk><format>raw</format><storage_type>lun</storage_type><status>ok</status></disk>",
           0, "|||||||0|0|0|ok|lun||lun||------|"},
          {"<disk><format>raw</format><storage_type>LUN</storage_type><status>ok</status></disk>",
           0, "|||||||0|0|0|ok|raw||LUN||------|"},
      });
  recordtest::ExpectReads(
      "disk_attachments", &P::parseDiskAttachmentInfo, &P::parseDiskAttachmentInfoList, Attachment,
      {
          {"v4/disk_attachment.xml", 0,
           "456|virtio|active|bootable|-|456|/ovirt-engine/api/disks/456|123|"
           "/ovirt-engine/api/vms/123|"},
          {"v4/disk_attachments.xml", 0,
           "08b0~2fbe|virtio|active|bootable|-|08b0~2fbe|/ovirt-engine/api/disks/08b0~2fbe|"
           "a129~113e|/ovirt-engine/api/vms/a129~113e|"},
          {"<disk_attachment id=\"a\"><read_only>true</read_only><active>false</active>"
           "<interface>virtio_scsi</interface><disk id=\"d\"/></disk_attachment>",
           0, "a|virtio_scsi|-|-|read_only|d||||"},
      });
  // v3 names the kind "type", v4 "snapshot_type", which wins; a regular snapshot embeds a VM
  // with a description, status, type and initialization of its own, none of which is the
  // snapshot's.
  recordtest::ExpectReads(
      "snapshots", &P::parseSnapshotInfo, &P::parseSnapshotInfoList, Snapshot,
      {
          {"v3/snapshots.xml", 1, "edbc~2aec|Snapshot1|regular|1354722731111|ok||"},
          {"v4/snapshots.xml", 1, "395e~924e|vm_on_snap_1|regular|1566364835534|ok||"},
          {"<snapshot><snapshot_status><state>locked</state></snapshot_status><initialization>"
           "<configuration><type>ovf</type><data>&lt;ovf:Envelope/&gt;</data></configuration>"
           "</initialization><date>2019-08-20T12:13:17.228Z</date></snapshot>",
           0, "|||1566303197228|locked|<ovf:Envelope/>|"},
          {"<snapshot><type>active</type><snapshot_type>regular</snapshot_type><type>active"
           "</type></snapshot>",
           0, "||regular|0|||"},
      });
}

// API v3 calls the virtual size "size"; an initial size goes only with a sparse disk, a storage
// domain only when named; every flag as set.
TEST(DiskWriterTest, VersionFormsAndConditions) {
  // Engine version, provisioned and actual size, sparse, storage domain name, what the body
  // carries besides the flags.
  const std::tuple<unsigned, unsigned, std::uint64_t, std::uint64_t, bool, const char*, std::string>
      cases[] = {
          {3, 6, 6442450944ULL, 0, true, "", "<size>6442450944</size>"},
          {4, 0, 6442450944ULL, 0, true, "", "<provisioned_size>6442450944</provisioned_size>"},
          {4, 1, 0, 5368709120ULL, true, "", "<initial_size>5368709120</initial_size>"},
          {4, 1, 0, 5368709120ULL, false, "", ""},
          {4, 1, 0, 0, true, "mydata",
           "<storage_domains><storage_domain id=\"sd-1\" name=\"mydata\"/></storage_domains>"},
      };
  for (const auto& [major, minor, provisioned, actual, sparse, domainName, children] : cases) {
    SCOPED_TRACE(children);
    TzRhevParser parser = ParserAt(major, minor, 0);
    SDiskInfoLib disk;
    disk.id = "d-1";
    disk.storageDomainId = "sd-1";
    disk.provisionedSize = provisioned;
    disk.actualSize = actual;
    disk.sparse = sparse;
    disk.storageDomainName = domainName;
    disk.shareable = disk.wipeAfterDelete = true;
    EXPECT_EQ(Written(parser, disk, &P::serializeDiskInfo),
              "<disk id=\"d-1\">" + children + "<sparse>" + (sparse ? "true" : "false") +
                  "</sparse><bootable>false</bootable><shareable>true</shareable><read_only>"
                  "false</read_only><wipe_after_delete>true</wipe_after_delete></disk>");
  }
}

TEST(DiskAttachmentWriterTest, ActiveFrom402AndTheDiskOnlyWithItsId) {
  const std::string flags =
      "<bootable>true</bootable><read_only>true</read_only><interface>virtio_scsi</interface>";
  const std::string disk =
      "<disk id=\"d-1\"><read_only>true</read_only><snapshot id=\"s-1\"/></disk>";
  // Engine version, disk, the attachment's children. (The 4.1 form with a disk is the real
  // request's, below.)
  const std::tuple<unsigned, unsigned, unsigned, const char*, std::string> cases[] = {
      {4, 0, 1, "", flags},  // without a disk the snapshot is not written either
      {4, 0, 2, "", "<active>true</active>" + flags},
      {3, 6, 0, "d-1", flags + disk},
  };
  for (const auto& [major, minor, build, diskId, children] : cases) {
    TzRhevParser parser = ParserAt(major, minor, build);
    SDiskAttachmentInfoLib attachment;
    attachment.active = attachment.bootable = attachment.readOnly = true;
    attachment.interface = "virtio_scsi";
    attachment.diskId = diskId;
    attachment.snapshotId = "s-1";
    attachment.id = attachment.vmId = attachment.diskHref = "never-written";
    EXPECT_EQ(Written(parser, attachment, &P::serializeDiskAttachmentInfo),
              "<disk_attachment>" + children + "</disk_attachment>");
  }
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

  SSnapshotInfoLib snapshot;
  snapshot.description = "My snapshot";
  snapshot.snapshotType = snapshot.snapshotStatus = snapshot.ovfData = "never-written";
  ExpectShapeOfRequest("v4/request-add-snapshot.xml",
                       Written(v4, snapshot, &P::serializeSnapshotInfo), {});

  // Every flag is written, whether the engine's examples name it or not.
  const std::vector<std::string> extra = {"disk/sparse",
                                          "disk/bootable",
                                          "disk/shareable",
                                          "disk/read_only",
                                          "disk/wipe_after_delete",
                                          "disk/storage_domains/storage_domain/@name=mydata"};
  SDiskInfoLib disk;
  disk.name = "mydisk";
  disk.provisionedSize = 1048576;
  disk.format = "cow";
  disk.storageDomainId = "123";
  disk.storageDomainName = "mydata";
  disk.description = disk.status = disk.logicalName = disk.storageType = "never-written";
  disk.totalSize = 7;
  ExpectShapeOfRequest("v4/request-add-disk.xml", Written(v4, disk, &P::serializeDiskInfo),
                       {"disk/backup"}, extra);
  SDiskInfoLib snapshotDisk;
  snapshotDisk.id = snapshotDisk.snapshotId = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
  ExpectShapeOfRequest("v3/request-attach-disk-snapshot.xml",
                       Written(v3, snapshotDisk, &P::serializeDiskInfo), {}, extra);

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
}

// Records as the operations fill them, every other text left unset (the real-request rows
// above check the other forms): no value is written empty, neither an attribute without a
// value nor an element with neither text, children nor attributes.
TEST(RequestBodiesTest, ValuesThatAreNotSetAreLeftOut) {
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
  const std::regex empty("[a-z_]+=\"\"|<[a-z_]+/>|<([a-z_]+)></\\1>");
  for (const std::string& body :
       {Written(v3, fromOvf, &P::serializeVMInfo), Written(v3, update, &P::serializeDiskInfo),
        Written(v4, attachment, &P::serializeDiskAttachmentInfo),
        Written(v4, nic, &P::serializeNicInfo),
        Written(v4, domain, &P::serializeStorageDomainInfo)}) {
    EXPECT_FALSE(std::regex_search(body, empty)) << body;
  }
}

}  // namespace
}  // namespace Hypervale
