#include "transport/urlParts.h"

namespace Hypervale {

ParsedUrl::ParsedUrl(const std::string& url) : url_(curl_url()) {
  // The flags libcurl itself parses CURLOPT_URL with: a missing scheme is guessed (plain HTTP
  // for an engine's host name) and unknown schemes parse, to be refused by the protocol list.
  if (url_ && curl_url_set(url_.get(), CURLUPART_URL, url.c_str(),
                           CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    url_.reset();
  }
}

std::string ParsedUrl::Part(CURLUPart part) const {
  if (!url_) return std::string();
  char* text = nullptr;
  if (curl_url_get(url_.get(), part, &text, 0) != CURLUE_OK || !text) return std::string();
  std::string copy(text);
  curl_free(text);
  return copy;
}

bool ParsedUrl::isHttps() const { return Part(CURLUPART_SCHEME) == "https"; }

bool ParsedUrl::hasUserInfo() const {
  if (!url_) return false;
  for (const CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS}) {
    char* text = nullptr;
    const CURLUcode found = curl_url_get(url_.get(), part, &text, 0);
    curl_free(text);
    if (found == CURLUE_OK) return true;
  }
  return false;
}

std::string ParsedUrl::forLog() const {
  if (!url_) return "(a URL libcurl cannot parse)";
  const Handle copy(curl_url_dup(url_.get()));
  if (!copy) return "(a URL)";
  for (const CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS}) {
    curl_url_set(copy.get(), part, nullptr, 0);
  }
  char* text = nullptr;
  if (curl_url_get(copy.get(), CURLUPART_URL, &text, 0) != CURLUE_OK || !text) return "(a URL)";
  std::string shown(text);
  curl_free(text);
  return shown;
}

}  // namespace Hypervale
