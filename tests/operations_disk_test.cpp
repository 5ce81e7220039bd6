// Disk operations across the engine generations: API v3, 4.0.0/4.0.1, 4.0.2 and later.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;

const std::string kDisk = "vms/v1/disks/d1";
const Answer kComplete = Ok(ActionXml("complete"));

Exchange Get(const std::string& path, const std::string& body) { return {"GET " + path, Ok(body)}; }
std::string Disks(bool active) { return ListXml("disks", {DiskXml("d1", "ok", active)}); }
std::string Attachments(const char* id) {
  return ListXml("disk_attachments", {AttachmentXml(id, false)});
}
std::string V4(int build) { return ApiXml(4, 0, build); }

// No interface: the engine requires one on an attachment, so "virtio" must be sent.
SDiskInfoLib Disk() {
  SDiskInfoLib disk;
  disk.id = "d1";
  disk.snapshotId = "s1";
  return disk;
}

struct Case {
  std::string api;
  Exchanges exchanges;
  bool result;
  std::vector<std::pair<std::string, std::string>> bodies;  // request, what its body holds
};

class DiskOperationsTest : public OperationsTest {
 protected:
  void check(const Case& c, const std::function<bool()>& call) {
    expectFlow(c.api, c.exchanges, c.result, call);
    for (const auto& [request, held] : c.bodies) {
      const std::string body = bodyOf(request);
      // "!text": the body must not hold it; "": the body must be empty.
      if (held.empty()) {
        EXPECT_EQ(body, "") << request;
      } else if (held[0] == '!') {
        EXPECT_EQ(body.find(held.substr(1)), std::string::npos) << held;
      } else {
        EXPECT_NE(body.find(held), std::string::npos) << held;
      }
    }
  }
};

TEST_F(DiskOperationsTest, AttachBranchesOnTheEngineGeneration) {
  const Exchange post = {"POST vms/v1/disks", Ok(DiskXml("d1", "ok", false))};
  const Exchange attach = {"POST vms/v1/diskattachments", Ok(AttachmentXml("d1", true))};
  const std::pair<Case, bool> cases[] = {
      {{V3Api(),
        {post,
         {"POST " + kDisk + "/activate", kComplete},
         Get(kDisk, DiskXml("d1", "ok", false)),
         Get(kDisk, DiskXml("d1", "ok", true))},
        true,
        {{"POST vms/v1/disks", "<disk id=\"d1\">"},
         {"POST " + kDisk + "/activate", "<detach>false</detach>"}}},
       true},
      {{V4(1),
        {post,
         {"POST " + kDisk + "/activate", kComplete},
         Get("vms/v1/disks", Disks(false)),
         Get("vms/v1/disks", Disks(true))},
        true,
        {{"POST vms/v1/disks", "<interface>virtio</interface>"},
         {"POST " + kDisk + "/activate", "!detach"}}},
       true},
      // A disk the VM does not list is no activated disk; the attach is undone.
      {{V4(1),
        {post,
         {"POST " + kDisk + "/activate", kComplete},
         Get("vms/v1/disks", ListXml("disks", {})),
         {"POST " + kDisk + "/deactivate", kComplete},
         Get("vms/v1/disks", ListXml("disks", {})),
         {"DELETE " + kDisk, Ok("")},
         Get("vms/v1/diskattachments", Attachments("d9"))},
        false,
        {}},
       true},
      {{V4(0), {post}, true, {}}, false},
      // 4.0.2 itself gets "active" too: without it the engine's result is undefined.
      {{V4(2),
        {attach},
        true,
        {{attach.request, "<disk id=\"d1\">"},
         {attach.request, "<active>true</active>"},
         {attach.request, "<interface>virtio</interface>"}}},
       true},
      {{V4(4), {attach}, true, {{attach.request, "<active>false</active>"}}}, false},
      {{V4(4), {attach}, true, {{attach.request, "<active>true</active>"}}}, true},
      // A failed v3 activation detaches the disk again.
      {{V3Api(),
        {post,
         {"POST " + kDisk + "/activate", Fault(500)},
         {"POST " + kDisk + "/deactivate", kComplete},
         Get(kDisk, DiskXml("d1", "ok", false)),
         {"DELETE " + kDisk, Ok("")},
         {"GET " + kDisk, Fault(404)}},
        false,
        {{"DELETE " + kDisk, "<detach>true</detach>"}}},
       true},
  };
  for (const auto& [c, active] : cases) {
    check(c, [&, active = active] { return ops->attachDisk("v1", Disk(), active, true, false); });
  }
}

TEST_F(DiskOperationsTest, DetachBranchesOnTheEngineGeneration) {
  const std::string attachment = "DELETE vms/v1/diskattachments/d1";
  const Case cases[] = {
      {V3Api(),
       {{"POST " + kDisk + "/deactivate", kComplete},
        Get(kDisk, DiskXml("d1", "ok", false)),
        {"DELETE " + kDisk, Ok("")},
        Get(kDisk, DiskXml("d1", "ok", false)),
        {"GET " + kDisk, Fault(404)}},
       true,
       {{"DELETE " + kDisk, "<detach>true</detach>"}}},
      {V4(1),
       {{"POST " + kDisk + "/deactivate", kComplete},
        Get("vms/v1/disks", Disks(false)),
        {"DELETE " + kDisk, Ok("")},
        Get("vms/v1/diskattachments", Attachments("d1")),
        Get("vms/v1/diskattachments", Attachments("d9"))},
       true,
       // Spoken to in the older form, a 4.0.x engine deletes the disk without a detach.
       {{"DELETE " + kDisk, "<detach>true</detach>"}}},
      {V4(2),
       {{attachment, Ok("")}, Get("vms/v1/diskattachments", Attachments("d9"))},
       true,
       {{attachment, ""}}},
      // The DELETE was accepted: a wait that runs out is no failure.
      {V4(4),
       {{attachment, Ok("")},
        Get("vms/v1/diskattachments", Attachments("d1")),
        Get("vms/v1/diskattachments", Attachments("d1"))},
       true,
       {}},
      {V4(4), {{attachment, Fault(500)}}, false, {}},
  };
  for (const auto& c : cases) check(c, [&] { return ops->detachDisk("v1", Disk()); });
  EXPECT_TRUE(logs.containsError("Failed to detach disk [d1] from VM [v1]"));
}

TEST_F(DiskOperationsTest, ActivateFrom402OnOnlyReportsTheAttachment) {
  for (const bool active : {true, false}) {
    check({V4(2), {Get("vms/v1/diskattachments/d1", AttachmentXml("d1", active))}, active, {}},
          [&] { return ops->activateDisk("v1", Disk()); });
  }
  EXPECT_TRUE(logs.containsError("Disk [d1] is attached inactive to VM [v1]"));
}

TEST_F(DiskOperationsTest, CreateWaitsForTheV3CreationStatusThenTheUnlock) {
  const std::string creation = "disks/d1/creation_status/c1";
  const Exchange post = {"POST disks",
                         Ok("<disk id=\"d1\"><link href=\"/ovirt-engine/api/" + creation +
                            "\" rel=\"creation_status\"/><status>locked</status></disk>")};
  auto status = [&](const char* s) {
    return Get(creation, std::string("<creation><status>") + s + "</status></creation>");
  };
  const Exchange locked = Get("disks/d1", DiskXml("d1", "locked", false));
  const Exchange unlocked = Get("disks/d1", DiskXml("d1", "ok", false));
  const Exchange domain = Get("storagedomains?search=name=data1",
                              ListXml("storage_domains", {DomainXml("sd1", "data1", "")}));
  const std::pair<Case, const char*> cases[] = {
      // the storage domain id given
      {{V3Api(),
        {domain, post, status("pending"), status("complete"), locked, unlocked},
        true,
        {{"POST disks", "id=\"sd1\""}}},
       ""},
      {{V4(4), {post, locked, unlocked}, true, {{"POST disks", "id=\"sd7\""}}}, "sd7"},
      // A disk the engine failed to create ends "illegal": no disk to use.
      {{V4(4), {post, locked, Get("disks/d1", DiskXml("d1", "Illegal", false))}, false, {}}, "sd7"},
      {{V3Api(), {{"POST disks", Ok(DiskXml("d1", "locked", false))}, unlocked}, true, {}}, "sd1"},
  };
  for (const auto& [c, domainId] : cases) {
    SDiskInfoLib disk;
    disk.storageDomainName = "data1";
    disk.storageDomainId = domainId;
    check(c, [&] { return ops->createDisk(disk); });
  }
}

TEST_F(DiskOperationsTest, DeleteOfAnAbsentDiskAndMove) {
  check({V4(4), {{"GET disks/d1", Fault(404)}}, true, {}}, [&] { return ops->deleteDisk("d1"); });
  check({V4(4), {Get("disks/d1", "<html/>")}, false, {}}, [&] {
    leaveStale404();
    return ops->deleteDisk("d1");
  });

  const Case moves[] = {
      {V4(4),
       {{"POST disks/d1/move", kComplete}},
       true,
       {{"POST disks/d1/move", "<storage_domain id=\"sd2\"/>"}}},
      {V4(4), {{"POST disks/d1/move", Ok(ActionXml("failed"))}}, false, {}},
  };
  for (const auto& c : moves) check(c, [&] { return ops->moveDisk(Disk(), "sd2"); });
  EXPECT_TRUE(
      logs.containsError("Disk [d1] move operation has not completed, returned state: failed"));
}

}  // namespace
}  // namespace Hypervale
