#include "support/operations_fixture.h"

#include <algorithm>

namespace hvtest {
namespace {

// A constant, not a string object: test files build their answers at static initialisation.
constexpr char kApiPrefix[] = "/ovirt-engine/api/";
constexpr size_t kApiPrefixLength = sizeof(kApiPrefix) - 1;

std::string Flag(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string ApiXml(int major, int minor, int build) {
  return "<api><product_info><version><major>" + std::to_string(major) + "</major><minor>" +
         std::to_string(minor) + "</minor><build>" + std::to_string(build) +
         "</build></version></product_info></api>";
}

std::string V3Api() { return Fixture("v3/api-ovirt-3.6.xml"); }

std::string VmXml(const std::string& id, const std::string& status) {
  return "<vm href=\"" + std::string(kApiPrefix) + "vms/" + id + "\" id=\"" + id + "\"><name>vm-" +
         id + "</name><status>" + status + "</status></vm>";
}

std::string JobXml(const std::string& id, const std::string& description,
                   const std::string& status) {
  return "<job id=\"" + id + "\"><description>" + description + "</description><status>" + status +
         "</status></job>";
}

std::string SnapshotXml(const std::string& id, const std::string& status, const std::string& type) {
  return "<snapshot id=\"" + id + "\"><snapshot_status>" + status +
         "</snapshot_status><snapshot_type>" + type + "</snapshot_type></snapshot>";
}

std::string DiskXml(const std::string& id, const std::string& status, bool active) {
  return "<disk href=\"" + std::string(kApiPrefix) + "disks/" + id + "\" id=\"" + id +
         "\"><status>" + status + "</status><active>" + Flag(active) + "</active></disk>";
}

std::string AttachmentXml(const std::string& diskId, bool active) {
  return "<disk_attachment id=\"" + diskId + "\"><active>" + Flag(active) + "</active><disk id=\"" +
         diskId + "\"/></disk_attachment>";
}

std::string ActionXml(const std::string& status, const std::string& jobId) {
  const std::string job = jobId.empty() ? "" : "<job id=\"" + jobId + "\"/>";
  return "<action><status>" + status + "</status>" + job + "</action>";
}

std::string DomainXml(const std::string& id, const std::string& name, const std::string& status) {
  return "<storage_domain id=\"" + id + "\"><name>" + name + "</name><status>" + status +
         "</status></storage_domain>";
}

std::string ListXml(const std::string& root, const std::vector<std::string>& items) {
  std::string body = "<" + root + ">";
  for (const auto& item : items) body += item;
  return body + "</" + root + ">";
}

Answer Ok(const std::string& body) { return Answer::xml(200, body); }

Answer Fault(int status) { return Answer::engineFault(status, "Operation Failed", "[failed]"); }

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

void OperationsTest::rebuildOperations() {
  ops = std::make_unique<Hypervale::TzRhevOperations>(&connection, &parser, queries.get());
}

void OperationsTest::serve(const Exchanges& exchanges) {
  engine->reset();
  std::vector<std::pair<std::string, std::vector<Answer>>> scripts;
  for (const auto& exchange : exchanges) {
    auto script = std::find_if(scripts.begin(), scripts.end(),
                               [&](const auto& s) { return s.first == exchange.request; });
    if (script == scripts.end()) script = scripts.insert(scripts.end(), {exchange.request, {}});
    script->second.push_back(exchange.answer);
  }
  for (const auto& [request, answers] : scripts) {
    const size_t blank = request.find(' ');
    engine->script(request.substr(0, blank), std::string(kApiPrefix) + request.substr(blank + 1),
                   answers);
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
                     (underApi ? request.target.substr(kApiPrefixLength) : request.target));
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
