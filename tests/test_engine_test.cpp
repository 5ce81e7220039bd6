// Tests of the test engine, driven by libcurl as the library's transport will drive it.
#include "test_engine/test_engine.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
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
  Client() : curl_(curl_easy_init()) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 5000L);  // no test may hang
    curl_easy_setopt(curl_, CURLOPT_USERNAME, kUser);
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, kPassword);
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
  void password(const char* pw) { curl_easy_setopt(curl_, CURLOPT_PASSWORD, pw); }
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
  explicit EngineTest(hvtest::Options options = engineOptions()) : engine(std::move(options)) {
    client.trust(engine.caFile());
  }
  std::string http(const std::string& target) const { return engine.httpUrl() + target; }
  std::string https(const std::string& target) const { return engine.httpsUrl() + target; }

  TestEngine engine;
  Client client;
};

// --- TLS and the CA ---

TEST_F(EngineTest, ServesHttpsVerifiedByItsCaAndPlainHttpOnTheSamePort) {
  engine.answer("GET", "/ovirt-engine/api", Answer::xml(200, "<api/>"));
  Reply byName = client.get(https("/ovirt-engine/api"));
  ASSERT_EQ(byName.code, CURLE_OK) << curl_easy_strerror(byName.code);
  EXPECT_EQ(byName.status, 200);
  EXPECT_EQ(byName.body, "<api/>");
  EXPECT_NE(byName.head.find("Content-Type: application/xml"), std::string::npos);

  Client byAddress;  // the certificate also names the loopback address
  byAddress.trust(engine.caFile());
  Reply ip =
      byAddress.get("https://127.0.0.1:" + std::to_string(engine.port()) + "/ovirt-engine/api");
  EXPECT_EQ(ip.code, CURLE_OK) << curl_easy_strerror(ip.code);

  Client plain;
  Reply p = plain.get(http("/ovirt-engine/api"));
  ASSERT_EQ(p.code, CURLE_OK);
  EXPECT_EQ(p.body, "<api/>");

  std::vector<Request> log = engine.requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0].tls);
  EXPECT_TRUE(log[1].tls);
  EXPECT_FALSE(log[2].tls);
}

TEST_F(EngineTest, HttpsFailsVerificationWithAForeignCaOrAnotherHostName) {
  TestEngine other(engineOptions());
  Client stranger;
  stranger.trust(other.caFile());
  EXPECT_EQ(stranger.get(https("/ovirt-engine/api")).code, CURLE_PEER_FAILED_VERIFICATION);

  // Right CA, wrong name: the certificate only covers localhost and 127.0.0.1.
  std::string port = std::to_string(engine.port());
  curl_slist* resolve =
      curl_slist_append(nullptr, ("engine.example:" + port + ":127.0.0.1").c_str());
  curl_easy_setopt(client.handle(), CURLOPT_RESOLVE, resolve);
  EXPECT_EQ(client.get("https://engine.example:" + port + "/ovirt-engine/api").code,
            CURLE_PEER_FAILED_VERIFICATION);
  curl_easy_setopt(client.handle(), CURLOPT_RESOLVE, nullptr);
  curl_slist_free_all(resolve);
  EXPECT_EQ(engine.requests().size(), 0u);
}

TEST(EngineCaFile, HoldsTheCaPemAndIsRemovedWithTheEngine) {
  std::string path;
  {
    TestEngine engine(engineOptions());
    path = engine.caFile();
    EXPECT_EQ(engine.caFile(), path);  // created once
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, engine.caPem());
    EXPECT_EQ(content.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(EngineTest, CaResourceIsPublicOverPlainHttpUnlessScripted) {
  Client anonymous;  // no credentials at all
  curl_easy_setopt(anonymous.handle(), CURLOPT_USERNAME, nullptr);
  curl_easy_setopt(anonymous.handle(), CURLOPT_PASSWORD, nullptr);
  Reply ca = anonymous.get(http(TestEngine::kCaResourceTarget));
  ASSERT_EQ(ca.code, CURLE_OK);
  EXPECT_EQ(ca.status, 200);
  EXPECT_EQ(ca.body, engine.caPem());
  EXPECT_FALSE(engine.requests().at(0).authRejected);

  Reply other =
      anonymous.get(http("/ovirt-engine/services/pki-resource?resource=engine-certificate"));
  EXPECT_EQ(other.status, 404);

  engine.answer("GET", TestEngine::kCaResourcePath, Answer::html(503, "<html>down</html>"));
  Reply scripted = anonymous.get(http(TestEngine::kCaResourceTarget));
  EXPECT_EQ(scripted.status, 503);
  EXPECT_EQ(scripted.body, "<html>down</html>");
  EXPECT_NE(scripted.head.find("Content-Type: text/html"), std::string::npos);
}

// --- Authentication ---

TEST_F(EngineTest, WrongOrMissingCredentialsGet401AndAreLoggedAsRejected) {
  engine.answer("GET", "/ovirt-engine/api", Answer::xml(200, "<api/>"));
  client.password("wrong");
  Reply wrong = client.get(https("/ovirt-engine/api"));
  ASSERT_EQ(wrong.code, CURLE_OK);
  EXPECT_EQ(wrong.status, 401);
  EXPECT_NE(wrong.head.find("WWW-Authenticate: Basic realm=\"ENGINE\""), std::string::npos);
  EXPECT_NE(wrong.body.find("<fault><reason>Unauthorized</reason>"), std::string::npos);

  client.header("Authorization: Basic !!!not-base64");
  curl_easy_setopt(client.handle(), CURLOPT_USERNAME, nullptr);
  curl_easy_setopt(client.handle(), CURLOPT_PASSWORD, nullptr);
  EXPECT_EQ(client.get(https("/ovirt-engine/api")).status, 401);

  std::vector<Request> log = engine.requests();
  ASSERT_EQ(log.size(), 2u);
  for (const Request& r : log) {
    EXPECT_TRUE(r.authRejected);
    EXPECT_EQ(r.user, "");
    EXPECT_EQ(r.status, 401);
  }
}

TEST_F(EngineTest, AcceptsTheRightUserAndFollowsPasswordChanges) {
  engine.answer("GET", "/ovirt-engine/api", Answer::xml(200, "<api/>"));
  EXPECT_EQ(client.get(https("/ovirt-engine/api")).status, 200);
  EXPECT_EQ(engine.requests().back().user, kUser);

  engine.setPassword("rotated");
  EXPECT_EQ(client.get(https("/ovirt-engine/api")).status, 401);
  client.password("rotated");
  EXPECT_EQ(client.get(https("/ovirt-engine/api")).status, 200);

  Client wrongUser;
  curl_easy_setopt(wrongUser.handle(), CURLOPT_USERNAME, "someone@internal");
  wrongUser.password("rotated");
  EXPECT_EQ(wrongUser.get(http("/ovirt-engine/api")).status, 401);

  engine.setAuthRequired(false);
  EXPECT_EQ(wrongUser.get(http("/ovirt-engine/api")).status, 200);
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
  EXPECT_NE(missing.body.find("<fault><reason>Operation Failed</reason><detail>Entity not found: "
                              "/elsewhere</detail></fault>"),
            std::string::npos);

  Reply boom = client.get(https("/ovirt-engine/api/boom"));
  EXPECT_EQ(boom.status, 500);
  EXPECT_NE(boom.body.find("simulator &lt;bug&gt;"), std::string::npos);
  EXPECT_EQ(engine.requests().back().status, 500);
}

// --- Request bodies and limits ---

TEST_F(EngineTest, RecordsBodiesAndHeadersExactly) {
  engine.answer("POST", "/ovirt-engine/api/vms", Answer::xml(201, "<vm/>"));
  std::string body("<vm>\0\x01\xff</vm>", 11);
  client.header("X-Custom: one");
  client.header("Content-Type: application/xml");
  Reply r = client.perform("POST", https("/ovirt-engine/api/vms"), &body);
  ASSERT_EQ(r.status, 201);

  Request logged = engine.requests().at(0);
  EXPECT_EQ(logged.method, "POST");
  EXPECT_EQ(logged.body, body);
  EXPECT_EQ(logged.header("x-CUSTOM"), "one");
  EXPECT_EQ(logged.header("content-type"), "application/xml");
  EXPECT_FALSE(logged.headers.has("X-Absent"));
  ASSERT_GT(logged.headers.size(), 2u);
  EXPECT_EQ(logged.headers.list().front().first, "Host");
}

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
  std::string ignored;
  CURL* h = client.handle();
  curl_easy_setopt(h, CURLOPT_URL, https("/upload").c_str());
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, readFrom);
  curl_easy_setopt(h, CURLOPT_READDATA, &rest);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &ignored);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Transfer-Encoding: chunked"), curl_slist_free_all);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  ASSERT_EQ(curl_easy_perform(h), CURLE_OK);
  Request logged = engine.requests().at(0);
  EXPECT_EQ(logged.header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(logged.body, body);
}

class SmallLimitsTest : public EngineTest {
 protected:
  static hvtest::Options smallLimits() {
    hvtest::Options o = engineOptions();
    o.maxBodyBytes = 1024;
    o.maxHeaderBytes = 4096;
    return o;
  }
  SmallLimitsTest() : EngineTest(smallLimits()) {}
};

TEST_F(SmallLimitsTest, RejectsOversizedBodiesAndHeads) {
  engine.answer("*", "/x", Answer::xml(200, "ok"));
  std::string big(2000, 'b');
  Reply expecting = [&] {
    Client c;
    c.header("Expect: 100-continue");
    return c.perform("POST", http("/x"), &big);
  }();
  EXPECT_EQ(expecting.status, 413);
  EXPECT_EQ(expecting.head.find("100 Continue"), std::string::npos);

  // Sent straight away and still arriving: the engine must get its 413 across, not a reset.
  std::string huge(4 * 1024 * 1024, 'b');
  Reply eager = [&] {
    Client c;
    c.header("Expect:");
    return c.perform("POST", http("/x"), &huge);
  }();
  EXPECT_EQ(eager.code, CURLE_OK) << curl_easy_strerror(eager.code);
  EXPECT_EQ(eager.status, 413);

  Reply hugeHead = [&] {
    Client c;
    c.header("X-Big: " + std::string(5000, 'h'));
    return c.get(http("/x"));
  }();
  EXPECT_EQ(hugeHead.status, 400);

  EXPECT_EQ(engine.requests().size(), 0u);  // never read completely
  std::string fits(1024, 'f');
  EXPECT_EQ(client.perform("POST", http("/x"), &fits).status, 200);
}

// --- Faults ---

TEST_F(EngineTest, DropAndPartialAnswersFailTheClient) {
  engine.answer("GET", "/drop", Answer::drop());
  engine.answer("GET", "/partial", Answer::partial(200, std::string(4000, 'p')));
  Client fresh;
  Reply dropped = fresh.get(http("/drop"));
  EXPECT_EQ(dropped.code, CURLE_GOT_NOTHING);
  EXPECT_EQ(engine.requestCount("GET", "/drop"), 1u);

  Reply partial = client.get(https("/partial"));
  EXPECT_EQ(partial.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(partial.body.size(), 2000u);
}

TEST_F(EngineTest, StallIsEndedByTheClientTimeoutAndDelayAnswersLate) {
  engine.answer("GET", "/stall", Answer::stall(5s));
  engine.answer("GET", "/delay", Answer::delayed(150ms, Answer::xml(200, "late")));
  client.timeout(300ms);
  Reply stalled = client.get(https("/stall"));
  EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_LT(stalled.elapsed, 1000ms);

  client.timeout(3000ms);
  Reply delayed = client.get(https("/delay"));
  EXPECT_EQ(delayed.body, "late");
  EXPECT_GE(delayed.elapsed, 150ms);
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

// --- Connections ---

TEST_F(EngineTest, KeepsConnectionsAliveUnlessTheClientAsksToClose) {
  engine.answer("GET", "/a", Answer::xml(200, "a"));
  EXPECT_EQ(client.get(https("/a")).newConnections, 1);
  EXPECT_EQ(client.get(https("/a")).newConnections, 0);

  Client closing;
  closing.header("Connection: close");
  Reply first = closing.get(http("/a"));
  EXPECT_NE(first.head.find("Connection: close"), std::string::npos);
  EXPECT_EQ(closing.get(http("/a")).newConnections, 1);

  std::vector<Request> log = engine.requests();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].connection, log[1].connection);
  EXPECT_NE(log[2].connection, log[3].connection);
  EXPECT_NE(log[1].connection, log[2].connection);
}

// Sends raw bytes and reads until the engine closes (or 2 s pass).
std::string exchangeRaw(uint16_t port, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string received;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) received.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return received;
}

TEST_F(EngineTest, ParsesPipelinedRequestsAndRejectsMalformedOnes) {
  engine.setAuthRequired(false);
  engine.answer("GET", "/a", Answer::xml(200, "first"));
  engine.answer("GET", "/b", Answer::xml(200, "second"));
  auto start = Clock::now();
  std::string both = exchangeRaw(
      engine.port(),
      "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_LT(Clock::now() - start, 1s);  // closed on request, not by a timeout
  size_t a = both.find("\r\n\r\nfirst");
  size_t b = both.find("\r\n\r\nsecond");
  EXPECT_NE(a, std::string::npos);
  EXPECT_NE(b, std::string::npos);
  EXPECT_LT(a, b);

  // HTTP/1.0 closes after one answer unless it asks for keep-alive.
  EXPECT_EQ(exchangeRaw(engine.port(), "GET /a HTTP/1.0\r\n\r\n").rfind("HTTP/1.1 200 OK", 0), 0u);

  const std::pair<const char*, const char*> bad[] = {
      {"NONSENSE\r\n\r\n", "HTTP/1.1 400"},
      {"GET /a HTTP/2.0\r\n\r\n", "HTTP/1.1 505"},
      {"GET /a HTTP/1.1\r\nNo colon here\r\n\r\n", "HTTP/1.1 400"},
      {"GET /a HTTP/1.1\r\nX: y\r\n folded\r\n\r\n", "HTTP/1.1 400"},
      {"POST /a HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
       "HTTP/1.1 400"},
      {"POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", "HTTP/1.1 400"},
      {"POST /a HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", "HTTP/1.1 501"},
      {"POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "HTTP/1.1 400"},
  };
  for (const auto& [request, status] : bad) {
    EXPECT_EQ(exchangeRaw(engine.port(), request).rfind(status, 0), 0u) << request;
  }
  EXPECT_EQ(engine.requests().size(), 3u);
}

// --- Canned answers from a directory ---

TEST(ScriptDirectory, MapsFileNamesToMethodsAndPaths) {
  using Parsed = std::optional<std::pair<std::string, std::string>>;
  EXPECT_EQ(hvtest::parseScriptFileName("GET__ovirt-engine_api.xml"),
            Parsed({"GET", "/ovirt-engine/api"}));
  EXPECT_EQ(hvtest::parseScriptFileName("GET___ovirt-engine_api.xml"),
            Parsed({"GET", "/ovirt-engine/api"}));
  EXPECT_EQ(hvtest::parseScriptFileName("POST__api_vms_1_disk%5Fattachments.xml"),
            Parsed({"POST", "/api/vms/1/disk_attachments"}));
  EXPECT_EQ(hvtest::parseScriptFileName("GET__api.json"), std::nullopt);
  EXPECT_EQ(hvtest::parseScriptFileName("get__api.xml"), std::nullopt);
  EXPECT_EQ(hvtest::parseScriptFileName("GET_api.xml"), std::nullopt);
  EXPECT_EQ(hvtest::parseScriptFileName("GET__api%5.xml"), std::nullopt);

  char pattern[] = "/tmp/hv-script-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::filesystem::path dir(pattern);
  std::ofstream(dir / "GET__ovirt-engine_api_vms.xml") << "<vms/>";
  std::ofstream(dir / "README.txt") << "ignored";
  TestEngine engine(engineOptions());
  EXPECT_EQ(hvtest::loadScriptDirectory(engine, dir.string()), 1u);
  std::filesystem::remove_all(dir);

  Client client;
  Reply r = client.get(engine.httpUrl() + "/ovirt-engine/api/vms?search=up");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "<vms/>");
  EXPECT_THROW(hvtest::loadScriptDirectory(engine, dir.string()), std::runtime_error);
}

}  // namespace
