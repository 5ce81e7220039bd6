// Disk operations across the engine generations: API v3, 4.0.0/4.0.1, 4.0.2 and later.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using DiskOperationsTest = OperationsTest;

const std::string kDisk = "vms/v1/disks/d1";
const std::string kPost = "POST vms/v1/disks";
const std::string kActivate = "POST " + kDisk + "/activate";
const std::string kDetach = "DELETE " + kDisk;
const std::string kAttach = "POST vms/v1/diskattachments";
const std::string kRemove = "DELETE vms/v1/diskattachments/d1";
const Exchange kPosted = {kPost, Ok(DiskXml("d1", "ok", false))};
const Exchange kAttachment = {kAttach, Ok(AttachmentXml("d1", true))};
const Exchange kActivated = {kActivate, Ok(ActionXml("complete"))};
const Exchange kDeactivated = {"POST " + kDisk + "/deactivate", Ok(ActionXml("complete"))};
const Exchange kDetached = {kDetach, Ok("")};
const Exchange kRemoved = {kRemove, Ok("")};
const Exchange kDiskGone = {"GET " + kDisk, Fault(404)};

Exchange Get(const std::string& path, const std::string& body) { return {"GET " + path, Ok(body)}; }
// The disk as API v3 shows it, and the VM's disks as 4.0.0/4.0.1 list them.
Exchange V3Disk(bool active) { return Get(kDisk, DiskXml("d1", "ok", active)); }
Exchange Listed(bool active) {
  return Get("vms/v1/disks", ListXml("disks", {DiskXml("d1", "ok", active)}));
}
const Exchange kNoneListed = Get("vms/v1/disks", ListXml("disks", {}));
Exchange Attachments(const char* id) {
  return Get("vms/v1/diskattachments", ListXml("disk_attachments", {AttachmentXml(id, false)}));
}
std::string V4(int build) { return ApiXml(4, 0, build); }

// No interface: the engine requires one on an attachment, so "virtio" must be sent.
SDiskInfoLib Disk() {
  SDiskInfoLib disk;
  disk.id = "d1";
  disk.snapshotId = "s1";
  return disk;
}

TEST_F(DiskOperationsTest, AttachBranchesOnTheEngineGeneration) {
  using Held = std::pair<std::string, std::string>;
  const std::string v3 = V3Api();
  const Held v3Action = {kActivate, "<detach>false</detach>"},
             v3Detach = {kDetach, "<detach>true</detach>"};
  const std::string virtio = "<interface>virtio</interface>";
  const std::pair<Flow, bool> cases[] = {
      {{{kPosted, kActivated, V3Disk(false), V3Disk(true)}, true, {v3Action}, v3}, true},
      {{{kPosted, kActivated, Listed(false), Listed(true)}, true, {{kPost, virtio}}, V4(1)}, true},
      // A disk the VM does not list is no activated disk; the attach is undone.
      {{{kPosted, kActivated, kNoneListed, kDeactivated, kNoneListed, kDetached, Attachments("d9")},
        false,
        {},
        V4(1)},
       true},
      {{{kPosted}, true, {}, V4(0)}, false},
      // 4.0.2 itself gets "active" too: without it the engine's result is undefined.
      {{{kAttachment}, true, {{kAttach, "<active>true</active>"}, {kAttach, virtio}}, V4(2)}, true},
      {{{kAttachment},
        true,
        {{kAttach, "<active>false</active>"}, {kAttach, "<disk id=\"d1\">"}},
        V4(4)},
       false},
      // A failed v3 activation detaches the disk again.
      {{{kPosted, {kActivate, Fault(500)}, kDeactivated, V3Disk(false), kDetached, kDiskGone},
        false,
        {v3Detach},
        v3},
       true},
  };
  for (const auto& [flow, active] : cases) {
    expectFlow(flow,
               [&, active = active] { return ops->attachDisk("v1", Disk(), active, true, false); });
  }
}

TEST_F(DiskOperationsTest, DetachBranchesOnTheEngineGeneration) {
  const std::pair<std::string, std::string> detach = {kDetach, "<detach>true</detach>"};
  const Flow cases[] = {
      {{kDeactivated, V3Disk(false), kDetached, V3Disk(false), kDiskGone}, true, {detach}, V3Api()},
      // Spoken to in the older form, a 4.0.x engine deletes the disk without a detach.
      {{kDeactivated, Listed(false), kDetached, Attachments("d1"), Attachments("d9")},
       true,
       {detach},
       V4(1)},
      {{kRemoved, Attachments("d9")}, true, {{kRemove, ""}}, V4(2)},
      // The DELETE was accepted: a wait that runs out is no failure.
      {{kRemoved, Attachments("d1"), Attachments("d1")}, true},
      {{{kRemove, Fault(500)}}, false},
  };
  for (const auto& flow : cases) expectFlow(flow, [&] { return ops->detachDisk("v1", Disk()); });
  EXPECT_TRUE(logs.containsError("Failed to detach disk [d1] from VM [v1]"));
}

TEST_F(DiskOperationsTest, ActivateFrom402OnOnlyReportsTheAttachment) {
  for (const bool active : {true, false}) {
    expectFlow({{Get("vms/v1/diskattachments/d1", AttachmentXml("d1", active))}, active, {}, V4(2)},
               [&] { return ops->activateDisk("v1", Disk()); });
  }
  EXPECT_TRUE(logs.containsError("Disk [d1] is attached inactive to VM [v1]"));
}

TEST_F(DiskOperationsTest, CreateWaitsForTheV3CreationStatusThenTheUnlock) {
  const std::string creation = "disks/d1/creation_status/c1";
  const Exchange post = {"POST disks",
                         Ok("<disk id=\"d1\"><link href=\"/ovirt-engine/api/" + creation +
                            "\" rel=\"creation_status\"/><status>locked</status></disk>")};
  auto status = [&](std::string s) {
    return Get(creation, "<creation><status>" + s + "</status></creation>");
  };
  const Exchange locked = Get("disks/d1", DiskXml("d1", "locked", false));
  const Exchange unlocked = Get("disks/d1", DiskXml("d1", "ok", false));
  const Exchange domain = Get("storagedomains?search=name=data1",
                              ListXml("storage_domains", {DomainXml("sd1", "data1", "")}));
  const std::pair<Flow, const char*> cases[] = {
      // the storage domain id given
      {{{domain, post, status("pending"), status("complete"), locked, unlocked},
        true,
        {{"POST disks", "id=\"sd1\""}},
        V3Api()},
       ""},
      {{{post, locked, unlocked}, true, {{"POST disks", "id=\"sd7\""}}}, "sd7"},
      // A disk the engine failed to create ends "illegal": no disk to use.
      {{{post, locked, Get("disks/d1", DiskXml("d1", "Illegal", false))}, false}, "sd7"},
      {{{{"POST disks", Ok(DiskXml("d1", "locked", false))}, unlocked}, true, {}, V3Api()}, "sd1"},
      // Accepted (202) without the disk: the one of exactly that name is followed; an answer
      // naming no disk otherwise is a failure, never a wait on the collection.
      {{{{"POST disks", Answer::xml(202, "")},
         Get("disks?search=name=restored_Disk1",
             ListXml("disks", {"<disk id=\"d0\"><name>RESTORED_Disk1</name></disk>",
                               "<disk id=\"d1\"><name>restored_Disk1</name></disk>"})),
         locked,
         unlocked},
        true},
       "sd7"},
      {{{{"POST disks", Ok("<disk><status>locked</status></disk>")}}, false}, "sd7"},
  };
  for (const auto& [flow, domainId] : cases) {
    SDiskInfoLib disk;
    disk.name = "restored_Disk1";
    disk.storageDomainName = "data1";
    disk.storageDomainId = domainId;
    expectFlow(flow, [&] { return ops->createDisk(disk); });
  }
}

TEST_F(DiskOperationsTest, DeleteOfAnAbsentDiskAndMove) {
  const Flow deletes[] = {{{{"GET disks/d1", Fault(404)}}, true},
                          {{Get("disks/d1", "<html/>")}, false}};
  for (const auto& flow : deletes) {
    expectFlow(flow, [&] {
      leaveStale404();
      return ops->deleteDisk("d1");
    });
  }
  const std::string move = "POST disks/d1/move";
  const Flow moves[] = {
      {{{move, Ok(ActionXml("complete"))}}, true, {{move, "<storage_domain id=\"sd2\"/>"}}},
      {{{move, Ok(ActionXml("failed"))}}, false}};
  for (const auto& flow : moves) expectFlow(flow, [&] { return ops->moveDisk(Disk(), "sd2"); });
  EXPECT_TRUE(
      logs.containsError("Disk [d1] move operation has not completed, returned state: failed"));
}

}  // namespace
}  // namespace Hypervale
