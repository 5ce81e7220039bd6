// A URL as libcurl itself parses it. The request is sent from this very parse
// (CURLOPT_CURLU), so the scheme and user information judged here are exactly what libcurl
// uses on the wire.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace Hypervale {

class ParsedUrl {
 public:
  // Parses as libcurl parses CURLOPT_URL: a URL without a scheme is taken as plain HTTP.
  explicit ParsedUrl(const std::string& url);

  // False when libcurl cannot parse the URL; nothing may then be sent.
  bool valid() const { return url_ != nullptr; }
  // The scheme is "https" (libcurl compares schemes without regard to case).
  bool isHttps() const;
  // "user@" or "user:password@" before the host.
  bool hasUserInfo() const;
  // The URL without its user information, fit for a log line.
  std::string forLog() const;
  // For CURLOPT_CURLU; valid while this object lives.
  CURLU* handle() const { return url_.get(); }

 private:
  struct Cleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
  };
  using Handle = std::unique_ptr<CURLU, Cleanup>;

  std::string Part(CURLUPart part) const;

  Handle url_;
};

}  // namespace Hypervale
