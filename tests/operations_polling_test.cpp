// The waits through their limits: the pause after a check that asks to wait, the extra checks,
// the maximum wait and the unreadable answers a wait lets pass; the status wait with its five
// checkers, the job wait and the correlation-id job search.
#include <gtest/gtest.h>

#include "support/operations_fixture.h"

namespace Hypervale {
namespace {

using namespace hvtest;
using Ops = TzRhevOperations;
using PollingTest = OperationsTest;

const std::string kBroken = "<html><body>proxy error</body></html>";

TEST_F(PollingTest, StatusWaitEndsAsTheCheckerDecidesOrAfterTheExtraChecks) {
  const auto creation = &Ops::checkCreationStatusCallBack;
  const auto snapshot = &Ops::checkSnapshotStatusCallBack;
  const auto disk = &Ops::checkDiskStatusCallBack;
  const auto active = &Ops::checkDiskActiveStatusCallBack;
  const auto power = &Ops::checkChangePowerStateCallBack;
  auto status = [](std::string s) { return "<creation><status>" + s + "</status></creation>"; };
  auto snap = [](const char* s) { return SnapshotXml("s", s); };
  auto vm = [](const char* s) { return VmXml("v", s); };
  struct Case {
    Ops::checkerCbk checker;
    bool flagIn;
    std::vector<std::string> bodies;  // in turn, the last repeats
    bool result;
    size_t gets;
    bool flagOut;
  };
  const Case cases[] = {
      {creation, false, {status("complete")}, true, 1, true},
      {creation, true, {status("pending"), status("failed")}, true, 2, false},
      {snapshot, false, {snap("LOCKED"), snap("locked"), snap("ok")}, true, 3, true},
      {disk, false, {DiskXml("d", "locked", 0), DiskXml("d", "ok", 0)}, true, 2, false},
      {active, true, {DiskXml("d", "ok", 0), DiskXml("d", "ok", 1)}, true, 2, true},
      {power, false, {vm("Down")}, true, 1, false},
      {power, true, {vm("down"), vm("powering_up"), vm("paused")}, false, 3, true},
      // No unreadable answer is let pass: it ends the wait as a failure.
      {creation, true, {status("pending"), kBroken}, false, 2, false},
      {snapshot, true, {kBroken}, false, 1, false},
      {disk, false, {"<disk>"}, false, 1, false},
      {active, true, {kBroken}, false, 1, true},
      {power, false, {DiskXml("d", "ok", 1)}, false, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bodies.back());
    Exchanges exchanges;
    for (const auto& body : c.bodies) exchanges.push_back({"GET things/t1", Ok(body)});
    serve(exchanges);
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

TEST_F(PollingTest, JobWaitEndsOnAnEndStateOrNotFoundBeyondTheUnreadableAllowanceOrTheMaximum) {
  auto job = [](const char* status) { return Ok(JobXml("j1", "Removing", status)); };
  const Answer cut = Answer::partial(200, "<job>");
  struct Case {
    std::vector<Answer> answers;  // in turn, the last repeats
    bool result;
    size_t gets;
    const char* error = nullptr;
    const char* maxWaitSec = "1";  // nullptr: the default of six hours
    unsigned long pauseMs = 100;
  };
  const Case cases[] = {
      {{job("started"), job("finished")}, true, 2},
      {{job("FINISHED")}, true, 1},
      {{job("started"), job("failed")}, false, 2, "ended in state [failed]"},
      {{job("started"), job("Aborted")}, false, 2, "ended in state [Aborted]"},
      {{job("Unknown")}, false, 1, "ended in state [Unknown]"},
      {{Fault(404)}, false, 1, "Job [j1] does not exist"},
      // As many unreadable answers as extra checks are let pass; the next one ends the wait.
      {{Ok(kBroken), job("finished")}, true, 2},
      {{Fault(500), cut, job("finished")}, true, 3},
      {{Fault(500), cut, Ok(kBroken)}, false, 3, "Failed to read job [j1] - giving up"},
      // A state taken for a running one ends the wait once the pauses reach the maximum.
      {{job("started")}, false, 4, "has not ended within [3] seconds", "3", 1000},
      {{job("started")}, false, 1, "has not ended within [0] seconds", "0", 1000},
      {{job("started")}, false, 7, "has not ended within [21600] seconds", nullptr, 3600000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gets);
    if (c.maxWaitSec) config.set("nRhevJobMaxWaitSec", c.maxWaitSec);
    if (!c.maxWaitSec) RemoveConfigValue("VirtualServer", "nRhevJobMaxWaitSec");
    config.set("nRHEVMAPISLEEPINTERVAL", std::to_string(c.pauseMs));
    rebuildOperations();
    serve({});
    engine->script("GET", "/ovirt-engine/api/jobs/j1", c.answers);
    leaveStale404();  // not found is judged on the wait's own requests only
    EXPECT_EQ(ops->pollForRhevJobCompletion("j1"), c.result);
    EXPECT_EQ(requestsOf("GET jobs/j1"), c.gets);
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(c.gets - 1, c.pauseMs));
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error)) << logs.all();
    }
  }
}

TEST_F(PollingTest, CorrelationSearchFollowsOnlyAMatchingFirstJob) {
  const std::string search = "GET jobs?search=correlation_id=A1_5";
  const std::string started = JobXml("j1", "Snapshot A1_5 of vm7", "started");
  const std::string other = JobXml("j1", "other", "started"), j2 = JobXml("j2", "A1_5", "started");
  const Exchange running = {"GET jobs/j1", Ok(started)};
  const Exchange finished = {"GET jobs/j1", Ok(JobXml("j1", "A1_5", "finished"))};
  auto jobs = [](const std::vector<std::string>& listed) { return Ok(ListXml("jobs", listed)); };
  struct Case {
    const char* correlationId;
    Flow flow;
    const char* error;
  };
  const Case cases[] = {
      {"A1_5", {{{search, jobs({})}}, true}, "no job found for correlation Id [A1_5]"},
      {"A1_5", {{{search, jobs({other, started})}}, true}, "does not match with job [other][j1]"},
      {"A1_5", {{{search, jobs({started, j2})}, running, finished}, true}, nullptr},
      {"A1_5", {{{search, Fault(500)}}, false}, nullptr},
      // The id is built from the caller's description: it stays one query value.
      {"a&b+1_5", {{{"GET jobs?search=correlation_id=a%26b%2B1_5", jobs({})}}, true}, nullptr},
  };
  for (const auto& c : cases) {
    expectFlow(c.flow, [&] {
      return ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), c.correlationId);
    });
    if (c.error) {
      EXPECT_TRUE(logs.containsError(c.error));
    }
  }
}

}  // namespace
}  // namespace Hypervale
