// Single sign-on as the engine's SDKs use it (engines from 4.0): a password grant at the token
// endpoint answered with a bearer token in JSON, the token in "Authorization: Bearer" on the
// API, and a logout that revokes it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "test_engine/http_message.h"

namespace hvsim {

class SsoService {
 public:
  static constexpr const char* kTokenPath = "/ovirt-engine/sso/oauth/token";
  static constexpr const char* kLogoutPath = "/ovirt-engine/services/sso-logout";

  using CredentialCheck = std::function<bool(const std::string& user, const std::string& password)>;
  explicit SsoService(CredentialCheck check);

  static bool handles(std::string_view path);
  // The answer of the token endpoint or the logout.
  hvtest::Answer answer(const hvtest::Request& request);
  // The user of the live bearer token the request carries; nullopt when it carries none.
  std::optional<std::string> bearerUser(const hvtest::Request& request) const;

 private:
  hvtest::Answer grant(const hvtest::Request& request);
  hvtest::Answer logout(const hvtest::Request& request);

  CredentialCheck check_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> users_;  // live token -> user
  std::string prefix_;                        // random per service, so tokens are not guessed
  uint64_t issued_ = 0;
};

}  // namespace hvsim
