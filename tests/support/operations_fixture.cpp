#include "support/operations_fixture.h"

namespace hvtest {

std::string ApiXml(int major, int minor, int build) {
  return "<api><product_info><version><major>" + std::to_string(major) + "</major><minor>" +
         std::to_string(minor) + "</minor><build>" + std::to_string(build) +
         "</build></version></product_info></api>";
}

std::string VmXml(const std::string& id, const std::string& status) {
  return "<vm href=\"/ovirt-engine/api/vms/" + id + "\" id=\"" + id + "\"><name>vm-" + id +
         "</name><status>" + status + "</status></vm>";
}

std::string JobXml(const std::string& id, const std::string& description,
                   const std::string& status) {
  return "<job href=\"/ovirt-engine/api/jobs/" + id + "\" id=\"" + id + "\"><description>" +
         description + "</description><status>" + status + "</status></job>";
}

std::string SnapshotXml(const std::string& id, const std::string& status, const std::string& type) {
  return "<snapshot id=\"" + id + "\"><description>snap</description><snapshot_status>" + status +
         "</snapshot_status><snapshot_type>" + type + "</snapshot_type></snapshot>";
}

std::string DiskXml(const std::string& id, const std::string& status, bool active) {
  return "<disk href=\"/ovirt-engine/api/disks/" + id + "\" id=\"" + id + "\"><status>" + status +
         "</status><active>" + (active ? "true" : "false") + "</active></disk>";
}

std::string AttachmentXml(const std::string& diskId, bool active) {
  return "<disk_attachment id=\"" + diskId + "\"><active>" + (active ? "true" : "false") +
         "</active><disk id=\"" + diskId + "\"/></disk_attachment>";
}

std::string ActionXml(const std::string& status, const std::string& jobId) {
  std::string job =
      jobId.empty() ? ""
                    : "<job href=\"/ovirt-engine/api/jobs/" + jobId + "\" id=\"" + jobId + "\"/>";
  return "<action><status>" + status + "</status>" + job + "</action>";
}

std::string DomainXml(const std::string& id, const std::string& name, const std::string& status) {
  return "<storage_domain href=\"/ovirt-engine/api/storagedomains/" + id + "\" id=\"" + id +
         "\"><name>" + name + "</name><status>" + status + "</status></storage_domain>";
}

std::string ListXml(const std::string& root, const std::vector<std::string>& items) {
  std::string body = "<" + root + ">";
  for (const auto& item : items) body += item;
  return body + "</" + root + ">";
}

std::string Api(const std::string& path) { return "/ovirt-engine/api/" + path; }

void OperationsTest::connectAs(const std::string& apiBody, int retryCount, int sleepMs) {
  config.set("nRHEVMAPIRETRYCT", std::to_string(retryCount))
      .set("nRHEVMAPISLEEPINTERVAL", std::to_string(sleepMs));
  engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, apiBody));
  std::string response;
  ASSERT_TRUE(connection.connect(server(), "admin", TestPassword(), response));
  Hypervale::SAPIInfoLib api;
  ASSERT_TRUE(parser.DetectVersion(response, api));
  connection.setParser(&parser);
  queries = std::make_unique<Hypervale::TzRhevQueries>(&connection, &parser);
  rebuildOperations();
  engine->clearRequests();
  logs.clear();
}

void OperationsTest::rebuildOperations() {
  ops = std::make_unique<Hypervale::TzRhevOperations>(&connection, &parser, queries.get());
}

std::vector<std::string> OperationsTest::trail() const {
  std::vector<std::string> result;
  for (const auto& request : engine->requests()) {
    result.push_back(request.method + " " + request.target);
  }
  return result;
}

std::string OperationsTest::bodyOf(const std::string& method, const std::string& target) const {
  for (const auto& request : engine->requests()) {
    if (request.method == method && request.target == target) return request.body;
  }
  return "";
}

void OperationsTest::leaveStale404() {
  std::string ignored;
  ASSERT_FALSE(connection.get("ovirt-engine/api/gone", ignored, false));
  ASSERT_EQ(connection.getLastErrorCode(), 404);
  engine->clearRequests();
}

void OperationsTest::run(const Flow& flow, const std::function<bool()>& call) {
  SCOPED_TRACE(flow.name);
  engine->reset();
  connectAs(flow.api);
  for (const auto& [method, target, answers] : flow.script) engine->script(method, target, answers);
  EXPECT_EQ(call(), flow.result);
  EXPECT_EQ(trail(), flow.trail);
  for (const auto& [method, target, fragment, present] : flow.bodies) {
    EXPECT_EQ(bodyOf(method, target).find(fragment) != std::string::npos, present)
        << method << " " << target << " " << fragment;
  }
  if (flow.error) {
    EXPECT_TRUE(logs.containsError(flow.error)) << flow.error;
  }
}

}  // namespace hvtest
