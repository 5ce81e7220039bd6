// The waits through their limits: the pause after a check that asks to wait, the extra checks,
// the maximum wait and the unreadable answers a wait lets pass; the status wait with its five
// checkers, the job wait and the correlation-id job search.
#include <gtest/gtest.h>

#include <tuple>

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
  auto snap = [](const char* s) { return SnapshotStateXml("s", s); };
  auto vm = [](const char* s) { return VmXml("v", s); };
  // The checker, the flag it is given, the answers in turn (each read once), the result and the
  // flag it leaves.
  using Case = std::tuple<Ops::checkerCbk, bool, std::vector<std::string>, bool, bool>;
  const Case cases[] = {
      {creation, false, {status("complete")}, true, true},
      {creation, true, {status("pending"), status("failed")}, true, false},
      {snapshot, false, {snap("LOCKED"), snap("locked"), snap("ok")}, true, true},
      {disk, false, {DiskXml("d", "locked", 0), DiskXml("d", "ok", 0)}, true, false},
      {active, true, {DiskXml("d", "ok", 0), DiskXml("d", "ok", 1)}, true, true},
      {power, false, {vm("Down")}, true, false},
      {power, true, {vm("down"), vm("powering_up"), vm("paused")}, false, true},
      // No unreadable answer is let pass: it ends the wait as a failure.
      {creation, true, {status("pending"), kBroken}, false, false},
      {snapshot, true, {kBroken}, false, false},
      {disk, false, {"<disk>"}, false, false},
      {active, true, {kBroken}, false, true},
      {power, false, {DiskXml("d", "ok", 1)}, false, false},
  };
  for (const auto& [checker, flagIn, bodies, result, flagOut] : cases) {
    SCOPED_TRACE(bodies.back());
    Exchanges exchanges;
    for (const auto& body : bodies) exchanges.push_back({"GET things/t1", Ok(body)});
    serve(exchanges);
    bool flag = flagIn;
    EXPECT_EQ(ops->pollOnStatus("ovirt-engine/api/things/t1", flag, checker), result);
    EXPECT_EQ(requestsOf("GET things/t1"), bodies.size());
    EXPECT_EQ(flag, flagOut);
    const bool timedOut = bodies.size() == 3 && !result;
    // A pause after every answer that asked to wait; the time-out right after the last.
    EXPECT_EQ(newSleeps(), std::vector<unsigned long>(bodies.size() - (timedOut ? 0 : 1), 100));
    EXPECT_EQ(logs.containsError("Timed out waiting for status - last resp [" + bodies.back()),
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
      // A body of another kind (a proxy's, an engine restarting) is no job: unreadable.
      {{Ok(SnapshotStateXml("s1", "ok"))}, false, 3, "expected [job]"},
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

// From 4.2 the search answers the request's own jobs, which engines describe in their own
// words: the first is followed. Before 4.2 every job comes back, so none is followed.
TEST_F(PollingTest, CorrelationSearchFollowsTheFirstJobFrom42) {
  const std::string search = "GET jobs?search=correlation_id=A1_5";
  const std::string api42 = ApiXml(4, 2, 0);
  const std::string described = JobXml("j1", "Creating VM Snapshot nightly for VM vm7", "started");
  const std::string j2 = JobXml("j2", "A1_5", "started");
  const Exchange running = {"GET jobs/j1", Ok(described)};
  const Exchange finished = {"GET jobs/j1", Ok(JobXml("j1", "x", "finished"))};
  auto jobs = [](const std::vector<std::string>& listed) { return Ok(ListXml("jobs", listed)); };
  // The correlation id, the flow of its wait and what it logs.
  using Case = std::tuple<const char*, Flow, const char*>;
  const Case cases[] = {
      {"A1_5", {{{search, jobs({})}}, true, {}, api42}, "no job found for correlation Id [A1_5]"},
      {"A1_5", {{{search, jobs({described, j2})}, running, finished}, true, {}, api42}, nullptr},
      {"A1_5",
       {{{search, jobs({described})}, {"GET jobs/j1", Ok(JobXml("j1", "x", "aborted"))}},
        false,
        {},
        api42},
       "ended in state [aborted]"},
      {"A1_5", {{{search, Fault(500)}}, false, {}, api42}, nullptr},
      // The id is built from the caller's description: it stays one query value.
      {"a&b+1_5",
       {{{"GET jobs?search=correlation_id=a%26b%2B1_5", jobs({})}}, true, {}, api42},
       nullptr},
      {"A1_5", {{}, true}, "Engine cannot search jobs"},
  };
  for (const auto& [id, flow, error] : cases) {
    expectFlow(flow, [&, id = id] {
      return ops->pollVMSnapshotStatus(SVMInfoLib(), SSnapshotInfoLib(), id);
    });
    if (error) {
      EXPECT_TRUE(logs.contains(error)) << logs.all();
    }
  }
}

}  // namespace
}  // namespace Hypervale
