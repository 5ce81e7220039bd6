// The facade's lifecycle: connect end to end against engines of both API generations.
#include <gtest/gtest.h>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;

class FacadeConnectTest : public hvtest::EngineTest {};

TEST_F(FacadeConnectTest, NeverConnectedFacadeHasNoVersionAndSendsNothing) {
  TzHypervale facade;
  EXPECT_EQ(facade.getMajorVersion(), 0u);
  EXPECT_EQ(facade.getConnectionVersion(), "");
  EXPECT_EQ(facade.getSchemaVersion(), 0);
  EXPECT_FALSE(facade.checkConnection());
  EXPECT_TRUE(engine->requests().empty());
}

TEST_F(FacadeConnectTest, ConnectReadsTheEngineVersionOfEitherGeneration) {
  struct Case {
    const char* fixture;
    unsigned int major;
    const char* fullVersion;
    std::int32_t schema;
  };
  const Case cases[] = {
      {"v3/api-ovirt-3.6.xml", 3, "3.6.7_master", 3006007},
      {"v3/api-served-by-4.1-engine.xml", 4, "4.1.0_master", 4001000},
      {"v4/api.xml", 4, "4.0.4", 4000004},
  };
  for (const auto& c : cases) {
    serveApiRoot(c.fixture);
    TzHypervale facade;
    ASSERT_TRUE(facade.connect(server(), "admin", hvtest::TestPassword())) << c.fixture;
    EXPECT_EQ(facade.getMajorVersion(), c.major);
    EXPECT_EQ(facade.getConnectionVersion(), c.fullVersion);
    EXPECT_EQ(facade.getSchemaVersion(), c.schema);
    EXPECT_TRUE(logs.contains("Connection successful with [" + server() +
                              "] [oVirt Engine] Version [" + c.fullVersion + "]"));
    EXPECT_TRUE(facade.checkConnection());
  }
}

TEST_F(FacadeConnectTest, AnAnswerThatIsNotTheApiRootFailsTheConnect) {
  engine->answer("GET", "/ovirt-engine/api", Answer::xml(200, "<vms/>"));
  TzHypervale facade;
  EXPECT_FALSE(facade.connect(server(), "admin", hvtest::TestPassword()));
  EXPECT_TRUE(logs.containsError("Object name is [vms], expected [api]"));
  EXPECT_EQ(facade.getSchemaVersion(), 0);

  engine->answer("GET", "/ovirt-engine/api", Answer::html(200, "<html><body>login</body></html>"));
  EXPECT_FALSE(facade.connect(server(), "admin", hvtest::TestPassword()));
}

TEST_F(FacadeConnectTest, FaultsAreReadOnlyAfterTheFirstConnect) {
  engine->answer("GET", "/ovirt-engine/api",
                 Answer::engineFault(401, "Unauthorized", "bad credentials"));
  TzHypervale facade;
  EXPECT_FALSE(facade.connect(server(), "admin", hvtest::TestPassword()));
  EXPECT_EQ(facade.getLastError(), "");  // no parser handed to the transport yet
  EXPECT_EQ(facade.getLastErrorCode(), 401);

  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(facade.connect(server(), "admin", hvtest::TestPassword()));
  engine->answer("GET", "/ovirt-engine/api", Answer::engineFault(500, "Operation Failed", "boom"));
  EXPECT_FALSE(facade.checkConnection());
  EXPECT_EQ(facade.getLastError(), "boom");
}

TEST_F(FacadeConnectTest, DebugSwitchedOnBeforeConnectRaisesItsResponseLines) {
  serveApiRoot("v4/api.xml");
  TzHypervale facade;
  facade.EnableDebug();
  ASSERT_TRUE(facade.connect(server(), "admin", hvtest::TestPassword()));
  bool raised = false;
  for (const auto& line : logs.lines()) {
    if (line.message.rfind("Response from GET [https://", 0) == 0) raised = line.level == 2;
  }
  EXPECT_TRUE(raised);
}

TEST_F(FacadeConnectTest, ConnectingAgainReplacesTheEngine) {
  serveApiRoot("v3/api-ovirt-3.6.xml");
  TzHypervale facade;
  ASSERT_TRUE(facade.connect(server(), "admin", hvtest::TestPassword()));
  hvtest::Options options;
  options.password = hvtest::TestPassword();
  hvtest::TestEngine second(options);
  second.answer("GET", "/ovirt-engine/api", Answer::xml(200, hvtest::Fixture("v4/api.xml")));
  config.set("sRhevCAFile", second.caFile());
  ASSERT_TRUE(facade.connect("localhost:" + std::to_string(second.port()), "admin",
                             hvtest::TestPassword()));
  EXPECT_EQ(facade.getSchemaVersion(), 4000004);
  EXPECT_EQ(facade.getConnectionVersion(), "4.0.4");
  EXPECT_EQ(second.requestCount("GET", "/ovirt-engine/api"), 1u);
}

}  // namespace
}  // namespace Hypervale
