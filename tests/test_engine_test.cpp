// Tests of what only the test engine itself decides, driven by libcurl as the library's transport
// drives it. The library's transport and operation tests rely on the rest of its behaviour.
#include "test_engine/test_engine.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_engine/script_dir.h"

namespace {

using hvtest::Answer;
using hvtest::Request;
using hvtest::TestEngine;
using namespace std::chrono_literals;

constexpr const char* kUser = "admin@internal";
constexpr const char* kPassword = "pw";
constexpr const char* kApi = "/ovirt-engine/api";

hvtest::Options engineOptions() {
  hvtest::Options o;
  o.user = kUser;
  o.password = kPassword;
  return o;
}

size_t appendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string head;
  std::string body;
  long newConnections = -1;
};

// One easy handle; connections are reused across perform() calls as in the library.
class Client {
 public:
  explicit Client(const char* user = kUser, const char* password = kPassword)
      : curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 5000L);  // no test may hang
    curl_easy_setopt(curl_, CURLOPT_USERNAME, user);
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, password);
  }
  ~Client() { curl_easy_cleanup(curl_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void trust(const std::string& caFile) {
    curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl_, CURLOPT_CAPATH, nullptr);
  }
  void timeout(std::chrono::milliseconds t) {
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, static_cast<long>(t.count()));
  }

  Reply perform(const std::string& method, const std::string& url,
                const std::string* body = nullptr) {
    Reply r;
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    if (body != nullptr) {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
    } else if (method == "GET") {
      curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method == "GET" ? nullptr : method.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &r.head);
    r.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &r.newConnections);
    return r;
  }
  Reply get(const std::string& url) { return perform("GET", url); }

 private:
  CURL* curl_;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : engine(engineOptions()) { client.trust(engine.caFile()); }
  std::string http(const std::string& target) const { return engine.httpUrl() + target; }
  std::string https(const std::string& target) const { return engine.httpsUrl() + target; }

  TestEngine engine;
  Client client;
};

// --- Authentication ---

TEST_F(EngineTest, BasicAuthAnswers401AndFlagsTheRequest) {
  engine.answer("GET", kApi, Answer::xml(200, "<api/>"));
  struct Case {
    const char* user;
    const char* password;
    bool required;
    long status;
  };
  const Case cases[] = {
      {kUser, kPassword, true, 200},
      {kUser, "wrong", true, 401},
      {"someone@internal", kPassword, true, 401},
      {nullptr, nullptr, true, 401},
      {"someone@internal", "wrong", false, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user ? c.user : "nobody") + " " + std::to_string(c.required));
    engine.setAuthRequired(c.required);
    Client caller(c.user, c.password);
    caller.trust(engine.caFile());
    Reply r = caller.get(https(kApi));
    EXPECT_EQ(r.status, c.status);
    const bool refused = c.status == 401;
    EXPECT_EQ(r.head.find("WWW-Authenticate: Basic realm=\"ENGINE\"") != std::string::npos,
              refused);
    EXPECT_EQ(r.body.find("<fault><reason>Unauthorized</reason>") != std::string::npos, refused);
    Request logged = engine.requests().back();
    EXPECT_EQ(logged.authRejected, refused);
    EXPECT_EQ(logged.status, c.status);
    EXPECT_EQ(logged.user, c.required && !refused ? kUser : "");
  }
}

// --- Scripted answers ---

TEST_F(EngineTest, ScriptsMatchTheExactTargetFirstAndPlayTheirAnswersInTurn) {
  engine.script("GET", "/api/vms?search=name%3Dx",
                {Answer::xml(409, "<a/>"), Answer::xml(200, "exact")});
  engine.answer("GET", "/api/vms", Answer::xml(200, "path"));
  engine.answer("*", "/api/vms", Answer::xml(200, "any"));
  std::string bodies;
  for (int i = 0; i < 3; ++i) bodies += client.get(https("/api/vms?search=name%3Dx")).body;
  EXPECT_EQ(bodies, "<a/>exactexact");  // the last answer repeats
  EXPECT_EQ(client.get(https("/api/vms?search=name%3Dy")).body, "path");
  EXPECT_EQ(client.get(https("/api/vms")).body, "path");
  EXPECT_EQ(client.perform("DELETE", https("/api/vms?force=true")).body, "any");
  EXPECT_EQ(client.perform("PUT", https("/api/vms")).body, "any");

  EXPECT_EQ(engine.requestCount("GET", "/api/vms?search=name%3Dx"), 3u);
  EXPECT_EQ(engine.requestCount("GET", "/api/vms"), 5u);  // a bare path counts any query
  EXPECT_EQ(engine.requestCount("*", "/api/vms"), 7u);
  EXPECT_EQ(engine.requestCount("POST", "/api/vms"), 0u);

  engine.script("GET", "/api/vms", {});  // removed: falls to the "*" script
  EXPECT_EQ(client.get(https("/api/vms")).body, "any");
  engine.reset();
  EXPECT_EQ(engine.requests().size(), 0u);
  EXPECT_EQ(client.get(https("/api/vms?search=name%3Dx")).status, 404);
}

TEST_F(EngineTest, FallbackDecidesUnscriptedRequestsElse404Fault) {
  engine.answer("GET", "/ovirt-engine/api/hosts", Answer::xml(200, "scripted"));
  engine.setFallback([](const Request& r) -> std::optional<Answer> {
    if (r.path == "/ovirt-engine/api/boom") throw std::runtime_error("simulator <bug>");
    if (r.path.rfind("/ovirt-engine/api/", 0) != 0) return std::nullopt;
    return Answer::xml(200, "sim:" + r.method + ":" + r.user);
  });
  EXPECT_EQ(client.get(https("/ovirt-engine/api/hosts")).body, "scripted");
  EXPECT_EQ(client.get(https("/ovirt-engine/api/vms")).body, "sim:GET:admin@internal");

  Reply missing = client.get(https("/elsewhere"));
  EXPECT_EQ(missing.status, 404);
  EXPECT_NE(missing.body.find("<detail>Entity not found: /elsewhere</detail>"), std::string::npos);

  Reply boom = client.get(https("/ovirt-engine/api/boom"));
  EXPECT_EQ(boom.status, 500);
  EXPECT_NE(boom.body.find("simulator &lt;bug&gt;"), std::string::npos);
}

// --- Faults and connections ---

TEST_F(EngineTest, FaultsEndTheAnswerAsScriptedOverHttpAndHttps) {
  engine.answer("GET", "/drop", Answer::drop());
  engine.answer("GET", "/partial", Answer::partial(200, std::string(4000, 'p')));
  // Far longer than the client waits: the client gives up first unless the fault is ignored.
  engine.answer("GET", "/stall", Answer::stall(60s));
  engine.answer("GET", "/delay", Answer::delayed(60s, Answer::xml(200, "late")));
  engine.answer("GET", "/brief", Answer::delayed(1ms, Answer::xml(200, "late")));
  struct Case {
    const char* target;
    CURLcode code;
    std::string body;
  };
  const Case cases[] = {
      {"/drop", CURLE_GOT_NOTHING, ""},
      {"/partial", CURLE_PARTIAL_FILE, std::string(2000, 'p')},
      {"/stall", CURLE_OPERATION_TIMEDOUT, ""},
      {"/delay", CURLE_OPERATION_TIMEDOUT, ""},
      {"/brief", CURLE_OK, "late"},
  };
  for (bool tls : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.target) + (tls ? " over https" : " over http"));
      Client fresh;
      fresh.trust(engine.caFile());
      fresh.timeout(300ms);
      Reply r = fresh.get(tls ? https(c.target) : http(c.target));
      EXPECT_EQ(r.code, c.code) << curl_easy_strerror(r.code);
      EXPECT_EQ(r.body, c.body);
    }
  }
  EXPECT_EQ(engine.requestCount("GET", "/drop"), 2u);
}

TEST(EngineLifecycle, StopEndsAStalledConnection) {
  TestEngine engine(engineOptions());
  engine.answer("GET", "/stall", Answer::stall(60s));
  Client client;
  client.timeout(30s);
  Reply reply;
  std::string url = engine.httpUrl() + "/stall";
  std::thread request([&] { reply = client.get(url); });
  bool stalling = engine.waitForRequests(1, 10s);
  engine.stop();
  engine.stop();  // idempotent
  request.join();

  ASSERT_TRUE(stalling);
  EXPECT_EQ(reply.code, CURLE_GOT_NOTHING);                  // closed by the server, not timed out
  EXPECT_EQ(Client().get(url).code, CURLE_COULDNT_CONNECT);  // nothing listens any more
}

TEST_F(EngineTest, KeptAliveConnectionsAreCountedAndCanBeClosedWhenIdle) {
  engine.answer("GET", "/a", Answer::xml(200, "a"));
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    engine.clearRequests();
    const size_t before = engine.acceptedConnections();
    const std::string url = tls ? https("/a") : http("/a");
    Client caller;
    caller.trust(engine.caFile());
    EXPECT_EQ(caller.get(url).newConnections, 1);
    EXPECT_EQ(caller.get(url).newConnections, 0);
    engine.closeNextIdleConnection();
    Reply closing = caller.get(url);
    EXPECT_EQ(closing.body, "a");
    EXPECT_NE(closing.head.find("Connection: keep-alive"), std::string::npos) << closing.head;
    Reply after = caller.get(url);  // finds its connection closed and opens another
    EXPECT_EQ(after.code, CURLE_OK);
    EXPECT_EQ(after.newConnections, 1);
    EXPECT_EQ(caller.get(url).newConnections, 0);  // one idle close only
    EXPECT_EQ(engine.acceptedConnections() - before, 2u);

    std::vector<Request> log = engine.requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].tls, tls);
    EXPECT_EQ(log[2].connection, log[0].connection);
    EXPECT_NE(log[3].connection, log[2].connection);
    EXPECT_EQ(log[4].connection, log[3].connection);
  }
}

// --- Canned answers from a directory ---

TEST(ScriptDirectory, MapsFileNamesToMethodsAndPaths) {
  using Parsed = std::optional<std::pair<std::string, std::string>>;
  const std::pair<const char*, Parsed> names[] = {
      {"GET__ovirt-engine_api.xml", Parsed({"GET", "/ovirt-engine/api"})},
      {"GET___ovirt-engine_api.xml", Parsed({"GET", "/ovirt-engine/api"})},
      {"POST__api_vms_1_disk%5Fattachments.xml", Parsed({"POST", "/api/vms/1/disk_attachments"})},
      {"GET__api.json", std::nullopt},
      {"get__api.xml", std::nullopt},
      {"GET_api.xml", std::nullopt},
      {"GET__api%5.xml", std::nullopt},
  };
  for (const auto& [name, parsed] : names) {
    EXPECT_EQ(hvtest::parseScriptFileName(name), parsed) << name;
  }

  char pattern[] = "/tmp/hv-script-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::filesystem::path dir(pattern);
  std::ofstream(dir / "GET__ovirt-engine_api_vms.xml") << "<vms/>";
  std::ofstream(dir / "README.txt") << "ignored";
  TestEngine engine(engineOptions());
  EXPECT_EQ(hvtest::loadScriptDirectory(engine, dir.string()), 1u);
  std::filesystem::remove_all(dir);

  Reply r = Client().get(engine.httpUrl() + "/ovirt-engine/api/vms?search=up");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "<vms/>");
  EXPECT_THROW(hvtest::loadScriptDirectory(engine, dir.string()), std::runtime_error);
}

}  // namespace
