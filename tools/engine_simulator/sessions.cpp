#include "engine_simulator/sessions.h"

#include <cctype>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace hvsim {

namespace {

// The tokens of every Prefer header field, lower-cased ("persistent-auth", "new-auth").
std::vector<std::string> preferences(const hvtest::Request& request) {
  std::vector<std::string> out;
  for (const std::string& value : request.headers.getAll("Prefer")) {
    size_t from = 0;
    while (from <= value.size()) {
      size_t comma = value.find(',', from);
      if (comma == std::string::npos) comma = value.size();
      std::string token = value.substr(from, comma - from);
      const size_t first = token.find_first_not_of(" \t");
      const size_t last = token.find_last_not_of(" \t");
      token = first == std::string::npos ? std::string() : token.substr(first, last - first + 1);
      for (char& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (!token.empty()) out.push_back(token);
      from = comma + 1;
    }
  }
  return out;
}

bool prefers(const std::vector<std::string>& tokens, const char* wanted) {
  for (const std::string& token : tokens) {
    if (token == wanted) return true;
  }
  return false;
}

// The value of the named cookie among the request's Cookie fields.
std::optional<std::string> cookie(const hvtest::Request& request, const std::string& name) {
  for (const std::string& value : request.headers.getAll("Cookie")) {
    size_t from = 0;
    while (from < value.size()) {
      size_t end = value.find(';', from);
      if (end == std::string::npos) end = value.size();
      std::string pair = value.substr(from, end - from);
      pair.erase(0, pair.find_first_not_of(' '));
      if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
      from = end + 1;
    }
  }
  return std::nullopt;
}

// "Session-TTL: <minutes>", when given and sane.
std::optional<std::chrono::seconds> sessionTtl(const hvtest::Request& request) {
  const std::string value = request.header("Session-TTL");
  if (value.empty() || value.size() > 6 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const long minutes = std::stol(value);
  if (minutes <= 0) return std::nullopt;
  return std::chrono::seconds(minutes * 60);
}

}  // namespace

std::optional<std::string> bearerToken(const hvtest::Request& request) {
  constexpr std::string_view kScheme = "Bearer ";
  const std::string value = request.header("Authorization");
  if (value.size() <= kScheme.size() ||
      !hvtest::equalsIgnoreCase(std::string_view(value).substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  return value.substr(kScheme.size());
}

uint64_t SessionStats::totalRequests() const {
  uint64_t total = 0;
  for (const auto& entry : requests) total += entry.second;
  return total;
}

std::string describe(const SessionStats& stats) {
  std::string text = "engine logins: " + std::to_string(stats.logins) +
                     ", live sessions: " + std::to_string(stats.liveSessions) +
                     ", requests: " + std::to_string(stats.totalRequests());
  std::string byMethod;
  for (const auto& entry : stats.requests) {
    byMethod += (byMethod.empty() ? "" : ", ") + entry.first + " " + std::to_string(entry.second);
  }
  return byMethod.empty() ? text : text + " (" + byMethod + ")";
}

Sessions::Sessions(Generation generation, SessionOptions options, TimeSource clock,
                   CredentialCheck check)
    : generation_(generation),
      options_(options),
      clock_(clock ? std::move(clock) : TimeSource([] { return Clock::now(); })),
      check_(std::move(check)) {
  std::random_device random;
  char text[24];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  prefix_ = text;
}

void Sessions::charge(const hvtest::Request& request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.requests[request.method];
  }
  if (options_.requestCost.count() > 0) std::this_thread::sleep_for(options_.requestCost);
}

void Sessions::chargeLogin() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++stats_.logins;
  }
  if (options_.loginCost.count() > 0) std::this_thread::sleep_for(options_.loginCost);
}

std::string Sessions::newKey() { return prefix_ + std::to_string(++issued_); }

Sessions::Session* Sessions::live(const std::string& key, Clock::time_point now) {
  auto found = sessions_.find(key);
  if (found == sessions_.end()) return nullptr;
  if (now - found->second.lastUsed > found->second.idleLimit) {
    sessions_.erase(found);
    return nullptr;
  }
  found->second.lastUsed = now;
  return &found->second;
}

hvtest::Answer Sessions::unauthorized() {
  // What the engine's authentication filter sends: an HTML page, not an API fault.
  hvtest::Answer answer = hvtest::Answer::html(
      401, "<html><head><title>Error</title></head><body>Unauthorized</body></html>");
  answer.headers.emplace_back("WWW-Authenticate", "Basic realm=\"RESTAPI\"");
  return answer;
}

std::optional<hvtest::Authorization> Sessions::refusal() const {
  return hvtest::Authorization{std::string(), {}, unauthorized()};
}

std::optional<hvtest::Authorization> Sessions::authorize(const hvtest::Request& request) {
  charge(request);
  const Clock::time_point now = clock_();
  const std::vector<std::string> prefer = preferences(request);
  const bool persistent = options_.persistentAuth && prefers(prefer, "persistent-auth");
  const bool newAuth = prefers(prefer, "new-auth");

  // Single-sign-on tokens name a session of their own; one whose session ended is revoked.
  if (std::optional<std::string> token = bearerToken(request); token && generation_.v4()) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Session* session = live(*token, now)) return hvtest::Authorization{session->user, {}, {}};
    return refusal();
  }

  const std::optional<std::string> sessionKey = cookie(request, kCookie);
  if (sessionKey && !newAuth) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Session* session = live(*sessionKey, now)) {
      hvtest::Authorization reused{session->user, {}, {}};
      // The cookie without the preference ends the servlet session with this request.
      if (!persistent) sessions_.erase(*sessionKey);
      return reused;
    }
  }

  const std::optional<std::pair<std::string, std::string>> credentials =
      hvtest::basicCredentials(request);
  if (!credentials) {
    // An expired session without credentials to log in again with.
    if (sessionKey) return refusal();
    return std::nullopt;
  }
  if (!check_(credentials->first, credentials->second)) return refusal();
  chargeLogin();
  hvtest::Authorization authorization{credentials->first, {}, {}};
  if (!persistent) return authorization;  // logged out again at the end of the request

  std::lock_guard<std::mutex> lock(mutex_);
  if (sessionKey) sessions_.erase(*sessionKey);
  const std::string key = newKey();
  sessions_[key] =
      Session{credentials->first, now, sessionTtl(request).value_or(options_.idleLimit)};
  authorization.answerHeaders.emplace_back(
      "Set-Cookie", std::string(kCookie) + "=" + key + "; Path=" + kCookiePath + "; HttpOnly");
  if (generation_.v3()) authorization.answerHeaders.emplace_back(kCookie, key);
  return authorization;
}

std::string Sessions::openTokenSession(const std::string& user) {
  chargeLogin();
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string token = newKey();
  sessions_[token] = Session{user, clock_(), options_.idleLimit};
  return token;
}

void Sessions::closeTokenSession(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(token);
}

void Sessions::expireAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

SessionStats Sessions::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  SessionStats out = stats_;
  // Sessions whose idle limit passed are gone, whether or not a request has noticed yet.
  const Clock::time_point now = clock_();
  out.liveSessions = 0;
  for (const auto& entry : sessions_) {
    if (now - entry.second.lastUsed <= entry.second.idleLimit) ++out.liveSessions;
  }
  return out;
}

}  // namespace hvsim
