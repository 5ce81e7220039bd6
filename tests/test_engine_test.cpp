// What only the test engine itself decides and no library test exercises: its faults over both
// protocols, connection reuse and idle closes, and canned answers from a directory.
#include "test_engine/test_engine.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/curl_client.h"
#include "support/temp_folder.h"
#include "test_engine/script_dir.h"

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
  engine.answer("GET", "/delay", Answer::delayed(60s, Answer::xml(200, "late")));
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
      {"/delay", 300, CURLE_OPERATION_TIMEDOUT, ""},
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
    engine.clearRequests();
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

    const std::vector<hvtest::Request> log = engine.requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].tls, url.rfind("https", 0) == 0);
    EXPECT_EQ(log[2].connection, log[0].connection);
    EXPECT_NE(log[3].connection, log[2].connection);
    EXPECT_EQ(log[4].connection, log[3].connection);
  }
}

TEST(TestEngineTest, ScriptDirectoryMapsFileNamesToMethodsAndPaths) {
  using Parsed = std::optional<std::pair<std::string, std::string>>;
  const std::pair<const char*, Parsed> names[] = {
      {"GET___ovirt-engine_api.xml", Parsed({"GET", "/ovirt-engine/api"})},
      {"POST__api_vms_1_disk%5Fattachments.xml", Parsed({"POST", "/api/vms/1/disk_attachments"})},
      {"GET__api.json", std::nullopt},
      {"get__api.xml", std::nullopt},
      {"GET__api%5.xml", std::nullopt},
  };
  for (const auto& [name, parsed] : names) {
    EXPECT_EQ(hvtest::parseScriptFileName(name), parsed) << name;
  }

  TestEngine engine(Open());
  {
    const hvtest::TempFolder folder;
    std::ofstream(folder.file("GET__ovirt-engine_api_vms.xml")) << "<vms/>";
    std::ofstream(folder.file("README.txt")) << "ignored";
    EXPECT_EQ(hvtest::loadScriptDirectory(engine, folder.path().string()), 1u);
    EXPECT_EQ(CurlClient().get(engine.httpUrl() + "/ovirt-engine/api/vms?search=up").body,
              "<vms/>");
    EXPECT_THROW(hvtest::loadScriptDirectory(engine, folder.file("missing")), std::runtime_error);
  }
}

}  // namespace
