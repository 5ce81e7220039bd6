#include "support/operations_fixture.h"

#include <algorithm>
#include <map>

namespace hvtest {
namespace {

const std::string kApiPrefix = "/ovirt-engine/api/";

}  // namespace

void OperationsTest::SetUp() {
  EngineTest::SetUp();
  config.set("nRHEVMAPIRETRYCT", "2").set("nRHEVMAPISLEEPINTERVAL", "100");
  connectAs(kApi41);
}

void OperationsTest::connectAs(const std::string& apiBody) {
  engine->reset();
  engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, apiBody));
  connectWorkers(connection, parser);
  queries = std::make_unique<Hypervale::TzRhevQueries>(&connection, &parser);
  rebuildOperations();
  newSleeps();
}

void OperationsTest::serve(const Exchanges& exchanges) {
  engine->reset();
  std::map<std::string, std::vector<Answer>> scripts;
  for (const auto& exchange : exchanges) scripts[exchange.request].push_back(exchange.answer);
  for (const auto& [request, answers] : scripts) {
    const size_t blank = request.find(' ');
    engine->script(request.substr(0, blank), kApiPrefix + request.substr(blank + 1), answers);
  }
  logs.clear();
}

void OperationsTest::expectFlow(const Flow& flow, const std::function<bool()>& call) {
  connectAs(flow.api);
  serve(flow.exchanges);
  EXPECT_EQ(call(), flow.result);
  std::vector<std::string> expected;
  for (const auto& exchange : flow.exchanges) expected.push_back(exchange.request);
  EXPECT_EQ(trail(), expected);
  for (const auto& [request, held] : flow.bodies) {
    const std::string body = bodyOf(request);
    if (held.empty()) {
      EXPECT_EQ(body, "") << request;
    } else if (held[0] == '!') {
      EXPECT_EQ(body.find(held.substr(1)), std::string::npos) << request << ": " << held;
    } else {
      EXPECT_NE(body.find(held), std::string::npos) << request << ": " << held;
    }
  }
}

std::vector<std::string> OperationsTest::trail() const {
  std::vector<std::string> result;
  for (const auto& request : engine->requests()) {
    const bool underApi = request.target.rfind(kApiPrefix, 0) == 0;
    result.push_back(request.method + " " +
                     (underApi ? request.target.substr(kApiPrefix.size()) : request.target));
  }
  return result;
}

std::string OperationsTest::bodyOf(const std::string& request) const {
  const auto sent = trail();
  const auto found = std::find(sent.begin(), sent.end(), request);
  return found == sent.end() ? "" : engine->requests()[found - sent.begin()].body;
}

size_t OperationsTest::requestsOf(const std::string& request) const {
  const auto sent = trail();
  return static_cast<size_t>(std::count(sent.begin(), sent.end(), request));
}

std::vector<unsigned long> OperationsTest::newSleeps() {
  const auto all = sleeps.sleeps();
  std::vector<unsigned long> fresh(all.begin() + static_cast<long>(sleepsSeen_), all.end());
  sleepsSeen_ = all.size();
  return fresh;
}

void OperationsTest::leaveStale404() {
  std::string ignored;
  ASSERT_FALSE(connection.get("ovirt-engine/api/gone", ignored, false));
  ASSERT_EQ(connection.getLastErrorCode(), 404);
  engine->clearRequests();
}

}  // namespace hvtest
