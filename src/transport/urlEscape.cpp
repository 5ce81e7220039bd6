#include "transport/urlEscape.h"

#include <cstring>

namespace Hypervale {

std::string EscapeUrl(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  static const char kUnsafe[] = "\"<>\\^`{|}#";
  std::string escaped;
  escaped.reserve(url.size());
  for (const char c : url) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || std::strchr(kUnsafe, c) != nullptr) {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace Hypervale
