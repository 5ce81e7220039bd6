// Tests of what only the test engine itself decides, driven by libcurl as the library's transport
// drives it. The library's transport and operation tests rely on the rest of its behaviour.
#include "test_engine/test_engine.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "test_engine/script_dir.h"

namespace {

using hvtest::Answer;
using hvtest::Request;
using hvtest::TestEngine;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
  std::string head;  // every header line received, 1xx interim answers included
  std::string body;
  long newConnections = -1;
  std::chrono::milliseconds elapsed{0};
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
  ~Client() {
    curl_easy_cleanup(curl_);
    curl_slist_free_all(headers_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  CURL* handle() { return curl_; }
  void header(const std::string& line) { headers_ = curl_slist_append(headers_, line.c_str()); }
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
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, appendTo);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &r.head);
    auto start = Clock::now();
    r.code = curl_easy_perform(curl_);
    r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &r.newConnections);
    return r;
  }
  Reply get(const std::string& url) { return perform("GET", url); }

 private:
  CURL* curl_;
  curl_slist* headers_ = nullptr;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : engine(engineOptions()) { client.trust(engine.caFile()); }
  std::string http(const std::string& target) const { return engine.httpUrl() + target; }
  std::string https(const std::string& target) const { return engine.httpsUrl() + target; }

  TestEngine engine;
  Client client;
};

// --- TLS and authentication ---

TEST_F(EngineTest, HttpsIsVerifiedByItsCaAndPlainHttpSharesThePort) {
  engine.answer("GET", kApi, Answer::xml(200, "<api/>"));
  Reply tls = client.get(https(kApi));
  ASSERT_EQ(tls.code, CURLE_OK) << curl_easy_strerror(tls.code);
  EXPECT_EQ(tls.body, "<api/>");
  EXPECT_NE(tls.head.find("Content-Type: application/xml"), std::string::npos);
  Client plain;
  EXPECT_EQ(plain.get(http(kApi)).body, "<api/>");

  std::string foreignCa;
  {
    TestEngine other(engineOptions());
    foreignCa = other.caFile();
    Client stranger;
    stranger.trust(foreignCa);
    EXPECT_EQ(stranger.get(https(kApi)).code, CURLE_PEER_FAILED_VERIFICATION);
  }
  EXPECT_FALSE(std::filesystem::exists(foreignCa));  // removed with its engine

  std::vector<Request> log = engine.requests();  // the refused handshake is not a request
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].tls);
  EXPECT_FALSE(log[1].tls);
}

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

TEST_F(EngineTest, ScriptedSequenceIsConsumedAndItsLastAnswerRepeats) {
  engine.script("POST", "/ovirt-engine/api/vms/1/start",
                {Answer::xml(409, "<a/>"), Answer::xml(409, "<b/>"), Answer::xml(200, "<c/>")});
  std::string body = "<action/>";
  std::vector<long> statuses;
  std::string bodies;
  for (int i = 0; i < 5; ++i) {
    Reply r = client.perform("POST", https("/ovirt-engine/api/vms/1/start"), &body);
    statuses.push_back(r.status);
    bodies += r.body;
  }
  EXPECT_EQ(statuses, (std::vector<long>{409, 409, 200, 200, 200}));
  EXPECT_EQ(bodies, "<a/><b/><c/><c/><c/>");
  EXPECT_EQ(engine.requestCount("POST", "/ovirt-engine/api/vms/1/start"), 5u);
  EXPECT_EQ(engine.requestCount("GET", "/ovirt-engine/api/vms/1/start"), 0u);
}

TEST_F(EngineTest, ExactTargetBeatsPathAndNamedMethodBeatsStar) {
  engine.answer("GET", "/api/vms?search=name%3Dx", Answer::xml(200, "exact"));
  engine.answer("GET", "/api/vms", Answer::xml(200, "path"));
  engine.answer("*", "/api/vms", Answer::xml(200, "any"));
  EXPECT_EQ(client.get(https("/api/vms?search=name%3Dx")).body, "exact");
  EXPECT_EQ(client.get(https("/api/vms?search=name%3Dy")).body, "path");
  EXPECT_EQ(client.get(https("/api/vms")).body, "path");
  EXPECT_EQ(client.perform("DELETE", https("/api/vms?force=true")).body, "any");
  EXPECT_EQ(client.perform("PUT", https("/api/vms")).body, "any");

  EXPECT_EQ(engine.requestCount("GET", "/api/vms?search=name%3Dx"), 1u);
  EXPECT_EQ(engine.requestCount("GET", "/api/vms"), 3u);  // a bare path counts any query
  EXPECT_EQ(engine.requestCount("*", "/api/vms"), 5u);

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

// --- Request bodies ---

TEST_F(EngineTest, AnswersExpectContinueBeforeALargeBody) {
  engine.answer("PUT", "/ovirt-engine/api/disks/1", Answer::xml(200, "<disk/>"));
  std::string body(1536 * 1024, 'x');
  for (size_t i = 0; i < body.size(); i += 4096) body[i] = static_cast<char>('a' + i % 26);
  client.header("Expect: 100-continue");
  // Had the engine not answered 100, curl would wait this long before sending anyway.
  curl_easy_setopt(client.handle(), CURLOPT_EXPECT_100_TIMEOUT_MS, 4000L);
  Reply r = client.perform("PUT", https("/ovirt-engine/api/disks/1"), &body);
  ASSERT_EQ(r.code, CURLE_OK);
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.head.find("HTTP/1.1 100 Continue"), std::string::npos);
  EXPECT_LT(r.elapsed, 2000ms);
  EXPECT_TRUE(engine.requests().at(0).body == body);
}

size_t readFrom(char* out, size_t size, size_t count, void* source) {
  auto* rest = static_cast<std::string_view*>(source);
  size_t n = std::min({size * count, rest->size(), size_t{1000}});  // many small chunks
  rest->copy(out, n);
  rest->remove_prefix(n);
  return n;
}

TEST_F(EngineTest, DecodesChunkedRequestBodies) {
  engine.answer("POST", "/upload", Answer::xml(200, "ok"));
  std::string body;
  for (int i = 0; i < 500; ++i) body += std::to_string(i) + ",";
  std::string_view rest = body;
  curl_easy_setopt(client.handle(), CURLOPT_POST, 1L);
  curl_easy_setopt(client.handle(), CURLOPT_READFUNCTION, readFrom);
  curl_easy_setopt(client.handle(), CURLOPT_READDATA, &rest);
  client.header("Transfer-Encoding: chunked");
  ASSERT_EQ(client.perform("POST", https("/upload")).body, "ok");
  Request logged = engine.requests().at(0);
  EXPECT_EQ(logged.header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(logged.body, body);
}

// --- Faults and connections ---

TEST_F(EngineTest, DropStallAndPartialAnswersEndTheClientQuickly) {
  engine.answer("GET", "/drop", Answer::drop());
  engine.answer("GET", "/stall", Answer::stall(5s));
  engine.answer("GET", "/partial", Answer::partial(200, std::string(4000, 'p')));
  engine.answer("GET", "/delay", Answer::delayed(100ms, Answer::xml(200, "late")));
  struct Case {
    const char* target;
    CURLcode code;
    size_t received;
    std::chrono::milliseconds atLeast;
  };
  const Case cases[] = {
      {"/drop", CURLE_GOT_NOTHING, 0, 0ms},
      {"/stall", CURLE_OPERATION_TIMEDOUT, 0, 400ms},
      {"/partial", CURLE_PARTIAL_FILE, 2000, 0ms},
      {"/delay", CURLE_OK, 4, 100ms},
  };
  for (const Case& c : cases) {
    Client fresh;
    fresh.timeout(400ms);
    Reply r = fresh.get(http(c.target));
    EXPECT_EQ(r.code, c.code) << c.target;
    EXPECT_EQ(r.body.size(), c.received) << c.target;
    EXPECT_GE(r.elapsed, c.atLeast) << c.target;
    EXPECT_LT(r.elapsed, 1000ms) << c.target;
  }
  EXPECT_EQ(engine.requestCount("GET", "/drop"), 1u);
}

TEST(EngineLifecycle, StopEndsAStalledConnectionPromptly) {
  TestEngine engine(engineOptions());
  engine.answer("GET", "/stall", Answer::stall(5s));
  Client client;
  client.timeout(4000ms);
  Reply reply;
  std::string url = engine.httpUrl() + "/stall";
  std::thread request([&] { reply = client.get(url); });
  bool stalling = engine.waitForRequests(1, 2s);

  auto start = Clock::now();
  engine.stop();
  auto stopping = Clock::now() - start;
  request.join();

  ASSERT_TRUE(stalling);
  EXPECT_LT(stopping, 1s);
  EXPECT_NE(reply.code, CURLE_OK);
  EXPECT_LT(reply.elapsed, 2000ms);
  EXPECT_NE(Client().get(url).code, CURLE_OK);  // nothing listens any more
}

TEST_F(EngineTest, KeepsConnectionsAlive) {
  engine.answer("GET", "/a", Answer::xml(200, "a"));
  EXPECT_EQ(client.get(https("/a")).newConnections, 1);
  EXPECT_EQ(client.get(https("/a")).newConnections, 0);
  std::vector<Request> log = engine.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].connection, log[1].connection);
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
