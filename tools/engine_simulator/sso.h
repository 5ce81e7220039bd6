// Single sign-on as the engine's SDKs use it (engines from 4.0): a password grant at the token
// endpoint answered with a bearer token in JSON, the token in "Authorization: Bearer" on the
// API, and a logout that revokes it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine_simulator/sessions.h"
#include "test_engine/http_message.h"

namespace hvsim {

class SsoService {
 public:
  static constexpr const char* kTokenPath = "/ovirt-engine/sso/oauth/token";
  static constexpr const char* kLogoutPath = "/ovirt-engine/services/sso-logout";

  using CredentialCheck = std::function<bool(const std::string& user, const std::string& password)>;
  // Tokens are sessions of `sessions`, which must outlive the service.
  SsoService(CredentialCheck check, Sessions& sessions);

  static bool handles(std::string_view path);
  // The answer of the token endpoint or the logout.
  hvtest::Answer answer(const hvtest::Request& request);

 private:
  hvtest::Answer grant(const hvtest::Request& request);
  hvtest::Answer logout(const hvtest::Request& request);

  CredentialCheck check_;
  Sessions& sessions_;
};

}  // namespace hvsim
