// Engine sessions as a real engine keeps them, and what they cost it. A request with Basic
// credentials and no session is a whole login (and logout at its end); "Prefer:
// persistent-auth" keeps the session behind a JSESSIONID cookie; a single-sign-on token (from
// 4.0) names a session of its own. Sessions end after an idle limit. Every login and every
// request is counted, and may be charged real time (the engine's own work).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "engine_simulator/generation.h"
#include "engine_simulator/timing.h"
#include "test_engine/test_engine.h"

namespace hvsim {

struct SessionOptions {
  std::chrono::seconds idleLimit{30 * 60};   // an engine's default UserSessionTimeOutInterval
  std::chrono::milliseconds loginCost{0};    // real time every login takes
  std::chrono::milliseconds requestCost{0};  // real time every request takes before its answer
  // false: "Prefer: persistent-auth" is not honoured (a front end that strips it, say), so
  // every request with Basic credentials is a login.
  bool persistentAuth = true;
};

// What the engine has done so far.
struct SessionStats {
  uint64_t logins = 0;
  uint64_t liveSessions = 0;
  std::map<std::string, uint64_t> requests;  // by method; the public CA resource not counted
  uint64_t totalRequests() const;
};

// The token of an "Authorization: Bearer" field, if the request carries one.
std::optional<std::string> bearerToken(const hvtest::Request& request);

// "engine logins: N, live sessions: N, requests: N (GET N, POST N)".
std::string describe(const SessionStats& stats);

class Sessions {
 public:
  static constexpr const char* kCookie = "JSESSIONID";
  static constexpr const char* kCookiePath = "/ovirt-engine/api";

  using CredentialCheck = std::function<bool(const std::string& user, const std::string& password)>;
  Sessions(Generation generation, SessionOptions options, TimeSource clock, CredentialCheck check);

  // Decides who an API request runs as: a live session (cookie or token), else a login with its
  // Basic credentials; the answer may set a session cookie. nullopt: no credentials at all, left
  // to the network core's Basic check (which refuses, unless authentication is off).
  std::optional<hvtest::Authorization> authorize(const hvtest::Request& request);
  // Counts a request and charges the engine's own work for it (authorize() does this too).
  void charge(const hvtest::Request& request);
  // A single-sign-on password grant that succeeded: one login, a session kept for the token.
  std::string openTokenSession(const std::string& user);
  void closeTokenSession(const std::string& token);

  // The engine's 401: an HTML page with a Basic challenge.
  static hvtest::Answer unauthorized();
  // Every live session ends now, as if its idle limit had passed.
  void expireAll();
  SessionStats stats() const;

 private:
  struct Session {
    std::string user;
    Clock::time_point lastUsed;
    std::chrono::seconds idleLimit;
  };

  // A live session's entry (its idle time restarted), or null when there is none or it expired
  // (then it is gone). Caller holds the mutex.
  Session* live(const std::string& key, Clock::time_point now);
  std::string newKey();
  void chargeLogin();
  // 401 as the engine's authentication filter sends it.
  std::optional<hvtest::Authorization> refusal() const;

  const Generation generation_;
  const SessionOptions options_;
  const TimeSource clock_;
  const CredentialCheck check_;
  mutable std::mutex mutex_;
  std::map<std::string, Session> sessions_;  // cookie value or token -> session
  SessionStats stats_;
  std::string prefix_;  // random per simulator, so keys are not guessed
  uint64_t issued_ = 0;
};

}  // namespace hvsim
