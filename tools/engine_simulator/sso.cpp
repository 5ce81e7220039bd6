#include "engine_simulator/sso.h"

#include <cstdio>
#include <random>

#include "engine_simulator/search.h"

namespace hvsim {

namespace {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

hvtest::Answer json(int status, std::string body) {
  hvtest::Answer answer;
  answer.status = status;
  answer.body = std::move(body);
  answer.contentType = "application/json";
  return answer;
}

hvtest::Answer refusal(int status, std::string_view code, std::string_view text) {
  return json(status,
              "{\"error_code\":" + jsonString(code) + ",\"error\":" + jsonString(text) + "}");
}

// Form fields of the body, then of the query (both are accepted, the body first).
std::optional<std::string> field(const hvtest::Request& request, std::string_view name) {
  if (std::optional<std::string> value = queryValue(parseQuery(request.body), name)) return value;
  return queryValue(parseQuery(request.query), name);
}

std::optional<std::string> bearerToken(const hvtest::Request& request) {
  constexpr std::string_view kScheme = "Bearer ";
  std::string value = request.header("Authorization");
  if (value.size() <= kScheme.size() ||
      !hvtest::equalsIgnoreCase(std::string_view(value).substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  return value.substr(kScheme.size());
}

}  // namespace

SsoService::SsoService(CredentialCheck check) : check_(std::move(check)) {
  std::random_device random;
  char text[24];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  prefix_ = text;
}

bool SsoService::handles(std::string_view path) {
  return path == kTokenPath || path == kLogoutPath;
}

hvtest::Answer SsoService::answer(const hvtest::Request& request) {
  if (request.method != "POST") {
    return refusal(405, "invalid_request", "Method " + request.method + " is not allowed here");
  }
  return request.path == kTokenPath ? grant(request) : logout(request);
}

hvtest::Answer SsoService::grant(const hvtest::Request& request) {
  if (field(request, "grant_type") != std::string("password")) {
    return refusal(400, "unsupported_grant_type", "grant_type must be password");
  }
  std::string scope = field(request, "scope").value_or("");
  if (scope.find("ovirt-app-api") == std::string::npos) {
    return refusal(400, "invalid_scope", "The scope must include ovirt-app-api");
  }
  std::optional<std::string> user = field(request, "username");
  std::optional<std::string> password = field(request, "password");
  if (!user || !password) return refusal(400, "invalid_request", "username and password required");
  if (!check_(*user, *password)) {
    return refusal(400, "access_denied",
                   "Cannot authenticate user '" + *user +
                       "': The username or password is "
                       "incorrect.");
  }
  std::string token;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    token = prefix_ + std::to_string(++issued_);
    users_[token] = *user;
  }
  return json(200,
              "{\"access_token\":" + jsonString(token) +
                  ",\"scope\":\"ovirt-app-api ovirt-ext=token-info:authz-search "
                  "ovirt-ext=token-info:public-authz-search ovirt-ext=token-info:validate "
                  "ovirt-ext=token:password-access\",\"exp\":\"-1\",\"token_type\":\"bearer\"}");
}

hvtest::Answer SsoService::logout(const hvtest::Request& request) {
  std::optional<std::string> token = field(request, "token");
  if (!token) token = bearerToken(request);
  if (token) {
    std::lock_guard<std::mutex> lock(mutex_);
    users_.erase(*token);
  }
  return json(200, "{}");
}

std::optional<std::string> SsoService::bearerUser(const hvtest::Request& request) const {
  std::optional<std::string> token = bearerToken(request);
  if (!token) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = users_.find(*token);
  if (found == users_.end()) return std::nullopt;
  return found->second;
}

}  // namespace hvsim
