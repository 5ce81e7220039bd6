// Taking and deleting snapshots through their engine jobs.
#include <gtest/gtest.h>

#include <ctime>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using SnapshotOperationsTest = OperationsTest;

const std::string kSnapshot = "GET vms/v1/snapshots/s1";
const std::string kDelete = "DELETE vms/v1/snapshots/s1";

TEST(CorrelationIdTest, MiddlePartOfTheDescriptionAndTheTime) {
  const std::string cases[][3] = {
      {"vm7", "_QZ_BACKUP_vm7_A1_B2", "A1_1700000000"},
      {"vm7", "_QZ_BACKUP_vm7_A1", "A1_1700000000"},  // no further underscore
      {"vm7", "_QZ_BACKUP_vm7_A_1_B2", "A_1_1700000000"},
      {"my_vm", "_QZ_BACKUP_my_vm_X_Y", "X_1700000000"},
      {"vm7", "short", "_1700000000"},  // shorter than the prefix: empty middle part
      // Sent as the engine keeps it, [0-9a-zA-Z_-] and at most 36, the time always whole.
      {"vm7", "_QZ_BACKUP_vm7_night.ly full/è_B2", "nightlyfull_1700000000"},
      {"vm7", "_QZ_BACKUP_vm7_" + std::string(40, 'x') + "_B2",
       std::string(25, 'x') + "_1700000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TzRhevOperations::MakeCorrelationId(c[0], c[1], 1700000000L), c[2]) << c[1];
  }
}

// The request carries the correlation id, the job found under it is followed, the snapshot
// waited for until unlocked and read once more; it must have come out a regular one.
TEST_F(SnapshotOperationsTest, CreateFollowsTheCorrelatedJobThenTheUnlock) {
  connectAs(ApiXml(4, 2, 0));  // the engine answers the job search with the request's own job
  engine->setFallback([](const Request& request) -> std::optional<Answer> {
    const std::string key = "search=correlation_id=";
    if (request.path != "/ovirt-engine/api/jobs" || request.query.rfind(key, 0) != 0) return {};
    return Ok(ListXml("jobs", {JobXml("j1", "Creating VM Snapshot x for VM y", "started")}));
  });
  for (const char* type : {"regular", "active"}) {
    serve({{"GET vms/v1", Ok(VmXml("v1", "up"))},
           {"POST vms/v1/snapshots", Ok(SnapshotStateXml("s1", "locked"))},
           {"GET jobs/j1", Ok(JobXml("j1", "x", "started"))},
           {"GET jobs/j1", Ok(JobXml("j1", "x", "finished"))},
           {kSnapshot, Ok(SnapshotStateXml("s1", "locked"))},
           {kSnapshot, Ok(SnapshotStateXml("s1", "ok", type))}});
    const long before = static_cast<long>(std::time(nullptr));
    std::string snapshotId;
    const bool regular = type == std::string("regular");
    EXPECT_EQ(ops->createVMSnapshot("", "v1", "_QZ_BACKUP_vm-v1_A1_B2", snapshotId), regular);
    const long after = static_cast<long>(std::time(nullptr));
    EXPECT_EQ(snapshotId, "s1");
    const auto sent = trail();
    ASSERT_EQ(sent.size(), 8u);
    const std::string post = "POST vms/v1/snapshots?correlation_id=A1_";
    ASSERT_EQ(sent[1].rfind(post, 0), 0u) << sent[1];
    const long stamp = std::stol(sent[1].substr(post.size()));
    EXPECT_TRUE(stamp >= before && stamp <= after);
    EXPECT_EQ(sent[2], "GET jobs?search=correlation_id=A1_" + std::to_string(stamp));
    EXPECT_EQ(requestsOf("GET jobs/j1"), 2u);
    EXPECT_EQ(requestsOf(kSnapshot), 3u);  // locked, ok, then the final read
    EXPECT_EQ(logs.containsError("Type of snapshot [s1] created is [active]"), !regular);
  }
}

TEST_F(SnapshotOperationsTest, DeleteRefusesBusyStatesFollowsTheJobAndWaitsForNotFound) {
  const Answer ok = Ok(SnapshotStateXml("s1", "ok"));
  const Answer cut = Answer::partial(200, "<a>");
  struct Case {
    const char* vmStatus;
    std::vector<Answer> snapshot;  // reads of the snapshot, in turn
    bool result;
    size_t pauses;  // of the disappearance wait
    bool deletes = true;
    const char* error = nullptr;
    bool jobNamed = true;  // in the answer to the DELETE
    int retries = 2;
    const char* jobEnd = "finished";
  };
  const Case cases[] = {
      {"up", {Ok(SnapshotStateXml("s1", "LOCKED"))}, false, 0, false, "current status [LOCKED]"},
      {"migrating", {ok}, false, 0, false, "vm[vm-v1][v1]: current state: [migrating]"},
      {"down", {Fault(404)}, true, 0, false},
      {"down", {Ok("<html/>")}, false, 0, false},  // after an older 404
      {"paused", {ok, ok, Fault(404)}, true, 1},
      // Only a 404 proves the snapshot gone; a 5xx or no answer is one more try.
      {"up", {ok, Fault(500), cut, Fault(404)}, true, 2},
      {"up", {ok, Fault(500)}, false, 4, true, "after max retry limit 2"},
      // An answer without a job: the snapshot itself shows when the delete is done.
      {"up", {ok, ok, Fault(404)}, true, 1, true, nullptr, false},
      // Without extra checks the disappearance wait still makes one check.
      {"up", {ok, ok}, false, 1, true, nullptr, true, 0},
      {"up", {ok, Fault(404)}, true, 0, true, nullptr, true, 0},
      // A failed job: only the engine's 404 says the snapshot went all the same.
      {"up", {ok, Fault(503)}, false, 0, true, "the snapshot could not be read", true, 2,
       "failed"},
      {"up", {ok, Fault(404)}, true, 0, true, nullptr, true, 2, "failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vmStatus);
    config.set("nRHEVMAPIRETRYCT", std::to_string(c.retries));
    rebuildOperations();
    serve({{"GET vms/v1", Ok(VmXml("v1", c.vmStatus))},
           {kDelete, Ok(ActionXml("complete", c.jobNamed ? "j1" : ""))},
           {"GET jobs/j1", Ok(JobXml("j1", "Removing", c.jobEnd))}});
    engine->script("GET", "/ovirt-engine/api/vms/v1/snapshots/s1", c.snapshot);
    leaveStale404();
    EXPECT_EQ(ops->deleteVMSnapshot("", "v1", "s1"), c.result);
    // After a failed job one read decides at once.
    const bool jobFailed = std::string(c.jobEnd) != "finished";
    const size_t waitGets = c.deletes ? c.pauses + (c.result || jobFailed ? 1 : 0) : 0;
    EXPECT_EQ(requestsOf(kSnapshot), 1 + waitGets);
    EXPECT_EQ(requestsOf(kDelete), c.deletes ? 1u : 0u);
    EXPECT_EQ(requestsOf("GET jobs/j1"), c.deletes && c.jobNamed ? 1u : 0u);
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(c.pauses, 10100));
    if (c.error) {
      EXPECT_TRUE(logs.contains(c.error));
    }
  }
  EXPECT_NE(bodyOf(kDelete).find("<async>false</async>"), std::string::npos);
}

}  // namespace
}  // namespace Hypervale
