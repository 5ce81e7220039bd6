#include "transport/secrets.h"

#include <algorithm>

namespace Hypervale {

void Wipe(std::string& secret) {
  // The bytes past the size may still hold an earlier, longer secret.
  secret.resize(secret.capacity());
  std::fill(secret.begin(), secret.end(), '\0');
  secret.clear();
}

std::string BasicAuthorizationLine(const std::string& user, const std::string& password) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static const char kPrefix[] = "Authorization: Basic ";
  const size_t length = user.size() + 1 + password.size();
  std::string line;
  // Sized once, so no shorter copy is left behind by a reallocation.
  line.reserve(sizeof kPrefix + (length + 2) / 3 * 4);
  line += kPrefix;
  const auto byteAt = [&](size_t i) -> unsigned {
    const char c = i < user.size()    ? user[i]
                   : i == user.size() ? ':'
                                      : password[i - user.size() - 1];
    return static_cast<unsigned char>(c);
  };
  for (size_t i = 0; i < length; i += 3) {
    const unsigned group = byteAt(i) << 16 | (i + 1 < length ? byteAt(i + 1) << 8 : 0) |
                           (i + 2 < length ? byteAt(i + 2) : 0);
    line += kAlphabet[group >> 18 & 0x3F];
    line += kAlphabet[group >> 12 & 0x3F];
    line += i + 1 < length ? kAlphabet[group >> 6 & 0x3F] : '=';
    line += i + 2 < length ? kAlphabet[group & 0x3F] : '=';
  }
  return line;
}

}  // namespace Hypervale
