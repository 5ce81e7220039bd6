// A test engine on loopback with the library's transport configured to trust it, short
// time-outs, recorded sleeps and a log capture that must never see the password.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/test_support.h"
#include "test_engine/test_engine.h"

namespace Hypervale {
class TzRhevConnection;
class TzRhevParser;
}  // namespace Hypervale

namespace hvtest {

// Deliberately distinctive so a leak into any log line is found.
inline const char* TestPassword() { return "S3cr3t-Pa55word!"; }

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // "localhost:PORT", the server name the library is given.
  std::string server() const { return "localhost:" + std::to_string(engine->port()); }
  // Answers GET of the API root with the fixture's body.
  void serveApiRoot(const std::string& fixture);
  // Connects the two workers as the facade does (the parser reads fault bodies only after
  // the first connect), then forgets the requests and log lines of the connect.
  void connectWorkers(Hypervale::TzRhevConnection& connection, Hypervale::TzRhevParser& parser);
  // Requests to `target` (method "*" for any) seen by the engine so far.
  size_t count(const std::string& method, const std::string& target) const {
    return engine->requestCount(method, target);
  }

  std::unique_ptr<TestEngine> engine;
  ConfigScope config;
  SleepRecorder sleeps;
  LogCapture logs;
};

}  // namespace hvtest
