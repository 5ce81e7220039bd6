// Connection set-up: certificate probe, API version fallback, user domain and TLS trust.
#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "transport/rhevConnection.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::Fixture;

const char kCaTarget[] = "/ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA";

class ConnectTest : public hvtest::EngineTest {
 protected:
  // The API root answers only requests that announce a version (as a v4-only engine would).
  void serveApiRootOnlyWithVersionHeader() {
    const std::string body = Fixture("v4/api.xml");
    engine->setFallback([body](const hvtest::Request& r) -> std::optional<Answer> {
      if (r.path != "/ovirt-engine/api") return std::nullopt;
      if (!r.headers.has("Version")) return Answer::xml(406, "<fault/>");
      return Answer::xml(200, body);
    });
  }

  std::vector<std::string> versionHeaders() const {
    std::vector<std::string> versions;
    for (const auto& r : engine->requests()) versions.push_back(r.header("Version"));
    return versions;
  }

  TzRhevConnection connection;
  std::string response;
};

TEST_F(ConnectTest, ProbesTheCertificateOverHttpThenReadsTheRootOverHttps) {
  serveApiRoot("v3/api-ovirt-3.6.xml");
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  EXPECT_EQ(response, Fixture("v3/api-ovirt-3.6.xml"));
  EXPECT_TRUE(connection.isConnected());
  const auto requests = engine->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, kCaTarget);
  EXPECT_FALSE(requests[0].tls);
  EXPECT_FALSE(requests[0].headers.has("Authorization"));  // the CA is public
  EXPECT_EQ(requests[1].target, "/ovirt-engine/api");
  EXPECT_TRUE(requests[1].tls);
  EXPECT_EQ(requests[1].user, "admin@internal");
  EXPECT_FALSE(requests[1].headers.has("Version"));
  EXPECT_TRUE(logs.contains("Computed URL [http://" + server() + kCaTarget + "]"));
}

TEST_F(ConnectTest, UserDomainIsAddedOnlyWhenMissing) {
  hvtest::Options options;
  options.user = "backup@corp.example";
  options.password = hvtest::TestPassword();
  engine = std::make_unique<hvtest::TestEngine>(options);
  config.set("sRhevCAFile", engine->caFile());
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(
      connection.connect(server(), "backup@corp.example", hvtest::TestPassword(), response));
  EXPECT_EQ(connection.getUser(), "backup@corp.example");
  EXPECT_EQ(engine->requests().back().user, "backup@corp.example");
}

TEST_F(ConnectTest, FailedFirstAttemptAnnouncesVersionFourByDefault) {
  serveApiRootOnlyWithVersionHeader();
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  // probe, root without version, probe, root with "Version: 4"
  EXPECT_EQ(versionHeaders(), (std::vector<std::string>{"", "", "4", "4"}));
  EXPECT_EQ(connection.getUser(), "admin@internal");  // appended once, not twice
  EXPECT_FALSE(logs.contains("Regkey sRHEVMAPIVERSION is set as"));

  // The announced version stays for later requests and later connects.
  engine->clearRequests();
  ASSERT_TRUE(connection.checkConnection());
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  for (const auto& version : versionHeaders()) EXPECT_EQ(version, "4");
}

TEST_F(ConnectTest, ConfiguredVersionIsAnnouncedAfterAFailedFirstAttempt) {
  config.set("sRHEVMAPIVERSION", "3");
  serveApiRootOnlyWithVersionHeader();
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  EXPECT_EQ(versionHeaders(), (std::vector<std::string>{"", "", "3", "3"}));
  EXPECT_TRUE(logs.contains("Regkey sRHEVMAPIVERSION is set as [3]"));
}

TEST_F(ConnectTest, FailedCertificateProbeEndsTheConnect) {
  engine->answer("GET", kCaTarget, Answer::xml(500, "oops"));
  serveApiRoot("v4/api.xml");
  EXPECT_FALSE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  EXPECT_FALSE(connection.isConnected());
  EXPECT_EQ(count("GET", kCaTarget), 2u);  // both attempts probe
  EXPECT_EQ(count("GET", "/ovirt-engine/api"), 0u);
  EXPECT_TRUE(logs.contains("Error: Failed to get Certificate file"));
}

TEST_F(ConnectTest, NothingIsSentBeforeAConnectOrForAServerNameWithUserInformation) {
  EXPECT_FALSE(connection.checkConnection());
  serveApiRoot("v4/api.xml");
  EXPECT_FALSE(connection.connect(std::string("admin:") + hvtest::TestPassword() + "@" + server(),
                                  "admin", hvtest::TestPassword(), response));
  EXPECT_TRUE(engine->requests().empty());
  EXPECT_FALSE(connection.isConnected());
  EXPECT_TRUE(logs.containsError("Refusing the server name [...@" + server() +
                                 "]: it carries user information"))
      << logs.all();
}

// Every new connection is verified, also once a verified one is kept alive.
TEST_F(ConnectTest, UnknownCertificateAuthorityIsRefused) {
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  config.set("sRhevCAFile", "");  // only the system store, which does not know the engine's CA
  EXPECT_FALSE(connection.checkConnection());
  EXPECT_FALSE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  EXPECT_TRUE(
      logs.containsError("Transport failure for GET [https://" + server() + "/ovirt-engine/api]"))
      << logs.all();
  EXPECT_EQ(count("GET", "/ovirt-engine/api"), 1u);  // the later ones were refused at the handshake
}

TEST_F(ConnectTest, InsecureSwitchAcceptsAnyCertificateWithAWarning) {
  config.set("sRhevCAFile", "").set("nRhevTLSInsecure", "1");
  serveApiRoot("v4/api.xml");
  ASSERT_TRUE(connection.connect(server(), "admin", hvtest::TestPassword(), response));
  size_t warnings = 0;
  for (const auto& e : logs.errors()) {
    if (e.find("TLS certificate verification is disabled") != std::string::npos) ++warnings;
  }
  EXPECT_EQ(warnings, 1u);
}

}  // namespace
}  // namespace Hypervale
