#include "engine_simulator/sso.h"

#include <cstdio>
#include <optional>

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

}  // namespace

SsoService::SsoService(CredentialCheck check, Sessions& sessions)
    : check_(std::move(check)), sessions_(sessions) {}

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
  const std::string token = sessions_.openTokenSession(*user);
  return json(200,
              "{\"access_token\":" + jsonString(token) +
                  ",\"scope\":\"ovirt-app-api ovirt-ext=token-info:authz-search "
                  "ovirt-ext=token-info:public-authz-search ovirt-ext=token-info:validate "
                  "ovirt-ext=token:password-access\",\"exp\":\"-1\",\"token_type\":\"bearer\"}");
}

hvtest::Answer SsoService::logout(const hvtest::Request& request) {
  std::optional<std::string> token = field(request, "token");
  if (!token) token = bearerToken(request);
  if (token) sessions_.closeTokenSession(*token);
  return json(200, "{}");
}

}  // namespace hvsim
