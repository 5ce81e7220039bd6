#include "transport/urlEscape.h"

#include <cstring>

namespace Hypervale {
namespace {

void AppendEncoded(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

}  // namespace

std::string EscapeUrl(const std::string& url) {
  static const char kUnsafe[] = "\"<>\\^`{|}#";
  std::string escaped;
  escaped.reserve(url.size());
  for (const char c : url) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || std::strchr(kUnsafe, c) != nullptr) {
      AppendEncoded(escaped, byte);
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string EncodeQueryValue(const std::string& value) {
  std::string encoded;
  encoded.reserve(value.size());
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      AppendEncoded(encoded, byte);
    }
  }
  return encoded;
}

std::string SearchQuery(const std::string& field, const std::string& value) {
  return "?search=" + field + "=" + EncodeQueryValue(value);
}

}  // namespace Hypervale
