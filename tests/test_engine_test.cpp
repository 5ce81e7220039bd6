// What only the test engine itself decides and no library test exercises: its faults over both
// protocols, connection reuse and idle closes, large and shared bodies.
#include "test_engine/test_engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "support/curl_client.h"

namespace {

using hvtest::Answer;
using hvtest::CurlClient;
using hvtest::TestEngine;
using namespace std::chrono_literals;

TEST(TestEngineTest, FaultsEndTheAnswerAsScriptedOverHttpAndHttps) {
  TestEngine engine;
  engine.setAuthRequired(false);  // authentication is the library tests' business
  engine.answer("GET", "/drop", Answer::drop());
  engine.answer("GET", "/partial", Answer::partial(200, std::string(4000, 'p')));
  // Far longer than the client waits: the client gives up first unless the fault is ignored.
  engine.answer("GET", "/stall", Answer::stall(60s));
  // Target, client time-out (short only where the client is meant to give up), code, body.
  const std::tuple<const char*, long, CURLcode, std::string> cases[] = {
      {"/drop", 10000, CURLE_GOT_NOTHING, ""},
      {"/partial", 10000, CURLE_PARTIAL_FILE, std::string(2000, 'p')},
      {"/stall", 300, CURLE_OPERATION_TIMEDOUT, ""},
  };
  for (const std::string& base : {engine.httpUrl(), engine.httpsUrl()}) {
    for (const auto& [target, timeoutMs, code, body] : cases) {
      SCOPED_TRACE(base + target);
      const hvtest::CurlReply r = CurlClient(engine.caFile(), timeoutMs).get(base + target);
      EXPECT_EQ(r.code, code) << curl_easy_strerror(r.code);
      EXPECT_EQ(r.body, body);
    }
  }
  EXPECT_EQ(engine.requestCount("GET", "/drop"), 2u);
}

TEST(TestEngineTest, KeptAliveConnectionsAreCountedAndCanBeClosedWhenIdle) {
  TestEngine engine;
  engine.setAuthRequired(false);
  engine.answer("GET", "/a", Answer::xml(200, "a"));
  for (const std::string& url : {engine.httpUrl() + "/a", engine.httpsUrl() + "/a"}) {
    SCOPED_TRACE(url);
    const size_t before = engine.acceptedConnections();
    CurlClient caller(engine.caFile());
    EXPECT_EQ(caller.get(url).newConnections, 1);
    EXPECT_EQ(caller.get(url).newConnections, 0);
    engine.closeNextIdleConnection();
    const hvtest::CurlReply closing = caller.get(url);
    EXPECT_EQ(closing.body, "a");
    EXPECT_NE(closing.head.find("Connection: keep-alive"), std::string::npos) << closing.head;
    const hvtest::CurlReply after = caller.get(url);  // finds its connection closed
    EXPECT_EQ(after.code, CURLE_OK);
    EXPECT_EQ(after.newConnections, 1);
    EXPECT_EQ(caller.get(url).newConnections, 0);  // one idle close only
    EXPECT_EQ(engine.acceptedConnections() - before, 2u);
  }
}

// Large bodies leave over TLS in one synchronous write and shared bodies are not copied: both
// must arrive whole, keep their connection alive, and a fault still plays on a shared body.
TEST(TestEngineTest, LargeAndSharedBodiesArriveWholeOnAKeptAliveConnection) {
  TestEngine engine;
  engine.setAuthRequired(false);
  std::string large(1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
  const auto shared = std::make_shared<const std::string>(large);
  const auto small = std::make_shared<const std::string>("<small/>");
  engine.answer("GET", "/large", Answer::xml(200, large));
  engine.answer("GET", "/shared", Answer::xml(200, shared));
  engine.answer("GET", "/small", Answer::xml(200, small));
  Answer partial = Answer::xml(200, shared);
  partial.fault = Answer::Fault::Partial;
  engine.answer("GET", "/partial", partial);
  for (const std::string& base : {engine.httpUrl(), engine.httpsUrl()}) {
    CurlClient caller(engine.caFile());
    for (const auto& [target, body] : {std::pair<std::string, std::string>{"/large", large},
                                       {"/shared", large},
                                       {"/small", "<small/>"}}) {
      for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(base + target);
        const hvtest::CurlReply r = caller.get(base + target);
        EXPECT_EQ(r.code, CURLE_OK) << curl_easy_strerror(r.code);
        EXPECT_TRUE(r.body == body) << r.body.size() << " bytes";
        EXPECT_NE(r.head.find("Content-Type: application/xml"), std::string::npos) << r.head;
      }
    }
    EXPECT_EQ(engine.acceptedConnections(), base == engine.httpUrl() ? 1u : 2u);
    const hvtest::CurlReply cut = caller.get(base + "/partial");
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    EXPECT_TRUE(cut.body == large.substr(0, large.size() / 2)) << cut.body.size() << " bytes";
  }
}

// Beyond its worker limit a front end lets connections wait, it does not reset them; a
// kept-alive connection left idle is closed after the idle time, which frees a place.
TEST(TestEngineTest, ConnectionsBeyondTheWorkerLimitWaitTheirTurn) {
  hvtest::Options options;
  options.requireAuth = false;
  options.maxConnections = 1;
  options.idleTimeout = std::chrono::milliseconds(100);
  TestEngine engine(options);
  engine.answer("GET", "/a", Answer::xml(200, "a"));
  CurlClient first(engine.caFile()), second(engine.caFile());
  EXPECT_EQ(first.get(engine.httpsUrl() + "/a").body, "a");
  EXPECT_EQ(engine.openConnections(), 1u);  // kept alive, idle
  const hvtest::CurlReply waited = second.get(engine.httpsUrl() + "/a");
  EXPECT_EQ(waited.code, CURLE_OK);
  EXPECT_EQ(waited.body, "a");
  EXPECT_EQ(engine.acceptedConnections(), 2u);
  EXPECT_LE(engine.openConnections(), 1u);
}

}  // namespace
