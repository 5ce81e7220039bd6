// What only the test engine itself decides and no library test exercises: its faults over both
// protocols, connection reuse and idle closes.
#include "test_engine/test_engine.h"

#include <gtest/gtest.h>

#include "support/curl_client.h"

namespace {

using hvtest::Answer;
using hvtest::CurlClient;
using hvtest::TestEngine;
using namespace std::chrono_literals;

// Authentication is the library tests' business.
hvtest::Options Open() {
  hvtest::Options options;
  options.requireAuth = false;
  return options;
}

TEST(TestEngineTest, FaultsEndTheAnswerAsScriptedOverHttpAndHttps) {
  TestEngine engine(Open());
  engine.answer("GET", "/drop", Answer::drop());
  engine.answer("GET", "/partial", Answer::partial(200, std::string(4000, 'p')));
  // Far longer than the client waits: the client gives up first unless the fault is ignored.
  engine.answer("GET", "/stall", Answer::stall(60s));
  struct Case {
    const char* target;
    long timeoutMs;  // short only where the client is meant to give up
    CURLcode code;
    std::string body;
  };
  const Case cases[] = {
      {"/drop", 10000, CURLE_GOT_NOTHING, ""},
      {"/partial", 10000, CURLE_PARTIAL_FILE, std::string(2000, 'p')},
      {"/stall", 300, CURLE_OPERATION_TIMEDOUT, ""},
  };
  for (const std::string& base : {engine.httpUrl(), engine.httpsUrl()}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(base + c.target);
      const hvtest::CurlReply r = CurlClient(engine.caFile(), c.timeoutMs).get(base + c.target);
      EXPECT_EQ(r.code, c.code) << curl_easy_strerror(r.code);
      EXPECT_EQ(r.body, c.body);
    }
  }
  EXPECT_EQ(engine.requestCount("GET", "/drop"), 2u);
}

TEST(TestEngineTest, KeptAliveConnectionsAreCountedAndCanBeClosedWhenIdle) {
  TestEngine engine(Open());
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

}  // namespace
