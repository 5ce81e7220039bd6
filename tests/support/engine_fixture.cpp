#include "support/engine_fixture.h"

#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace hvtest {

void EngineTest::SetUp() {
  Options options;
  options.password = TestPassword();
  engine = std::make_unique<TestEngine>(options);
  config.set("sRhevCAFile", engine->caFile())
      .set("nRhevConnectTimeoutSec", "5")
      .set("nRhevStallTimeoutSec", "5");
}

void EngineTest::TearDown() {
  for (const auto& request : engine->requests()) {
    EXPECT_FALSE(!request.tls && request.headers.has("Authorization"))
        << "credentials went over plain HTTP: " << request.method << " " << request.target;
  }
  engine.reset();
  EXPECT_EQ(logs.all().find(TestPassword()), std::string::npos)
      << "the password reached a log line";
  // Every line names the member that wrote it, not a helper lambda inside it.
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.function.find("<lambda"), std::string::npos) << line.function;
  }
}

void EngineTest::connectWorkers(Hypervale::TzRhevConnection& connection,
                                Hypervale::TzRhevParser& parser) {
  std::string response;
  ASSERT_TRUE(connection.connect(server(), "admin", TestPassword(), response));
  Hypervale::SAPIInfoLib api;
  ASSERT_TRUE(parser.DetectVersion(response, api));
  connection.setParser(&parser);
  engine->clearRequests();
  logs.clear();
}

void EngineTest::serveApiRoot(const std::string& fixture) {
  engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, Fixture(fixture)));
}

}  // namespace hvtest
