// Disk operations across the engine generations (API v3, 4.0.0/4.0.1, 4.0.2 and later),
// against the loopback engine.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Api;
using hvtest::AttachmentXml;
using hvtest::DiskXml;
using hvtest::ListXml;

using hvtest::Flow;
using Step = Flow::Step;

const std::string kVmDisk = Api("vms/v1/disks/d1");
const std::string kVmDisks = Api("vms/v1/disks");
const std::string kAttachments = Api("vms/v1/diskattachments");

Answer Ok(const std::string& body) { return Answer::xml(200, body); }
const Answer kComplete = Answer::xml(200, hvtest::ActionXml("complete"));

std::string V3() { return hvtest::Fixture("v3/api-ovirt-3.6.xml"); }
std::string V4(int build) { return hvtest::ApiXml(4, 0, build); }

class DiskOperationsTest : public hvtest::OperationsTest {
 protected:
  SDiskInfoLib disk() const {
    SDiskInfoLib d;
    d.id = "d1";
    d.interface = "virtio";
    d.snapshotId = "s1";
    return d;
  }
};

TEST_F(DiskOperationsTest, AttachBranchesOnTheEngineGeneration) {
  const std::string activate = kVmDisk + "/activate";
  const std::string deactivate = kVmDisk + "/deactivate";
  const Step postDisk{"POST", kVmDisks, {Answer::xml(201, DiskXml("d1", "ok", false))}};
  const Step postAttachment{"POST", kAttachments, {Answer::xml(201, AttachmentXml("d1", true))}};
  struct Case {
    Flow flow;
    bool active;
  };
  const Case cases[] = {
      {{"v3, activated",
        V3(),
        {postDisk,
         {"POST", activate, {kComplete}},
         {"GET", kVmDisk, {Ok(DiskXml("d1", "ok", false)), Ok(DiskXml("d1", "ok", true))}}},
        true,
        {"POST " + kVmDisks, "POST " + activate, "GET " + kVmDisk, "GET " + kVmDisk},
        {{"POST", kVmDisks, "<disk id=\"d1\">", true},
         {"POST", kVmDisks, "<snapshot id=\"s1\"/>", true},
         {"POST", activate, "<detach>false</detach>", true}}},
       true},
      {{"4.0.1, activated",
        V4(1),
        {postDisk,
         {"POST", activate, {kComplete}},
         {"GET",
          kVmDisks,
          {Ok(ListXml("disks", {DiskXml("d1", "ok", false)})),
           Ok(ListXml("disks", {DiskXml("d1", "ok", true)}))}}},
        true,
        {"POST " + kVmDisks, "POST " + activate, "GET " + kVmDisks, "GET " + kVmDisks},
        {{"POST", activate, "detach", false}}},
       true},
      {{"4.0.0, left inactive", V4(0), {postDisk}, true, {"POST " + kVmDisks}, {}}, false},
      {{"4.0.2, one attachment request",
        V4(2),
        {postAttachment},
        true,
        {"POST " + kAttachments},
        {{"POST", kAttachments, "<disk id=\"d1\">", true},
         {"POST", kAttachments, "<active>", false}}},
       true},
      {{"4.0.4, attachment inactive",
        V4(4),
        {postAttachment},
        true,
        {"POST " + kAttachments},
        {{"POST", kAttachments, "<active>false</active>", true}}},
       false},
      {{"4.0.4, attachment active",
        V4(4),
        {postAttachment},
        true,
        {"POST " + kAttachments},
        {{"POST", kAttachments, "<active>true</active>", true}}},
       true},
      {{"v3, activation fails and the disk is detached again",
        V3(),
        {postDisk,
         {"POST", activate, {Answer::engineFault(500, "Operation Failed", "no")}},
         {"POST", deactivate, {kComplete}},
         {"GET", kVmDisk, {Ok(DiskXml("d1", "ok", false)), Answer::engineFault(404, "NF", "")}},
         {"DELETE", kVmDisk, {Ok("")}}},
        false,
        {"POST " + kVmDisks, "POST " + activate, "POST " + deactivate, "GET " + kVmDisk,
         "DELETE " + kVmDisk, "GET " + kVmDisk},
        {{"DELETE", kVmDisk, "<detach>true</detach>", true}}},
       true},
  };
  for (const auto& c : cases) {
    run(c.flow, [&] { return ops->attachDisk("v1", disk(), c.active, true, false); });
  }
}

TEST_F(DiskOperationsTest, DetachBranchesOnTheEngineGeneration) {
  const std::string deactivate = kVmDisk + "/deactivate";
  const std::string attachment = kAttachments + "/d1";
  const Answer withDisk = Ok(ListXml("disk_attachments", {AttachmentXml("d1", false)}));
  const Answer withoutDisk = Ok(ListXml("disk_attachments", {AttachmentXml("d9", true)}));
  const Flow flows[] = {
      {"v3",
       V3(),
       {{"POST", deactivate, {kComplete}},
        {"GET",
         kVmDisk,
         {Ok(DiskXml("d1", "ok", false)), Ok(DiskXml("d1", "ok", false)),
          Answer::engineFault(404, "NF", "")}},
        {"DELETE", kVmDisk, {Ok("")}}},
       true,
       {"POST " + deactivate, "GET " + kVmDisk, "DELETE " + kVmDisk, "GET " + kVmDisk,
        "GET " + kVmDisk},
       {{"DELETE", kVmDisk, "<detach>true</detach>", true}}},
      {"4.0.1",
       V4(1),
       {{"POST", deactivate, {kComplete}},
        {"GET", kVmDisks, {Ok(ListXml("disks", {DiskXml("d1", "ok", false)}))}},
        {"DELETE", kVmDisk, {Ok("")}},
        {"GET", kAttachments, {withDisk, withoutDisk}}},
       true,
       {"POST " + deactivate, "GET " + kVmDisks, "DELETE " + kVmDisk, "GET " + kAttachments,
        "GET " + kAttachments},
       {{"DELETE", kVmDisk, "<async>false</async>", true}, {"DELETE", kVmDisk, "detach", false}}},
      {"4.0.2",
       V4(2),
       {{"DELETE", attachment, {Ok("")}}, {"GET", kAttachments, {withoutDisk}}},
       true,
       {"DELETE " + attachment, "GET " + kAttachments},
       {{"DELETE", attachment, "<", false}}},
      {"4.0.4, the wait runs out",
       V4(4),
       {{"DELETE", attachment, {Ok("")}}, {"GET", kAttachments, {withDisk}}},
       true,
       {"DELETE " + attachment, "GET " + kAttachments, "GET " + kAttachments},
       {}},
      {"4.0.4, refused",
       V4(4),
       {{"DELETE", attachment, {Answer::engineFault(500, "Operation Failed", "no")}}},
       false,
       {"DELETE " + attachment},
       {},
       "Failed to detach disk [d1] from VM [v1]"},
  };
  for (const auto& flow : flows) run(flow, [&] { return ops->detachDisk("v1", disk()); });
}

TEST_F(DiskOperationsTest, ActivateFrom402OnOnlyReportsTheAttachment) {
  const std::string attachment = kAttachments + "/d1";
  const Flow flows[] = {
      {"active",
       V4(2),
       {{"GET", attachment, {Ok(AttachmentXml("d1", true))}}},
       true,
       {"GET " + attachment},
       {}},
      {"inactive",
       V4(4),
       {{"GET", attachment, {Ok(AttachmentXml("d1", false))}}},
       false,
       {"GET " + attachment},
       {},
       "Disk [d1] is attached inactive to VM [v1]"},
  };
  for (const auto& flow : flows) run(flow, [&] { return ops->activateDisk("v1", disk()); });
}

TEST_F(DiskOperationsTest, CreateWaitsForTheV3CreationStatusThenTheUnlock) {
  const std::string created =
      "<disk href=\"/ovirt-engine/api/disks/d1\" id=\"d1\"><status>locked</status>"
      "<link href=\"/ovirt-engine/api/disks/d1/creation_status/c1\" rel=\"creation_status\"/>"
      "</disk>";
  const std::string creation = Api("disks/d1/creation_status/c1");
  const std::string diskLink = Api("disks/d1");
  const std::string search = Api("storagedomains?search=name=data1");
  auto status = [](const char* s) {
    return Ok(std::string("<creation><status>") + s + "</status></creation>");
  };
  const Step post{"POST", Api("disks"), {Answer::xml(201, created)}};
  const Step unlock{
      "GET", diskLink, {Ok(DiskXml("d1", "locked", false)), Ok(DiskXml("d1", "ok", false))}};
  const Step domains{
      "GET",
      search,
      {Ok(ListXml("storage_domains", {hvtest::DomainXml("sd1", "data1", "active")}))}};
  struct Case {
    Flow flow;
    const char* domainId;
  };
  const Case cases[] = {
      {{"v3 with a creation status, domain by name",
        V3(),
        {domains, post, {"GET", creation, {status("pending"), status("complete")}}, unlock},
        true,
        {"GET " + search, "POST " + Api("disks"), "GET " + creation, "GET " + creation,
         "GET " + diskLink, "GET " + diskLink},
        {{"POST", Api("disks"), "id=\"sd1\"", true}}},
       ""},
      {{"v3 creation fails",
        V3(),
        {post, {"GET", creation, {status("failed")}}},
        false,
        {"POST " + Api("disks"), "GET " + creation},
        {}},
       "sd1"},
      {{"v4 ignores the creation status, domain id given",
        V4(4),
        {post, unlock},
        true,
        {"POST " + Api("disks"), "GET " + diskLink, "GET " + diskLink},
        {{"POST", Api("disks"), "id=\"sd7\"", true}}},
       "sd7"},
  };
  for (const auto& c : cases) {
    SDiskInfoLib d;
    d.name = "new";
    d.storageDomainName = "data1";
    d.storageDomainId = c.domainId;
    run(c.flow, [&] { return ops->createDisk(d); });
  }
  const std::string v3WithoutLink = "<disk id=\"d1\"><status>ok</status></disk>";
  run({"v3 without a creation status",
       V3(),
       {{"POST", Api("disks"), {Answer::xml(201, v3WithoutLink)}},
        {"GET", diskLink, {Ok(v3WithoutLink)}}},
       true,
       {"POST " + Api("disks"), "GET " + diskLink},
       {}},
      [&] {
        SDiskInfoLib d;
        return ops->createDisk(d);
      });
}

TEST_F(DiskOperationsTest, DeleteMoveAndUpdate) {
  const std::string diskLink = Api("disks/d1");
  const std::string move = diskLink + "/move";
  const Step found{"GET", diskLink, {Ok(DiskXml("d1", "ok", false))}};
  const Flow deletes[] = {
      {"complete",
       V4(4),
       {found, {"DELETE", diskLink, {kComplete}}},
       true,
       {"GET " + diskLink, "DELETE " + diskLink},
       {{"DELETE", diskLink, "<async>false</async>", true}}},
      {"not complete",
       V4(4),
       {found, {"DELETE", diskLink, {Ok(hvtest::ActionXml("pending"))}}},
       false,
       {"GET " + diskLink, "DELETE " + diskLink},
       {}},
      {"absent", V4(4), {}, true, {"GET " + diskLink}, {}},
      {"lookup fails",
       V4(4),
       {{"GET", diskLink, {Answer::engineFault(503, "Busy", "")}}},
       false,
       {"GET " + diskLink},
       {}},
  };
  for (const auto& flow : deletes) run(flow, [&] { return ops->deleteDisk("d1"); });
  run({"unreadable lookup after an older 404",
       V4(4),
       {{"GET", diskLink, {Ok("<html/>")}}},
       false,
       {"GET " + diskLink},
       {}},
      [&] {
        leaveStale404();
        return ops->deleteDisk("d1");
      });

  const Flow moves[] = {
      {"move started",
       V4(4),
       {{"POST", move, {kComplete}}},
       true,
       {"POST " + move},
       {{"POST", move, "<storage_domain id=\"sd2\"/>", true}}},
      {"move not started",
       V4(4),
       {{"POST", move, {Ok(hvtest::ActionXml("failed"))}}},
       false,
       {"POST " + move},
       {}},
  };
  for (const auto& flow : moves) run(flow, [&] { return ops->moveDisk(disk(), "sd2"); });
  EXPECT_TRUE(
      logs.containsError("Disk [d1] move operation has not completed, returned state: failed"));

  SDiskInfoLib flags = disk();
  flags.bootable = true;
  run({"update v3",
       V3(),
       {{"PUT", kVmDisk, {Ok(DiskXml("d1", "ok", true))}}},
       true,
       {"PUT " + kVmDisk},
       {{"PUT", kVmDisk, "<bootable>true</bootable>", true}}},
      [&] { return ops->updateDisk("v1", flags); });
  run({"update 4.0.2", V4(2), {}, true, {}, {}}, [&] { return ops->updateDisk("v1", flags); });
}

}  // namespace
}  // namespace Hypervale
