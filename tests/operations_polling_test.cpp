// The status wait with its five checkers, the job wait and the correlation-id job search.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using Ops = TzRhevOperations;

const std::string kBroken = "<html><body>proxy error</body></html>";

std::string Creation(const char* status) {
  return std::string("<creation><status>") + status + "</status></creation>";
}

class PollingTest : public OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    connectAs(ApiXml(4, 1, 0));
  }
};

TEST_F(PollingTest, CheckersStopAtOnceLaterOrNeverAndNeverPassABrokenAnswer) {
  struct Case {
    Ops::checkerCbk checker;
    bool flagIn;
    std::vector<std::string> bodies;  // in turn, the last repeats
    bool result;
    size_t gets;
    bool flagOut;
  };
  const Case cases[] = {
      {&Ops::checkCreationStatusCallBack, false, {Creation("complete")}, true, 1, true},
      {&Ops::checkCreationStatusCallBack,
       true,
       {Creation("pending"), Creation("failed")},
       true,
       2,
       false},
      {&Ops::checkSnapshotStatusCallBack,
       false,
       {SnapshotXml("s", "LOCKED"), SnapshotXml("s", "locked"), SnapshotXml("s", "ok")},
       true,
       3,
       true},
      {&Ops::checkDiskStatusCallBack,
       false,
       {DiskXml("d", "locked", 0), DiskXml("d", "ok", 0)},
       true,
       2,
       false},
      {&Ops::checkDiskActiveStatusCallBack,
       true,
       {DiskXml("d", "ok", 0), DiskXml("d", "ok", 1)},
       true,
       2,
       true},
      {&Ops::checkChangePowerStateCallBack, false, {VmXml("v", "Down")}, true, 1, false},
      {&Ops::checkChangePowerStateCallBack,
       true,
       {VmXml("a", "down"), VmXml("b", "powering_up"), VmXml("c", "paused")},
       false,
       3,
       true},
      // Unreadable answers end every wait as a failure.
      {&Ops::checkCreationStatusCallBack, true, {Creation("pending"), kBroken}, false, 2, false},
      {&Ops::checkSnapshotStatusCallBack, true, {kBroken}, false, 1, false},
      {&Ops::checkDiskStatusCallBack, false, {"<disk>"}, false, 1, false},
      {&Ops::checkDiskActiveStatusCallBack, true, {kBroken}, false, 1, true},
      {&Ops::checkChangePowerStateCallBack, false, {DiskXml("d", "ok", 1)}, false, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bodies.back());
    Exchanges exchanges;
    for (const auto& body : c.bodies) exchanges.push_back({"GET things/t1", Ok(body)});
    serve(exchanges);
    engine->clearRequests();
    logs.clear();
    bool flag = c.flagIn;
    EXPECT_EQ(ops->pollOnStatus("ovirt-engine/api/things/t1", flag, c.checker), c.result);
    EXPECT_EQ(requestsOf("GET things/t1"), c.gets);
    EXPECT_EQ(flag, c.flagOut);
    const bool timedOut = c.gets == 3 && !c.result;
    // A pause after every answer that asked to wait; the time-out right after the last.
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(c.gets - (timedOut ? 0 : 1), 100));
    EXPECT_EQ(logs.containsError("Timed out waiting for status - last resp [" + c.bodies.back()),
              timedOut);
  }
}

TEST_F(PollingTest, JobWaitEndsOnFinishedFailedAbortedUnknownOrNotFound) {
  config.set("nRhevJobMaxWaitSec", "1");  // a state taken for a running one ends the wait too
  auto job = [](const char* status) { return Ok(JobXml("j1", "Removing", status)); };
  struct Case {
    std::vector<Answer> answers;
    bool result;
    size_t gets;
  };
  const Case cases[] = {
      {{job("started"), job("finished")}, true, 2},
      {{job("FINISHED")}, true, 1},
      {{job("started"), job("failed")}, false, 2},
      {{job("FAILED")}, false, 1},
      {{job("started"), job("Aborted")}, false, 2},
      {{job("Unknown")}, false, 1},
      {{Fault(404)}, false, 1},
      {{Fault(500), Answer::partial(200, "<job>"), job("finished")}, true, 3},  // within it
      {{Fault(500)}, false, 3},                                                 // beyond it
  };
  for (const auto& c : cases) {
    engine->script("GET", "/ovirt-engine/api/jobs/j1", c.answers);
    engine->clearRequests();
    EXPECT_EQ(ops->pollForRhevJobCompletion("j1"), c.result) << c.answers.back().body;
    EXPECT_EQ(requestsOf("GET jobs/j1"), c.gets);
    EXPECT_EQ(newSleeps().size(), c.gets - 1);
  }
}

TEST_F(PollingTest, JobWaitJudgesNotFoundOnlyOnItsOwnRequest) {
  leaveStale404();
  serve({{"GET jobs/j1", Ok(kBroken)}, {"GET jobs/j1", Ok(JobXml("j1", "x", "finished"))}});
  EXPECT_TRUE(ops->pollForRhevJobCompletion("j1"));
  EXPECT_EQ(requestsOf("GET jobs/j1"), 2u);
}

TEST_F(PollingTest, JobStuckInARunningStateIsBoundedByTheConfiguredMaximum) {
  struct Case {
    const char* maxWaitSec;  // nullptr: the default of six hours
    int sleepMs;
    size_t gets;
  };
  const Case cases[] = {{"3", 1000, 4}, {"0", 1000, 1}, {nullptr, 3600000, 7}};
  serve({{"GET jobs/j1", Ok(JobXml("j1", "Merging", "started"))}});
  for (const auto& c : cases) {
    if (c.maxWaitSec) config.set("nRhevJobMaxWaitSec", c.maxWaitSec);
    if (!c.maxWaitSec) RemoveConfigValue("VirtualServer", "nRhevJobMaxWaitSec");
    config.set("nRHEVMAPISLEEPINTERVAL", std::to_string(c.sleepMs));
    rebuildOperations();
    engine->clearRequests();
    EXPECT_FALSE(ops->pollForRhevJobCompletion("j1"));
    EXPECT_EQ(requestsOf("GET jobs/j1"), c.gets);
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(c.gets - 1, c.sleepMs));
    EXPECT_TRUE(logs.containsError("has not ended within"));
  }
}

TEST_F(PollingTest, CorrelationSearchFollowsOnlyAMatchingFirstJob) {
  const std::string search = "GET jobs?search=correlation_id=A1_5";
  const std::string started = JobXml("j1", "Snapshot A1_5 of vm7", "started");
  struct Case {
    std::vector<std::string> jobs;
    bool result;
    size_t jobGets;
    const char* error;
  };
  const Case cases[] = {
      {{}, true, 0, "no job found for correlation Id [A1_5]"},
      {{JobXml("j1", "Adding Disk", "started")},
       true,
       0,
       "Correlation Id [A1_5] does not match with job [Adding Disk][j1]"},
      {{started, JobXml("j2", "A1_5", "started")}, true, 2, nullptr},
      {{JobXml("j1", "other", "started"), JobXml("j2", "A1_5", "started")},
       true,
       0,
       "does not match with job [other][j1]"},
  };
  for (const auto& c : cases) {
    serve({{search, Ok(ListXml("jobs", c.jobs))},
           {"GET jobs/j1", Ok(started)},
           {"GET jobs/j1", Ok(JobXml("j1", "A1_5", "finished"))}});
    engine->clearRequests();
    logs.clear();
    EXPECT_EQ(ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), "A1_5"), c.result);
    EXPECT_EQ(requestsOf(search), 1u);
    EXPECT_EQ(requestsOf("GET jobs/j1"), c.jobGets);
    EXPECT_EQ(requestsOf("GET jobs/j2"), 0u);
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }
  serve({{search, Fault(500)}});
  EXPECT_FALSE(ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), "A1_5"));

  // The id is built from the caller's description: it stays one query value.
  const std::string encoded = "GET jobs?search=correlation_id=a%26b%2B1_5";
  serve({{encoded, Ok(ListXml("jobs", {}))}});
  EXPECT_TRUE(ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), "a&b+1_5"));
  EXPECT_EQ(requestsOf(encoded), 1u);
}

}  // namespace
}  // namespace Hypervale
