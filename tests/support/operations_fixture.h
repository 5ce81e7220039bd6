// The worker graph of the facade (connection, parser, queries, operations) against the
// loopback engine, and engine bodies in the shapes the engine sends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "operations/rhevOperations.h"
#include "queries/rhevQueries.h"
#include "support/engine_fixture.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace hvtest {

// API roots: one announcing major.minor.build (v4 form), and a recorded 3.6.7 one.
inline std::string ApiXml(int major, int minor, int build) {
  return "<api><product_info><version><major>" + std::to_string(major) + "</major><minor>" +
         std::to_string(minor) + "</minor><build>" + std::to_string(build) +
         "</build></version></product_info></api>";
}
// The API root of a 4.1 engine, the generation most cases run against.
inline const std::string kApi41 = ApiXml(4, 1, 0);
inline std::string V3Api() { return Fixture("v3/api-ovirt-3.6.xml"); }

// Engine bodies, as small as the reader takes them.
inline std::string Flag(bool value) { return value ? "true" : "false"; }
inline std::string VmXml(const std::string& id, const std::string& status) {
  return "<vm href=\"/ovirt-engine/api/vms/" + id + "\" id=\"" + id + "\"><name>vm-" + id +
         "</name><status>" + status + "</status></vm>";
}
inline std::string JobXml(const std::string& id, const std::string& description,
                          const std::string& status) {
  return "<job id=\"" + id + "\"><description>" + description + "</description><status>" + status +
         "</status></job>";
}
inline std::string SnapshotStateXml(const std::string& id, const std::string& status,
                               const std::string& type = "regular") {
  return "<snapshot id=\"" + id + "\"><snapshot_status>" + status +
         "</snapshot_status><snapshot_type>" + type + "</snapshot_type></snapshot>";
}
inline std::string DiskXml(const std::string& id, const std::string& status, bool active) {
  return "<disk href=\"/ovirt-engine/api/disks/" + id + "\" id=\"" + id + "\"><status>" + status +
         "</status><active>" + Flag(active) + "</active></disk>";
}
inline std::string AttachmentXml(const std::string& diskId, bool active) {
  return "<disk_attachment id=\"" + diskId + "\"><active>" + Flag(active) + "</active><disk id=\"" +
         diskId + "\"/></disk_attachment>";
}
inline std::string ActionXml(const std::string& status, const std::string& jobId = "") {
  const std::string job = jobId.empty() ? "" : "<job id=\"" + jobId + "\"/>";
  return "<action><status>" + status + "</status>" + job + "</action>";
}
inline std::string DomainXml(const std::string& id, const std::string& name,
                             const std::string& status) {
  return "<storage_domain id=\"" + id + "\"><name>" + name + "</name><status>" + status +
         "</status></storage_domain>";
}
inline std::string ListXml(const std::string& root, const std::vector<std::string>& items) {
  std::string body = "<" + root + ">";
  for (const auto& item : items) body += item;
  return body + "</" + root + ">";
}
inline Answer Ok(const std::string& body) { return Answer::xml(200, body); }
// An engine fault document with that status.
inline Answer Fault(int status) {
  return Answer::engineFault(status, "Operation Failed", "[failed]");
}

// A request as "METHOD path" (path relative to "/ovirt-engine/api/") and its answer.
struct Exchange {
  std::string request;
  Answer answer;
};
using Exchanges = std::vector<Exchange>;

// One call of an operation: the answers (each request gets its answers in the listed order,
// the last one repeats), which are also exactly the requests expected in that order; the
// result; what request bodies hold ("!text": not in the body of that request; "": the body
// is empty); and the API root of the engine.
struct Flow {
  Exchanges exchanges;
  bool result;
  std::vector<std::pair<std::string, std::string>> bodies = {};
  std::string api = kApi41;
};

class OperationsTest : public EngineTest {
 protected:
  // Connected to a 4.1 engine; waits make 2 extra checks, 100 ms apart.
  void SetUp() override;
  // A fresh engine serving `apiBody` as its root, and fresh workers connected to it.
  void connectAs(const std::string& apiBody);
  // A fresh operations object, reading the configuration as it is now.
  void rebuildOperations() {
    ops = std::make_unique<Hypervale::TzRhevOperations>(&connection, &parser, queries.get());
  }
  // The engine answers only these exchanges (and the request log and log capture start empty).
  void serve(const Exchanges& exchanges);
  // Connects to a fresh engine of the flow's generation, runs `call` and checks the flow.
  void expectFlow(const Flow& flow, const std::function<bool()>& call);
  // Every request since serving as "METHOD path", in order.
  std::vector<std::string> trail() const;
  // Body of the first request sent as "METHOD path" ("" when there was none).
  std::string bodyOf(const std::string& request) const;
  size_t requestsOf(const std::string& request) const;
  // Sleeps recorded since the last call.
  std::vector<unsigned long> newSleeps();
  // Makes the connection's last error code 404 through a request of its own, so that a
  // later decision can be checked not to rest on it.
  void leaveStale404();

  Hypervale::TzRhevConnection connection;
  Hypervale::TzRhevParser parser;
  std::unique_ptr<Hypervale::TzRhevQueries> queries;
  std::unique_ptr<Hypervale::TzRhevOperations> ops;

 private:
  size_t sleepsSeen_ = 0;
};

}  // namespace hvtest
