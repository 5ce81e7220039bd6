// Taking and deleting snapshots through their engine jobs, against the loopback engine.
#include <gtest/gtest.h>

#include <ctime>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Api;
using hvtest::JobXml;
using hvtest::SnapshotXml;

const std::string kSnapshot = Api("vms/v1/snapshots/s1");

std::vector<Answer> Xml(const std::vector<std::string>& bodies) {
  std::vector<Answer> answers;
  for (const auto& body : bodies) answers.push_back(Answer::xml(200, body));
  return answers;
}

class SnapshotOperationsTest : public hvtest::OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    connectAs(hvtest::ApiXml(4, 1, 0));
  }
};

TEST(CorrelationIdTest, MiddleOfTheDescriptionAndTheTime) {
  struct Case {
    const char* vmName;
    const char* description;
    const char* id;
  };
  const Case cases[] = {
      {"vm7", "_QZ_BACKUP_vm7_A1_B2", "A1_1700000000"},
      {"vm7", "_QZ_BACKUP_vm7_A1", "A1_1700000000"},  // no further underscore
      {"vm7", "_QZ_BACKUP_vm7_A_1_B2", "A_1_1700000000"},
      {"my_vm", "_QZ_BACKUP_my_vm_X_Y", "X_1700000000"},
      {"vm7", "_QZ_BACKUP_vm7_", "_1700000000"},
      {"vm7", "short", "_1700000000"},  // shorter than the prefix: empty middle part
      {"vm7", "", "_1700000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TzRhevOperations::MakeCorrelationId(c.vmName, c.description, 1700000000L), c.id)
        << c.description;
  }
}

TEST_F(SnapshotOperationsTest, CreateFollowsTheCorrelatedJobThenTheUnlock) {
  struct Case {
    const char* name;
    bool jobListed;
    const char* jobEnd;
    const char* finalType;
    bool result;
    const char* error;
  };
  const Case cases[] = {
      {"regular", true, "finished", "regular", true, nullptr},
      {"no job found", false, "finished", "regular", true, "no job found for correlation Id"},
      {"not regular", true, "finished", "active", false,
       "Type of snapshot [s1] created is [active]"},
      {"job fails", true, "failed", "regular", false, "Failed to create Snapshot of VM [vm-v1]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    logs.clear();
    const bool listed = c.jobListed;
    engine->setFallback([listed](const hvtest::Request& request) -> std::optional<Answer> {
      const std::string prefix = "search=correlation_id=";
      if (request.path != Api("jobs") || request.query.rfind(prefix, 0) != 0) return std::nullopt;
      const std::string id = request.query.substr(prefix.size());
      return Answer::xml(
          200, listed ? hvtest::ListXml("jobs", {JobXml("j1", "Snapshot " + id, "started")})
                      : "<jobs/>");
    });
    engine->answer("GET", Api("vms/v1"), Answer::xml(200, hvtest::VmXml("v1", "up")));
    engine->answer("POST", Api("vms/v1/snapshots"), Answer::xml(202, SnapshotXml("s1", "locked")));
    engine->script("GET", Api("jobs/j1"),
                   Xml({JobXml("j1", "x", "started"), JobXml("j1", "x", c.jobEnd)}));
    engine->script("GET", kSnapshot,
                   Xml({SnapshotXml("s1", "locked"), SnapshotXml("s1", "ok", c.finalType)}));

    const long before = static_cast<long>(std::time(nullptr));
    std::string snapshotId;
    EXPECT_EQ(ops->createVMSnapshot("", "v1", "_QZ_BACKUP_vm-v1_A1_B2", snapshotId), c.result);
    const long after = static_cast<long>(std::time(nullptr));
    EXPECT_EQ(snapshotId, "s1");

    const auto requests = engine->requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].path, Api("vms/v1/snapshots"));
    ASSERT_EQ(requests[1].query.rfind("correlation_id=A1_", 0), 0u) << requests[1].query;
    const long stamp =
        std::stol(requests[1].query.substr(std::string("correlation_id=A1_").size()));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_NE(requests[1].body.find("<description>_QZ_BACKUP_vm-v1_A1_B2</description>"),
              std::string::npos);
    EXPECT_NE(requests[1].body.find("<persist_memorystate>false</persist_memorystate>"),
              std::string::npos);
    EXPECT_EQ(requests[2].target, Api("jobs?search=") + requests[1].query);
    EXPECT_EQ(count("GET", Api("jobs/j1")), c.jobListed ? 2u : 0u);
    // Unlock wait (locked, then ok) and the final re-read; none after a failed job.
    EXPECT_EQ(count("GET", kSnapshot), std::string(c.jobEnd) == "failed" ? 0u : 3u);
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }
}

TEST_F(SnapshotOperationsTest, DeleteChecksStateFollowsTheJobAndWaitsForTheEnginesNotFound) {
  const Answer ok = Answer::xml(200, SnapshotXml("s1", "ok"));
  const Answer gone = Answer::engineFault(404, "Not Found", "gone");
  const Answer serverError = Answer::engineFault(500, "Internal", "boom");
  struct Case {
    const char* name;
    const char* vmStatus;
    std::vector<Answer> snapshotAnswers;
    const char* jobStatus;
    bool stale404;
    bool result;
    size_t snapshotGets;
    bool deletes;
    size_t disappearancePauses;
    const char* error;
  };
  const Case cases[] = {
      {"locked",
       "up",
       {Answer::xml(200, SnapshotXml("s1", "LOCKED"))},
       "finished",
       false,
       false,
       1,
       false,
       0,
       "current status [LOCKED]. Status must be ok"},
      {"vm migrating",
       "migrating",
       {ok},
       "finished",
       false,
       false,
       1,
       false,
       0,
       "Cannot delete snapshot of vm[vm-v1][v1]: current state: [migrating]"},
      {"404 at the start", "down", {gone}, "finished", false, true, 1, false, 0, nullptr},
      {"unreadable read after an older 404",
       "down",
       {Answer::xml(200, "<html/>")},
       "finished",
       true,
       false,
       1,
       false,
       0,
       "Invalid snapshotId [s1] for vm [v1]"},
      {"gone after the job",
       "paused",
       {ok, ok, gone},
       "finished",
       false,
       true,
       3,
       true,
       1,
       nullptr},
      {"5xx and no answer are more tries",
       "up",
       {ok, serverError, Answer::drop(), gone},
       "finished",
       false,
       true,
       4,
       true,
       2,
       nullptr},
      {"never gone",
       "up",
       {ok, serverError},
       "finished",
       false,
       false,
       5,
       true,
       4,
       "Failed to read snapshotId [s1] for vm [v1]"},
      {"job fails, snapshot gone", "up", {ok, gone}, "failed", false, true, 2, true, 0, nullptr},
      {"job fails, snapshot left",
       "up",
       {ok},
       "failed",
       false,
       false,
       2,
       true,
       0,
       "Cannot poll - Unable to parse job xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    logs.clear();
    if (c.stale404) leaveStale404();
    engine->answer("GET", Api("vms/v1"), Answer::xml(200, hvtest::VmXml("v1", c.vmStatus)));
    engine->script("GET", kSnapshot, c.snapshotAnswers);
    engine->answer("DELETE", kSnapshot, Answer::xml(200, hvtest::ActionXml("complete", "j1")));
    engine->answer("GET", Api("jobs/j1"), Answer::xml(200, JobXml("j1", "Removing", c.jobStatus)));
    const size_t sleepsBefore = sleeps.sleeps().size();
    EXPECT_EQ(ops->deleteVMSnapshot("", "v1", "s1"), c.result);
    EXPECT_EQ(count("GET", kSnapshot), c.snapshotGets);
    EXPECT_EQ(count("DELETE", kSnapshot), c.deletes ? 1u : 0u);
    if (c.deletes) {
      EXPECT_NE(bodyOf("DELETE", kSnapshot).find("<async>false</async>"), std::string::npos);
    }
    const auto recorded = sleeps.sleeps();
    EXPECT_EQ(std::vector<unsigned long>(recorded.begin() + sleepsBefore, recorded.end()),
              std::vector<unsigned long>(c.disappearancePauses, 10100));
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }
}

TEST_F(SnapshotOperationsTest, WithoutRetriesTheDisappearanceWaitMakesOneCheck) {
  config.set("nRHEVMAPIRETRYCT", "0");
  rebuildOperations();
  engine->answer("GET", Api("vms/v1"), Answer::xml(200, hvtest::VmXml("v1", "up")));
  engine->answer("DELETE", kSnapshot, Answer::xml(200, hvtest::ActionXml("complete", "j1")));
  engine->answer("GET", Api("jobs/j1"), Answer::xml(200, JobXml("j1", "Removing", "finished")));
  engine->answer("GET", kSnapshot, Answer::xml(200, SnapshotXml("s1", "ok")));
  EXPECT_FALSE(ops->deleteVMSnapshot("", "v1", "s1"));
  EXPECT_EQ(count("GET", kSnapshot), 2u);
  EXPECT_TRUE(logs.contains("after max retry limit 0"));

  engine->clearRequests();
  engine->script(
      "GET", kSnapshot,
      {Answer::xml(200, SnapshotXml("s1", "ok")), Answer::engineFault(404, "Not Found", "gone")});
  EXPECT_TRUE(ops->deleteVMSnapshot("", "v1", "s1"));
  EXPECT_EQ(count("GET", kSnapshot), 2u);
}

}  // namespace
}  // namespace Hypervale
