// What a URL says about where credentials may go: its scheme and its user information.
#pragma once

#include <string>

namespace Hypervale {

// True only for an "https://" URL (scheme compared without regard to case). A URL without a
// scheme is not: libcurl would send it over plain HTTP.
bool IsHttpsUrl(const std::string& url);

// True when the authority (between "scheme://" and the first '/', '?' or '#') holds an '@',
// that is "user@" or "user:password@" before the host.
bool HasUserInfo(const std::string& url);

// The URL with its user information cut out, fit for a log line.
std::string WithoutUserInfo(const std::string& url);

}  // namespace Hypervale
