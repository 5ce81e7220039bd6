// The worker graph of the facade (connection, parser, queries, operations) against the
// loopback engine, and engine bodies in the shapes the engine sends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "operations/rhevOperations.h"
#include "queries/rhevQueries.h"
#include "support/engine_fixture.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace hvtest {

// API root of an engine announcing major.minor.build (v4 form).
std::string ApiXml(int major, int minor, int build);
std::string VmXml(const std::string& id, const std::string& status);
std::string JobXml(const std::string& id, const std::string& description,
                   const std::string& status);
std::string SnapshotXml(const std::string& id, const std::string& status,
                        const std::string& type = "regular");
std::string DiskXml(const std::string& id, const std::string& status, bool active);
std::string AttachmentXml(const std::string& diskId, bool active);
std::string ActionXml(const std::string& status, const std::string& jobId = "");
std::string DomainXml(const std::string& id, const std::string& name, const std::string& status);
std::string ListXml(const std::string& root, const std::vector<std::string>& items);
// "/ovirt-engine/api/" + path.
std::string Api(const std::string& path);

// One scripted engine conversation: the API root to connect with, the answers per request
// (method, target, answers in turn), and what the call must return, send and log.
struct Flow {
  using Step = std::tuple<std::string, std::string, std::vector<Answer>>;
  // method, target, fragment, whether that request's body holds it
  using BodyCheck = std::tuple<std::string, std::string, std::string, bool>;

  const char* name;
  std::string api;
  std::vector<Step> script;
  bool result;
  std::vector<std::string> trail;  // "METHOD target" of every request, in order
  std::vector<BodyCheck> bodies;
  const char* error = nullptr;  // an error line the call must log
};

class OperationsTest : public EngineTest {
 protected:
  // Tunes the waits, connects to an engine serving `apiBody` as its root and builds the
  // workers; the request log and the log capture start empty afterwards.
  void connectAs(const std::string& apiBody, int retryCount = 2, int sleepMs = 100);
  // A fresh operations object, reading the configuration as it is now.
  void rebuildOperations();
  // "METHOD target" of every request since connecting, in order.
  std::vector<std::string> trail() const;
  // Body of the first request with this method and target ("" when there was none).
  std::string bodyOf(const std::string& method, const std::string& target) const;
  // Makes the connection's last error code 404 through a request of its own, so that a
  // later decision can be checked not to rest on it.
  void leaveStale404();
  // Connects as the flow says, scripts the engine, runs `call` and checks the flow.
  void run(const Flow& flow, const std::function<bool()>& call);

  Hypervale::TzRhevConnection connection;
  Hypervale::TzRhevParser parser;
  std::unique_ptr<Hypervale::TzRhevQueries> queries;
  std::unique_ptr<Hypervale::TzRhevOperations> ops;
};

}  // namespace hvtest
