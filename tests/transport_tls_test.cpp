// Connection set-up: certificate probe, API version fallback, the default user domain and TLS
// trust.
#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "transport/rhevConnection.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Fixture;
using hvtest::TestPassword;

const char kCaTarget[] =
    "/ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA";

class ConnectTest : public hvtest::EngineTest {
 protected:
  bool connect() { return connection.connect(server(), "admin", TestPassword(), response); }

  TzRhevConnection connection;
  std::string response;
};

// The connect probes the public certificate over plain HTTP (the fixture checks that no
// credentials go there), then reads the API root over HTTPS. When that fails it tries again
// announcing "sRHEVMAPIVERSION", or 4 by default, and keeps announcing it for later requests
// and later connects.
TEST_F(ConnectTest, ProbesTheCertificateThenReadsTheRootAnnouncingAVersionAfterAFailure) {
  const std::string body = Fixture("v4/api.xml");
  engine->setFallback([body](const hvtest::Request& r) -> std::optional<Answer> {
    if (r.path != "/ovirt-engine/api") return std::nullopt;
    return r.headers.has("Version") ? Answer::xml(200, body) : Answer::xml(406, "<fault/>");
  });
  for (const std::string version : {"", "3"}) {
    SCOPED_TRACE("sRHEVMAPIVERSION=" + version);
    config.set("sRHEVMAPIVERSION", version);
    TzRhevConnection fresh;
    engine->clearRequests();
    ASSERT_TRUE(fresh.connect(server(), "admin", TestPassword(), response));
    EXPECT_EQ(response, body);
    ASSERT_TRUE(fresh.checkConnection());
    ASSERT_TRUE(fresh.connect(server(), "admin", TestPassword(), response));
    std::string seen;
    for (const auto& r : engine->requests()) {
      seen += (r.tls ? "https " : "http ") + r.target + " " + r.user + " [" + r.header("Version") +
              "]\n";
    }
    const std::string probe = std::string("http ") + kCaTarget + "  [";
    const std::string root = "https /ovirt-engine/api admin@internal [";
    const std::string v = (version.empty() ? "4" : version) + "]\n";
    EXPECT_EQ(seen, probe + "]\n" + root + "]\n" + probe + v + root + v + root + v + probe + v +
                        root + v);
    EXPECT_EQ(fresh.getUser(), "admin@internal");  // appended once, not twice
    EXPECT_EQ(logs.contains("Regkey sRHEVMAPIVERSION is set as [3]"), !version.empty());
  }
}

// A time-out that is not a whole number of seconds above 0 would switch a bound off: it keeps
// its default, with a warning at every connect.
TEST_F(ConnectTest, TimeOutsThatAreNotAboveZeroKeepTheirDefaults) {
  serveApiRoot("v4/api.xml");
  config.set("nRhevRequestTimeoutSec", "0")
      .set("nRhevStallTimeoutSec", "-5")
      .set("nRhevConnectTimeoutSec", "soon");
  ASSERT_TRUE(connect());
  const char* const kept =
      "] is refused (it must be a whole number of seconds above 0); the default ";
  auto warnings = logs.errors();
  warnings.resize(3);  // the test engine's missing session cookie is warned of next
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                std::string("Warning: nRhevConnectTimeoutSec = [soon") + kept + "30 is kept",
                std::string("Warning: nRhevStallTimeoutSec = [-5") + kept + "300 is kept",
                std::string("Warning: nRhevRequestTimeoutSec = [0") + kept + "900 is kept"}));
}

// A failed certificate probe, also on a closed port, ends the connect at once.
TEST_F(ConnectTest, FailedCertificateProbeEndsTheConnect) {
  engine->answer("GET", kCaTarget, Answer::xml(500, "oops"));
  serveApiRoot("v4/api.xml");
  EXPECT_FALSE(connect());
  EXPECT_EQ(count("GET", kCaTarget), 2u);  // both attempts probe
  EXPECT_EQ(count("GET", "/ovirt-engine/api"), 0u);
  EXPECT_TRUE(logs.contains("Error: Failed to get Certificate file"));

  // A free port: the engine that took it is gone at the end of the statement.
  const std::string closed = "127.0.0.1:" + std::to_string(hvtest::TestEngine().port());
  EXPECT_FALSE(connection.connect(closed, "admin", TestPassword(), response));
  EXPECT_TRUE(logs.containsError("Transport failure for GET [http://" + closed));
}

TEST_F(ConnectTest, NothingIsSentBeforeAConnectOrForAServerNameWithUserInformation) {
  EXPECT_FALSE(connection.checkConnection());
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(connect());
  const size_t sent = engine->requests().size();
  EXPECT_FALSE(connection.connect(std::string("admin:") + TestPassword() + "@" + server(), "admin",
                                  TestPassword(), response));
  EXPECT_EQ(engine->requests().size(), sent);
  // A refused connect does not leave the earlier connection standing in for it.
  EXPECT_FALSE(connection.isConnected());
  EXPECT_TRUE(logs.containsError("Refusing the server name [...@" + server() +
                                 "]: it carries user information"))
      << logs.all();
}

// Every new connection is verified, also once a verified one is kept alive.
TEST_F(ConnectTest, UnknownCertificateAuthorityIsRefused) {
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(connect());
  config.set("sRhevCAFile", "");  // only the system store, which does not know the engine's CA
  EXPECT_FALSE(connection.checkConnection());
  // No answer: code 0, and the reason for the caller (the TLS failure), without secrets.
  EXPECT_EQ(connection.getLastErrorCode(), 0);
  EXPECT_EQ(connection.getLastError().rfind("No answer from the engine at [" + server() + "]", 0),
            0u)
      << connection.getLastError();
  EXPECT_NE(connection.getLastError().find("certificate"), std::string::npos);
  EXPECT_FALSE(connect());
  EXPECT_FALSE(connection.isConnected());
  EXPECT_EQ(count("GET", "/ovirt-engine/api"), 1u);  // the later ones were refused at the handshake
}

TEST_F(ConnectTest, InsecureSwitchAcceptsAnyCertificateWithAWarning) {
  config.set("sRhevCAFile", "").set("nRhevTLSInsecure", "1");
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(connect());
  const std::string all = logs.all();
  const std::string warning = "TLS certificate verification is disabled";
  EXPECT_NE(all.find(warning), std::string::npos);
  EXPECT_EQ(all.find(warning), all.rfind(warning));  // once
}

}  // namespace
}  // namespace Hypervale
