// The facade's lifecycle: connect end to end against engines of both API generations.
#include <gtest/gtest.h>

#include <tuple>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::TestPassword;

class FacadeConnectTest : public hvtest::EngineTest {};

// Debug switched on before the first connect also raises the connect's response lines.
TEST_F(FacadeConnectTest, ConnectReadsTheEngineVersionOfEitherGenerationAndReplacesTheLast) {
  TzHypervale facade;
  facade.EnableDebug();
  EXPECT_FALSE(facade.checkConnection());
  EXPECT_TRUE(engine->requests().empty());
  // API root, major version, full version, schema version.
  const std::tuple<const char*, unsigned, const char*, std::int32_t> cases[] = {
      {"v3/api-ovirt-3.6.xml", 3, "3.6.7_master", 3006007},
      {"v3/api-served-by-4.1-engine.xml", 4, "4.1.0_master", 4001000},
      {"v4/api.xml", 4, "4.0.4", 4000004},
  };
  for (const auto& [fixture, major, fullVersion, schema] : cases) {
    // Each engine of its own: connecting again replaces the engine.
    engine = std::make_unique<hvtest::TestEngine>(engine->options());
    config.set("sRhevCAFile", engine->caFile());
    serveApiRoot(fixture);
    ASSERT_TRUE(facade.connect(server(), "admin", TestPassword())) << fixture;
    EXPECT_EQ(facade.getMajorVersion(), major);
    EXPECT_EQ(facade.getConnectionVersion(), fullVersion);
    EXPECT_EQ(facade.getSchemaVersion(), schema);
    EXPECT_TRUE(facade.checkConnection());
    EXPECT_EQ(count("GET", "/ovirt-engine/api"), 2u);
    EXPECT_TRUE(logs.contains("Response from GET [https://" + server()));
  }
  for (const auto& line : logs.lines()) {
    if (line.message.rfind("Response from GET [", 0) != 0) continue;
    EXPECT_EQ(line.level, 2);
  }
}

TEST_F(FacadeConnectTest, AnswersThatAreNotTheApiRootFailTheConnectAndFaultsAreReadAfterIt) {
  TzHypervale facade;
  const Answer refusals[] = {Answer::xml(200, "<vms/>"),
                             Answer::html(200, "<html><body>login</body></html>"),
                             Answer::engineFault(401, "Unauthorized", "bad credentials")};
  for (const Answer& refusal : refusals) {
    engine->answer("GET", "/ovirt-engine/api", refusal);
    EXPECT_FALSE(facade.connect(server(), "admin", TestPassword()));
    EXPECT_EQ(facade.getSchemaVersion(), 0);
  }
  EXPECT_EQ(facade.getLastErrorCode(), 401);

  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(facade.connect(server(), "admin", TestPassword()));
  engine->answer("GET", "/ovirt-engine/api", Answer::engineFault(500, "Operation Failed", "boom"));
  EXPECT_FALSE(facade.checkConnection());
  EXPECT_EQ(facade.getLastError(), "boom");
}

}  // namespace
}  // namespace Hypervale
