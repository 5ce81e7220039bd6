// The status wait with its five checkers, the job wait and the correlation-id job search,
// against the loopback engine with recorded sleeps.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Api;
using hvtest::JobXml;
using Ops = TzRhevOperations;

const char kLink[] = "ovirt-engine/api/things/t1";
const std::string kTarget = "/ovirt-engine/api/things/t1";
const std::string kBroken = "<html><body>proxy error</body></html>";

std::string Creation(const std::string& status) {
  return "<creation><status>" + status + "</status></creation>";
}

std::vector<Answer> Bodies(const std::vector<std::string>& bodies) {
  std::vector<Answer> answers;
  for (const auto& body : bodies) answers.push_back(Answer::xml(200, body));
  return answers;
}

class PollingTest : public hvtest::OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    connectAs(hvtest::ApiXml(4, 1, 0));
  }
};

TEST_F(PollingTest, EachCheckerStopsWaitsOrFailsOnAnUnreadableAnswer) {
  struct Case {
    const char* name;
    Ops::checkerCbk checker;
    bool flagIn;
    std::vector<std::string> bodies;
    bool result;
    size_t gets;
    size_t sleeps;
    bool flagOut;
  };
  const Case cases[] = {
      {"creation complete",
       &Ops::checkCreationStatusCallBack,
       false,
       {Creation("complete")},
       true,
       1,
       0,
       true},
      {"creation fails",
       &Ops::checkCreationStatusCallBack,
       true,
       {Creation("pending"), Creation("failed")},
       true,
       2,
       1,
       false},
      {"snapshot unlocks",
       &Ops::checkSnapshotStatusCallBack,
       false,
       {hvtest::SnapshotXml("s1", "LOCKED"), hvtest::SnapshotXml("s1", "ok")},
       true,
       2,
       1,
       true},
      {"snapshot stays locked",
       &Ops::checkSnapshotStatusCallBack,
       false,
       {hvtest::SnapshotXml("s1", "locked")},
       false,
       3,
       3,
       false},
      {"disk unlocks",
       &Ops::checkDiskStatusCallBack,
       false,
       {hvtest::DiskXml("d1", "locked", false), hvtest::DiskXml("d1", "ok", false)},
       true,
       2,
       1,
       false},
      {"disk becomes active",
       &Ops::checkDiskActiveStatusCallBack,
       true,
       {hvtest::DiskXml("d1", "ok", false), hvtest::DiskXml("d1", "ok", true)},
       true,
       2,
       1,
       true},
      {"vm comes up",
       &Ops::checkChangePowerStateCallBack,
       true,
       {hvtest::VmXml("v1", "down"), hvtest::VmXml("v1", "Up")},
       true,
       2,
       1,
       true},
      {"vm is down",
       &Ops::checkChangePowerStateCallBack,
       false,
       {hvtest::VmXml("v1", "Down")},
       true,
       1,
       0,
       false},
      {"creation unreadable",
       &Ops::checkCreationStatusCallBack,
       true,
       {Creation("pending"), kBroken},
       false,
       2,
       1,
       false},
      {"snapshot unreadable",
       &Ops::checkSnapshotStatusCallBack,
       true,
       {kBroken},
       false,
       1,
       0,
       false},
      {"disk unreadable", &Ops::checkDiskStatusCallBack, false, {"<disk>"}, false, 1, 0, false},
      {"disk active unreadable",
       &Ops::checkDiskActiveStatusCallBack,
       true,
       {kBroken},
       false,
       1,
       0,
       true},
      {"power unreadable",
       &Ops::checkChangePowerStateCallBack,
       false,
       {kBroken},
       false,
       1,
       0,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    engine->script("GET", kTarget, Bodies(c.bodies));
    const size_t sleepsBefore = sleeps.sleeps().size();
    bool flag = c.flagIn;
    EXPECT_EQ(ops->pollOnStatus(kLink, flag, c.checker), c.result);
    EXPECT_EQ(count("GET", kTarget), c.gets);
    EXPECT_EQ(sleeps.sleeps().size() - sleepsBefore, c.sleeps);
    EXPECT_EQ(flag, c.flagOut);
  }
  for (unsigned long pause : sleeps.sleeps()) EXPECT_EQ(pause, 100u);
}

TEST_F(PollingTest, TimeOutReportsTheLastBodyAfterRetryCountPlusOneGets) {
  const std::vector<std::string> bodies = {hvtest::VmXml("first", "down"),
                                           hvtest::VmXml("second", "down"),
                                           hvtest::VmXml("third", "down")};
  engine->script("GET", kTarget, Bodies(bodies));
  bool wantUp = true;
  EXPECT_FALSE(ops->pollOnStatus(kLink, wantUp, &Ops::checkChangePowerStateCallBack));
  EXPECT_EQ(count("GET", kTarget), 3u);
  EXPECT_TRUE(logs.containsError("Timed out waiting for status - last resp [" + bodies[2] + "]"));

  // No retries: one GET, one pause, then the time-out.
  config.set("nRHEVMAPIRETRYCT", "0");
  rebuildOperations();
  engine->clearRequests();
  EXPECT_FALSE(ops->pollOnStatus(kLink, wantUp, &Ops::checkChangePowerStateCallBack));
  EXPECT_EQ(count("GET", kTarget), 1u);
  EXPECT_EQ(sleeps.sleeps().size(), 4u);

  engine->answer("GET", kTarget, Answer::engineFault(500, "Internal", "boom"));
  EXPECT_FALSE(ops->pollOnStatus(kLink, wantUp, &Ops::checkChangePowerStateCallBack));
  EXPECT_TRUE(logs.containsError("Failed to get response from link [" + std::string(kLink) + "]"));
  EXPECT_EQ(sleeps.sleeps().size(), 4u);
}

TEST_F(PollingTest, JobWaitEndsOnFinishedFailedUnknownOrNotFound) {
  const std::string target = Api("jobs/j1");
  auto job = [](const char* status) { return Answer::xml(200, JobXml("j1", "Job", status)); };
  const Answer serverError = Answer::engineFault(500, "Internal", "boom");
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    bool result;
    size_t gets;
  };
  const Case cases[] = {
      {"lower-case finished", {job("started"), job("finished")}, true, 2},
      {"upper-case finished", {job("FINISHED")}, true, 1},
      {"failed", {job("started"), job("failed")}, false, 2},
      {"FAILED", {job("FAILED")}, false, 1},
      {"Unknown", {job("Unknown")}, false, 1},
      {"job gone", {Answer::engineFault(404, "Not Found", "Entity not found")}, false, 1},
      {"failures within the allowance", {serverError, Answer::drop(), job("finished")}, true, 3},
      {"failures beyond the allowance", {serverError}, false, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    engine->script("GET", target, c.answers);
    const size_t sleepsBefore = sleeps.sleeps().size();
    EXPECT_EQ(ops->pollForRhevJobCompletion("j1"), c.result);
    EXPECT_EQ(count("GET", target), c.gets);
    EXPECT_EQ(sleeps.sleeps().size() - sleepsBefore, c.gets - 1);
  }
}

TEST_F(PollingTest, JobWaitJudgesNotFoundOnlyOnItsOwnRequest) {
  leaveStale404();
  engine->script("GET", Api("jobs/j1"),
                 {Answer::xml(200, kBroken), Answer::xml(200, JobXml("j1", "Job", "finished"))});
  EXPECT_TRUE(ops->pollForRhevJobCompletion("j1"));
  EXPECT_EQ(count("GET", Api("jobs/j1")), 2u);
}

TEST_F(PollingTest, JobStuckInARunningStateIsBoundedByTheConfiguredMaximum) {
  struct Case {
    const char* maxWaitSec;  // nullptr: the default of six hours
    int sleepMs;
    size_t gets;
  };
  const Case cases[] = {{"3", 1000, 4}, {"0", 1000, 1}, {nullptr, 3600000, 7}};
  engine->answer("GET", Api("jobs/j1"), Answer::xml(200, JobXml("j1", "Merging", "started")));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxWaitSec ? c.maxWaitSec : "default");
    if (c.maxWaitSec)
      config.set("nRhevJobMaxWaitSec", c.maxWaitSec);
    else
      Hypervale::RemoveConfigValue("VirtualServer", "nRhevJobMaxWaitSec");
    config.set("nRHEVMAPISLEEPINTERVAL", std::to_string(c.sleepMs));
    rebuildOperations();
    engine->clearRequests();
    logs.clear();
    const size_t sleepsBefore = sleeps.sleeps().size();
    EXPECT_FALSE(ops->pollForRhevJobCompletion("j1"));
    EXPECT_EQ(count("GET", Api("jobs/j1")), c.gets);
    EXPECT_EQ(sleeps.sleeps().size() - sleepsBefore, c.gets - 1);
    EXPECT_TRUE(logs.containsError("has not ended within"));
  }
}

TEST_F(PollingTest, CorrelationSearchFollowsOnlyAMatchingFirstJob) {
  const std::string search = Api("jobs?search=correlation_id=A1_5");
  struct Case {
    const char* name;
    Answer searchAnswer;
    bool result;
    size_t jobGets;
    const char* error;
  };
  const Case cases[] = {
      {"no job", Answer::xml(200, "<jobs/>"), true, 0, "no job found for correlation Id [A1_5]"},
      {"job of another operation",
       Answer::xml(200, hvtest::ListXml("jobs", {JobXml("j1", "Adding Disk", "started")})), true, 0,
       "Correlation Id [A1_5] does not match with job [Adding Disk][j1]"},
      {"several jobs, first matches",
       Answer::xml(200, hvtest::ListXml("jobs", {JobXml("j1", "Snapshot A1_5 of vm7", "started"),
                                                 JobXml("j2", "other", "started")})),
       true, 2, nullptr},
      {"several jobs, only the second matches",
       Answer::xml(200, hvtest::ListXml("jobs", {JobXml("j1", "other", "started"),
                                                 JobXml("j2", "A1_5", "started")})),
       true, 0, "does not match with job [other][j1]"},
      {"search fails", Answer::engineFault(500, "Internal", "boom"), false, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->reset();
    engine->answer("GET", search, c.searchAnswer);
    engine->script("GET", Api("jobs/j1"),
                   {Answer::xml(200, JobXml("j1", "A1_5", "started")),
                    Answer::xml(200, JobXml("j1", "A1_5", "finished"))});
    logs.clear();
    EXPECT_EQ(ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), "A1_5"), c.result);
    EXPECT_EQ(count("GET", search), 1u);
    EXPECT_EQ(count("GET", Api("jobs/j1")), c.jobGets);
    EXPECT_EQ(count("GET", Api("jobs/j2")), 0u);
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }
}

}  // namespace
}  // namespace Hypervale
