// In-process stand-in for the virtualization engine's REST endpoint, for tests of the library.
//
//   hvtest::Options options;
//   options.password = "pw";
//   hvtest::TestEngine engine(options);          // listening on 127.0.0.1:<ephemeral>
//   engine.answer("GET", "/ovirt-engine/api", hvtest::Answer::xml(200, "<api/>"));
//   // point the client at engine.httpsUrl() with CAINFO = engine.caFile(), user admin@internal
//   EXPECT_EQ(engine.requestCount("GET", "/ovirt-engine/api"), 1u);
//
// One port serves plain HTTP and HTTPS (chosen per connection from its first byte). Every path
// but the CA resource requires Basic authentication unless disabled. Scripted answers come
// first, then the fallback handler, then the built-in CA resource, then a 404 fault.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_engine/http_message.h"

namespace hvtest {

class Server;
class TlsMaterial;

// What an authorizer decided for one request.
struct Authorization {
  std::string user;               // who the request runs as ("" for a resource that needs none)
  HeaderList answerHeaders;       // added to the request's answer (a session cookie, say)
  std::optional<Answer> refusal;  // set: the request gets this answer instead
};

// Decides authentication ahead of the built-in Basic check; nullopt leaves the request to the
// Basic check. Runs on connection threads, possibly several at once.
using Authorizer = std::function<std::optional<Authorization>(const Request&)>;

struct Options {
  std::string user = "admin@internal";
  std::string password = "hypervale";
  bool requireAuth = true;
  uint16_t port = 0;  // 0: ephemeral
  // A kept-alive connection without a request is closed after this, as a front end does.
  std::chrono::milliseconds idleTimeout{5000};
  std::chrono::milliseconds ioTimeout{5000};  // any single read or write
  size_t maxHeaderBytes = 64 * 1024;          // larger heads get 400
  size_t maxBodyBytes = 64 * 1024 * 1024;     // larger bodies get 413
  size_t maxConnections = 256;                // served at once; further connections wait their turn
  Authorizer authorizer;                      // optional
};

// User and password of the request's Basic authorization, if it carries a well-formed one.
std::optional<std::pair<std::string, std::string>> basicCredentials(const Request& request);

// Decides answers for requests no script matches; nullopt passes on (CA resource, then 404).
// Runs on connection threads, possibly several at once.
using Fallback = std::function<std::optional<Answer>(const Request&)>;

class TestEngine {
 public:
  static constexpr const char* kCaResourcePath = "/ovirt-engine/services/pki-resource";
  static constexpr const char* kCaResourceTarget =
      "/ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA";

  // Generates the certificates and starts serving. Throws on failure (e.g. port in use).
  explicit TestEngine(Options options = {});
  // Stops the server and removes the CA file.
  ~TestEngine();
  TestEngine(const TestEngine&) = delete;
  TestEngine& operator=(const TestEngine&) = delete;

  uint16_t port() const;
  std::string httpUrl() const;   // "http://127.0.0.1:PORT"
  std::string httpsUrl() const;  // "https://localhost:PORT" (the certificate names localhost)
  // The options as given at construction (setPassword() does not change them).
  const Options& options() const { return options_; }

  // PEM of the CA that signed the server certificate.
  const std::string& caPem() const;
  // Path of a temporary file holding caPem(), created on first call, removed by the destructor.
  std::string caFile() const;
  // The server's certificate and private key (PEM), so that another server can be trusted by
  // the same CA (the benchmark's baseline server).
  const std::string& serverCertPem() const;
  std::string serverKeyPem() const;

  // Changes the accepted password from now on (a password change or expired session).
  void setPassword(std::string password);
  void setAuthRequired(bool required);
  // Whether Basic authentication with these credentials would be accepted now.
  bool validCredentials(const std::string& user, const std::string& password) const;

  // Answers `method` + `target` with the answers in turn; the last one repeats forever. The
  // target is matched exactly as sent (path plus query); a target without '?' also matches
  // that path with any query when nothing exact does. Method "*" matches any method. An empty
  // list removes the script.
  void script(std::string method, std::string target, std::vector<Answer> answers);
  // A single answer, repeated forever.
  void answer(std::string method, std::string target, Answer answer);
  void setFallback(Fallback fallback);
  // Forgets all scripts and the request log (the fallback and credentials stay).
  void reset();

  // Copy of every request read so far, in arrival order.
  std::vector<Request> requests() const;
  // Requests with this method ("*": any) and target; a target without '?' also counts that
  // path with any query.
  size_t requestCount(const std::string& method, const std::string& target) const;
  void clearRequests();
  // Waits until at least n requests are logged; false on timeout.
  bool waitForRequests(size_t n, std::chrono::milliseconds timeout) const;

  // TCP connections accepted so far (a client reusing its connections adds none).
  size_t acceptedConnections() const;
  // Connections open now, kept-alive idle ones included.
  size_t openConnections() const;
  // The next answer that would keep its connection open is sent as such ("Connection:
  // keep-alive"), then the connection is closed, as an engine closes a kept-alive connection
  // whose idle time ran out.
  void closeNextIdleConnection();

  // Stops serving: closes the listener and all connections (also stalled ones) and joins every
  // thread. Idempotent; never call it from a fallback.
  void stop();

 private:
  struct Script {
    std::vector<Answer> answers;
    size_t next = 0;
  };
  using ScriptKey = std::pair<std::string, std::string>;  // method, target

  Answer handle(Request& request);
  std::optional<Answer> scripted(const Request& request);
  std::optional<Authorization> authorize(Request& request);
  void log(const Request& request);

  Options options_;
  std::unique_ptr<TlsMaterial> tls_;

  mutable std::mutex mutex_;  // guards the fields below up to the log
  std::string password_;
  bool requireAuth_;
  std::map<ScriptKey, Script> scripts_;
  std::shared_ptr<const Fallback> fallback_;

  mutable std::mutex logMutex_;
  mutable std::condition_variable logChanged_;
  std::vector<Request> log_;

  mutable std::mutex caFileMutex_;
  mutable std::string caFile_;

  std::unique_ptr<Server> server_;  // last: stopped before the state it calls into goes away
};

}  // namespace hvtest
