// The simulated engine's sessions: what costs a login, what reuses a session, how sessions end,
// and the counters that tell a client's cost on a real engine.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "engine_simulator/engine_simulator.h"
#include "support/curl_client.h"

namespace {

using hvtest::CurlAsk;
using hvtest::CurlReply;
using namespace std::chrono_literals;

constexpr const char* kSessionUser = "admin@internal";
constexpr const char* kSessionPassword = "session-pw";

struct SessionEngine {
  explicit SessionEngine(const std::string& generation)
      : sim(options(generation, clock)), client(sim.engine().caFile()) {}
  static hvsim::SimulatorOptions options(const std::string& generation,
                                         const hvsim::ManualClock& clock) {
    hvsim::SimulatorOptions o;
    o.generation = generation;
    o.generate.vms = 2;
    o.server.password = kSessionPassword;
    o.clock = clock.source();
    return o;
  }

  // GET of the API root with the given headers, Basic credentials when `basic`.
  CurlReply root(bool basic, std::vector<std::string> headers) {
    CurlAsk ask{"GET", sim.apiUrl()};
    ask.headers = std::move(headers);
    if (basic) {
      ask.user = kSessionUser;
      ask.password = kSessionPassword;
    }
    return client.send(ask);
  }
  uint64_t logins() const { return sim.sessionStats().logins; }

  hvsim::ManualClock clock;
  hvsim::EngineSimulator sim;
  hvtest::CurlClient client;
};

// The session cookie an answer sets, "" when none.
std::string sessionCookie(const CurlReply& reply) {
  std::smatch found;
  const std::regex setCookie("Set-Cookie: JSESSIONID=([^;\r\n]+); Path=/ovirt-engine/api; HttpOnly",
                             std::regex::icase);
  return std::regex_search(reply.head, found, setCookie) ? found[1].str() : std::string();
}

const std::string kPersistent = "Prefer: persistent-auth";

TEST(SimulatorSessionsTest, BasicLogsInPerRequestUnlessTheSessionIsKept) {
  for (const char* generation : {"3.6", "4.1", "4.5"}) {
    SCOPED_TRACE(generation);
    SessionEngine e(generation);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(e.root(true, {}).status, 200);
    EXPECT_EQ(e.logins(), 3u) << "Basic without a session: a login (and logout) per request";
    EXPECT_EQ(e.sim.sessionStats().liveSessions, 0u);

    CurlReply first = e.root(true, {kPersistent});
    const std::string cookie = sessionCookie(first);
    ASSERT_FALSE(cookie.empty()) << first.head;
    EXPECT_EQ(first.head.find("\nJSESSIONID: ") != std::string::npos,
              std::string(generation) == "3.6");
    const std::string withCookie = "Cookie: JSESSIONID=" + cookie;
    for (bool basic : {false, true, false}) {
      EXPECT_EQ(e.root(basic, {kPersistent, withCookie}).status, 200);
    }
    EXPECT_EQ(e.logins(), 4u) << "the kept session is reused, credentials or not";
    EXPECT_EQ(e.sim.sessionStats().liveSessions, 1u);

    // "new-auth" forces a login even with a live session.
    CurlReply renewed = e.root(true, {"Prefer: persistent-auth, new-auth", withCookie});
    EXPECT_EQ(e.logins(), 5u);
    const std::string cookie2 = sessionCookie(renewed);
    ASSERT_FALSE(cookie2.empty());
    EXPECT_NE(cookie2, cookie);

    // Idle expiry: without credentials the engine's HTML 401; with them a silent new login.
    e.clock.advance(31min);
    const std::string withCookie2 = "Cookie: JSESSIONID=" + cookie2;
    CurlReply refused = e.root(false, {kPersistent, withCookie2});
    EXPECT_EQ(refused.status, 401);
    EXPECT_NE(refused.head.find("WWW-Authenticate: Basic realm=\"RESTAPI\""), std::string::npos);
    EXPECT_NE(refused.body.find("<html>"), std::string::npos);
    CurlReply again = e.root(true, {kPersistent, withCookie2});
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(e.logins(), 6u);
    const std::string withCookie3 = "Cookie: JSESSIONID=" + sessionCookie(again);

    // The cookie without the preference ends the session with that request.
    EXPECT_EQ(e.root(false, {withCookie3}).status, 200);
    EXPECT_EQ(e.root(false, {kPersistent, withCookie3}).status, 401);
    EXPECT_EQ(e.sim.sessionStats().liveSessions, 0u);

    // Session-TTL (minutes) sets the idle limit of a new session.
    CurlReply shortLived = e.root(true, {kPersistent, "Session-TTL: 1"});
    const std::string withCookie4 = "Cookie: JSESSIONID=" + sessionCookie(shortLived);
    e.clock.advance(50s);
    EXPECT_EQ(e.root(false, {kPersistent, withCookie4}).status, 200);
    e.clock.advance(61s);
    EXPECT_EQ(e.root(false, {kPersistent, withCookie4}).status, 401);

    const hvsim::SessionStats stats = e.sim.sessionStats();
    EXPECT_EQ(stats.logins, 7u);
    EXPECT_EQ(stats.requests.at("GET"), stats.totalRequests());
    EXPECT_EQ(stats.totalRequests(), 15u);
  }
}

TEST(SimulatorSessionsTest, SingleSignOnTokensFrom40) {
  SessionEngine old("3.6");
  const std::string tokenUrl = old.sim.engine().httpsUrl() + "/ovirt-engine/sso/oauth/token";
  const std::string grant = std::string("grant_type=password&scope=ovirt-app-api&username=") +
                            kSessionUser + "&password=" + kSessionPassword;
  EXPECT_EQ(old.client.send(CurlAsk{"POST", tokenUrl, grant}).status, 404);
  EXPECT_EQ(old.logins(), 0u);

  SessionEngine e("4.5");
  const std::string base = e.sim.engine().httpsUrl();
  CurlReply granted = e.client.send(CurlAsk{"POST", base + "/ovirt-engine/sso/oauth/token", grant});
  ASSERT_EQ(granted.status, 200) << granted.body;
  std::smatch token;
  ASSERT_TRUE(std::regex_search(granted.body, token, std::regex("\"access_token\":\"([^\"]+)\"")));
  const std::string bearer = "Authorization: Bearer " + token[1].str();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(e.root(false, {bearer}).status, 200);
  EXPECT_EQ(e.logins(), 1u) << "one login for the token's whole life";

  EXPECT_EQ(e.client
                .send(CurlAsk{"POST", base + "/ovirt-engine/services/sso-logout",
                              "token=" + token[1].str()})
                .status,
            200);
  EXPECT_EQ(e.root(false, {bearer}).status, 401) << "a revoked token";

  // A token whose engine session ran out of idle time is refused too.
  granted = e.client.send(CurlAsk{"POST", base + "/ovirt-engine/sso/oauth/token", grant});
  ASSERT_TRUE(std::regex_search(granted.body, token, std::regex("\"access_token\":\"([^\"]+)\"")));
  e.clock.advance(31min);
  EXPECT_EQ(e.root(false, {"Authorization: Bearer " + token[1].str()}).status, 401);
  EXPECT_EQ(e.logins(), 2u);
  EXPECT_EQ(e.sim.sessionStats().requests.at("POST"), 3u);
}

}  // namespace
