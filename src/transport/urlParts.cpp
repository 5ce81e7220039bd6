#include "transport/urlParts.h"

#include <strings.h>

namespace Hypervale {
namespace {

struct Authority {
  size_t begin;
  size_t end;
};

Authority FindAuthority(const std::string& url) {
  const size_t separator = url.find("://");
  const size_t begin = separator == std::string::npos ? 0 : separator + 3;
  const size_t end = url.find_first_of("/?#", begin);
  return {begin, end == std::string::npos ? url.size() : end};
}

// Position just after the last '@' of the authority, or npos when there is none.
size_t AfterUserInfo(const std::string& url) {
  const Authority authority = FindAuthority(url);
  const size_t at = url.rfind('@', authority.end == 0 ? 0 : authority.end - 1);
  if (at == std::string::npos || at < authority.begin || at >= authority.end) {
    return std::string::npos;
  }
  return at + 1;
}

}  // namespace

bool IsHttpsUrl(const std::string& url) {
  static const char kHttps[] = "https://";
  return url.size() >= sizeof kHttps - 1 &&
         strncasecmp(url.c_str(), kHttps, sizeof kHttps - 1) == 0;
}

bool HasUserInfo(const std::string& url) { return AfterUserInfo(url) != std::string::npos; }

std::string WithoutUserInfo(const std::string& url) {
  const size_t after = AfterUserInfo(url);
  if (after == std::string::npos) return url;
  return url.substr(0, FindAuthority(url).begin) + url.substr(after);
}

}  // namespace Hypervale
