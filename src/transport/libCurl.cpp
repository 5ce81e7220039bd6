#include "transport/libCurl.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "host/platformInfo.h"
#include "transport/secrets.h"
#include "transport/urlEscape.h"
#include "transport/urlParts.h"

namespace Hypervale {
namespace {

const char kSection[] = "VirtualServer";
const long kMaxPooledConnections = 2;
// libcurl refuses time-outs above this many seconds (it counts them in milliseconds in an int).
constexpr unsigned long kMaxSeconds = INT_MAX / 1000;
// What an announced Content-Length may set aside before the bytes arrive; a larger body grows
// as it comes.
constexpr size_t kReserveAhead = 16u << 20;
// From this size on a body grows in parts instead of being copied into a larger string.
constexpr size_t kPartFrom = 1u << 20;

// A time-out in whole seconds above 0; anything else keeps the default and is reported.
void ReadSeconds(const TzPlatformInfo& config, const char* key, unsigned long& seconds,
                 std::vector<std::string>* refusals) {
  std::string text;
  if (!config.getString(kSection, key, &text)) return;
  unsigned long value = 0;
  if (config.getNumber(kSection, key, &value) && value > 0) {
    seconds = std::min(value, kMaxSeconds);
    return;
  }
  if (refusals) {
    refusals->push_back(std::string(key) + " = [" + text.substr(0, 40) +
                        "] is refused (it must be a whole number of seconds above 0); the "
                        "default " +
                        std::to_string(seconds) + " is kept");
  }
}

bool StartsWithIgnoringCase(const char* text, size_t length, const char* prefix) {
  const size_t prefixLength = std::strlen(prefix);
  return length >= prefixLength && strncasecmp(text, prefix, prefixLength) == 0;
}

// Lines that log in or name an engine session: they travel only where credentials may.
bool IsCredentialLine(const char* line) {
  const size_t length = std::strlen(line);
  for (const char* name : {"authorization:", "cookie:", "prefer:"}) {
    if (StartsWithIgnoringCase(line, length, name)) return true;
  }
  return false;
}

const char kSessionCookieName[] = "JSESSIONID=";

}  // namespace

TransportSettings TransportSettings::FromConfiguration(std::vector<std::string>* refusals) {
  TransportSettings settings;
  const TzPlatformInfo config;
  config.getString(kSection, "sRhevCAFile", &settings.caFile);
  unsigned long insecure = 0;
  config.getNumber(kSection, "nRhevTLSInsecure", &insecure);
  settings.tlsInsecure = insecure == 1;
  ReadSeconds(config, "nRhevConnectTimeoutSec", settings.connectTimeoutSec, refusals);
  // The stall check is always on; the overall deadline ends a trickle it cannot see.
  ReadSeconds(config, "nRhevStallTimeoutSec", settings.stallTimeoutSec, refusals);
  ReadSeconds(config, "nRhevRequestTimeoutSec", settings.requestTimeoutSec, refusals);
  unsigned long maxBytes = 0;
  if (config.getNumber(kSection, "nRhevMaxResponseBytes", &maxBytes) && maxBytes > 0) {
    settings.maxResponseBytes = maxBytes;
  }
  unsigned long reuse = 1;
  config.getNumber(kSection, "nRhevReuseConnections", &reuse);
  settings.reuseConnections = reuse != 0;
  return settings;
}

TransportSettings TransportSettings::ForSmallAnswer(unsigned long extraSeconds) const {
  TransportSettings small = *this;
  small.requestTimeoutSec = std::min(connectTimeoutSec + extraSeconds, kMaxSeconds);
  small.maxResponseBytes = std::min<unsigned long long>(maxResponseBytes, 1u << 20);
  return small;
}

TzLibCurl::TzLibCurl() : KwDebug(nullptr) {}

TzLibCurl::~TzLibCurl() {
  // The handle may hold copies of the credentials and uses the pool; it goes first, back to the
  // pool with every option (and so every pointer into this client) cleared.
  if (pool_ && handle_) {
    curl_easy_reset(handle_.get());
    pool_->giveBack(std::move(handle_));
  }
  handle_.reset();
  requestHeaders_.reset();
  Wipe(password_);
  Wipe(sessionCookie_);
  Wipe(receivedSessionCookie_);
}

const char* TzLibCurl::GetHttpReqTypeString(HTTP_REQ_TYPE method) {
  switch (method) {
    case HTTP_REQ_GET:
      return "GET";
    case HTTP_REQ_POST:
      return "POST";
    case HTTP_REQ_PUT:
      return "PUT";
    case HTTP_REQ_DELETE:
      return "DELETE";
  }
  return "UNKNOWN";
}

bool TzLibCurl::TzLibCurlInit(const char* contentTypeHeader, bool captureResponse, bool /*unused*/,
                              TzLibCurlWriteCallback writeCallback) {
  if (!TzLibCurlInit(TransportSettings::FromConfiguration(), contentTypeHeader, captureResponse)) {
    return false;
  }
  writeCallback_ = writeCallback;
  return true;
}

bool TzLibCurl::TzLibCurlInit(const TransportSettings& settings, const char* contentTypeHeader,
                              bool captureResponse) {
  if (!curl::EnsureGlobalInit()) {
    Error(HV_FUNC, "libcurl could not be initialised");
    return false;
  }
  // A handle that sent before keeps what libcurl sets up on its first transfer (its wake-up
  // socket pair among them), which would otherwise be made and closed again for every request.
  handle_ = pool_ ? pool_->take() : nullptr;
  if (!handle_) handle_.reset(curl_easy_init());
  if (!handle_) {
    Error(HV_FUNC, "curl_easy_init failed");
    return false;
  }
  contentTypeHeader_ = contentTypeHeader ? contentTypeHeader : "";
  captureResponse_ = captureResponse;
  writeCallback_ = nullptr;
  settings_ = settings;
  headers_.reset();
  return true;
}

void TzLibCurl::TzLibCurlFreeHttpHeaderList() {
  headers_.reset();
  username_.clear();
  Wipe(password_);
  Wipe(sessionCookie_);
}

bool TzLibCurl::TzLibCurlAppendHeader(_http_hdr_type_ type, const char* value) {
  if (!handle_ || !value) return false;
  if (type == HTTP_HDR_CREDENTIALS) {
    // Basic-authentication user names cannot hold a colon; the password may.
    const char* colon = std::strchr(value, ':');
    if (!colon) return false;
    username_.assign(value, colon);
    Wipe(password_);
    password_.assign(colon + 1);
    return true;
  }
  if (type == HTTP_HDR_SESSION) {
    Wipe(sessionCookie_);
    sessionCookie_.assign(value);
    return true;
  }
  return curl::AppendHeader(headers_, value);
}

bool TzLibCurl::TzLibCurlSetAdditionalOptionsIntValue(CURLoption option, const int& value) {
  if (!handle_) return false;
  return curl_easy_setopt(handle_.get(), option, static_cast<long>(value)) == CURLE_OK;
}

size_t TzLibCurl::CollectHeader(char* data, size_t size, size_t count, void* self) {
  TzLibCurl* client = static_cast<TzLibCurl*>(self);
  const size_t bytes = size * count;
  // "Set-Cookie: JSESSIONID=value; Path=...; HttpOnly": only the session's own cookie is kept.
  static const char kSetCookie[] = "set-cookie:";
  if (!StartsWithIgnoringCase(data, bytes, kSetCookie)) return bytes;
  size_t start = sizeof kSetCookie - 1;
  while (start < bytes && (data[start] == ' ' || data[start] == '\t')) ++start;
  const size_t nameLength = sizeof kSessionCookieName - 1;
  if (bytes - start <= nameLength || std::strncmp(data + start, kSessionCookieName, nameLength)) {
    return bytes;
  }
  size_t end = start + nameLength;
  while (end < bytes && data[end] != ';' && data[end] != '\r' && data[end] != '\n' &&
         data[end] != ' ') {
    ++end;
  }
  if (end == start + nameLength) return bytes;
  try {
    Wipe(client->receivedSessionCookie_);
    client->receivedSessionCookie_.assign(data + start, end - start);
  } catch (...) {
    Wipe(client->receivedSessionCookie_);
  }
  return bytes;
}

bool TzLibCurl::TakeSessionCookie(std::string& out) {
  if (receivedSessionCookie_.empty()) return false;
  Wipe(out);
  out.swap(receivedSessionCookie_);
  return true;
}

size_t TzLibCurl::CollectBody(char* data, size_t size, size_t count, void* self) {
  TzLibCurl* client = static_cast<TzLibCurl*>(self);
  const size_t bytes = size * count;
  if (client->bodyBytes_ + bytes > client->settings_.maxResponseBytes) {
    client->responseTooLarge_ = true;
    return 0;  // aborts the transfer
  }
  client->bodyBytes_ += bytes;
  if (!client->captureResponse_) return bytes;  // counted, not kept
  try {
    if (client->response_.size() + bytes > client->response_.capacity()) {
      client->ReserveForBody(bytes);
    }
    client->response_.append(data, bytes);
  } catch (...) {
    client->responseTooLarge_ = true;
    return 0;
  }
  return bytes;
}

void TzLibCurl::ReserveForBody(size_t incoming) {
  // Growing a string copies what it holds into a new one: a large body would be copied several
  // times (every page written twice) and held twice at once. So the announced length is
  // reserved, and a large body that outgrows its string goes on in a new part, joined once at
  // the end. The announced length is the engine's word only: beyond a first part it is believed
  // only as far as bytes arrived (at most twice what came), so a length announced and never
  // sent sets little aside. Parts stay within kReserveAhead: joining them takes fresh pages for
  // the first one only, the others reuse the pages of the parts already copied and freed.
  // (Pages come as the bytes arrive, in their ordinary size: clearing fresh huge pages costs a
  // virtual machine far more than the bytes cost to receive.)
  const size_t kept = partBytes_ + response_.size();
  const size_t setAside = partCapacity_ + response_.capacity();
  curl_off_t announced = -1;
  const bool believable = curl_easy_getinfo(handle_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                                            &announced) == CURLE_OK &&
                          announced > 0 &&
                          static_cast<unsigned long long>(announced) <= settings_.maxResponseBytes;
  const bool inParts = response_.capacity() >= kPartFrom;
  size_t target = kept + incoming;  // the whole body's room
  if (believable) {
    const size_t believed = std::max(kReserveAhead, 2 * setAside);
    target = std::max(target, std::min(static_cast<size_t>(announced), believed));
  } else if (inParts) {
    target = std::max(target, 2 * kept);  // as a string would grow, without the copy
  } else {
    return;  // a small body grows as a string does
  }
  try {
    if (inParts) {
      partBytes_ += response_.size();
      partCapacity_ += response_.capacity();
      parts_.push_back(std::move(response_));
      response_ = std::string();
      response_.reserve(std::max(incoming, std::min(target - kept, kReserveAhead)));
    } else {
      response_.reserve(target - partBytes_);
    }
  } catch (...) {
    return;  // an announced length is only a hint; the body may still fit as it arrives
  }
  reservedBytes_ = std::max(reservedBytes_, partCapacity_ + response_.capacity());
}

void TzLibCurl::JoinParts() {
  if (parts_.empty()) return;
  std::string whole;
  whole.reserve(partBytes_ + response_.size());
  // Each part goes as soon as it is copied: the body is held about once, not twice.
  for (std::string& part : parts_) {
    whole.append(part);
    std::string().swap(part);
  }
  whole.append(response_);
  response_.swap(whole);
  DropParts();
}

void TzLibCurl::DropParts() {
  parts_.clear();
  partBytes_ = 0;
  partCapacity_ = 0;
}

bool TzLibCurl::HoldsCredentials() const {
  if (!username_.empty() || !password_.empty() || !sessionCookie_.empty()) return true;
  for (const curl_slist* line = headers_.get(); line; line = line->next) {
    if (IsCredentialLine(line->data)) return true;
  }
  return false;
}

bool TzLibCurl::ApplyRequestOptions(HTTP_REQ_TYPE method, const ParsedUrl& url, const void* body,
                                    unsigned long length, bool withCredentials) {
  CURL* h = handle_.get();
  // Header lines this client adds itself: the content type, and an empty "Expect:" so large
  // bodies are not held back waiting for "100 Continue".
  curl::HeaderList lines;
  for (const curl_slist* line = headers_.get(); line; line = line->next) {
    if (!withCredentials && IsCredentialLine(line->data)) continue;
    if (!curl::AppendHeader(lines, line->data)) return false;
  }
  if (!contentTypeHeader_.empty() && !curl::AppendHeader(lines, contentTypeHeader_.c_str())) {
    return false;
  }
  if (!curl::AppendHeader(lines, "Expect:")) return false;
  // Credentials and the session cookie go as header lines of ours, wiped when the list is
  // dropped, rather than as libcurl options that libcurl keeps copies of.
  if (withCredentials && (!username_.empty() || !password_.empty())) {
    std::string authorization = BasicAuthorizationLine(username_, password_);
    const bool added = curl::AppendHeader(lines, authorization.c_str());
    Wipe(authorization);
    if (!added) return false;
  }
  if (withCredentials && !sessionCookie_.empty()) {
    std::string cookie = "Cookie: ";
    cookie.reserve(cookie.size() + sessionCookie_.size());
    cookie += sessionCookie_;
    const bool added = curl::AppendHeader(lines, cookie.c_str());
    Wipe(cookie);
    if (!added) return false;
  }
  requestHeaders_ = std::move(lines);

  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK;
  };
  set(CURLOPT_CURLU, url.handle());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_NOPROGRESS, 1L);
  set(CURLOPT_VERBOSE, 0L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_ERRORBUFFER, errorBuffer_);
  set(CURLOPT_HTTPHEADER, requestHeaders_.get());
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings_.connectTimeoutSec));
  // A transfer that moves less than one byte per second for the stall time is abandoned, and
  // every request ends at its deadline, however slowly its bytes trickle.
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(settings_.stallTimeoutSec));
  set(CURLOPT_TIMEOUT, static_cast<long>(settings_.requestTimeoutSec));
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings_.maxResponseBytes));
  if (pool_) {
    set(CURLOPT_SHARE, pool_->share());
    // A facade makes one call at a time: the connection in use and one spare are plenty, and
    // every idle connection more is load on the engine's front end for nothing.
    set(CURLOPT_MAXCONNECTS, kMaxPooledConnections);
    // libcurl sends a request again when a reused connection closes before any byte of the
    // answer (the engine closed it while idle). A POST is not idempotent and must never reach
    // the engine twice: it goes over a new connection, where no such resend happens.
    if (method == HTTP_REQ_POST) set(CURLOPT_FRESH_CONNECT, 1L);
  }
  // Session cookies are read only from answers that came over TLS.
  if (withCredentials) {
    set(CURLOPT_HEADERFUNCTION, &TzLibCurl::CollectHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  }
  if (settings_.tlsInsecure) {
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings_.caFile.empty()) set(CURLOPT_CAINFO, settings_.caFile.c_str());
  }
  if (writeCallback_) {
    set(CURLOPT_WRITEFUNCTION, writeCallback_);
  } else {
    set(CURLOPT_WRITEFUNCTION, &TzLibCurl::CollectBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  }

  switch (method) {
    case HTTP_REQ_GET:
      set(CURLOPT_HTTPGET, 1L);
      break;
    case HTTP_REQ_POST:
    case HTTP_REQ_PUT:
    case HTTP_REQ_DELETE:
      if (method != HTTP_REQ_POST) set(CURLOPT_CUSTOMREQUEST, GetHttpReqTypeString(method));
      if (method == HTTP_REQ_POST || (body && length > 0)) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body ? length : 0));
        set(CURLOPT_POSTFIELDS, body ? static_cast<const char*>(body) : "");
      }
      break;
  }
  return ok;
}

bool TzLibCurl::TzLibCurlSendHttpReq(HTTP_REQ_TYPE method, const char* url, const void* body,
                                     unsigned long length, bool /*unused*/,
                                     const char* /*unusedText*/) {
  httpStatus_ = 0;
  transportError_.clear();
  response_.clear();
  DropParts();
  bodyBytes_ = 0;
  reservedBytes_ = 0;
  Wipe(receivedSessionCookie_);
  responseTooLarge_ = false;
  errorBuffer_[0] = '\0';
  if (!handle_ || !url) return false;

  // Judged on libcurl's own parse, which is what it sends: escaping turns a '#' that ended
  // the authority into "%23", which libcurl reads as part of it.
  const ParsedUrl parsed(EscapeUrl(url));
  if (!parsed.valid() || parsed.hasUserInfo()) {
    transportError_ = parsed.valid() ? "the URL carries user information, which is refused"
                                     : "the URL cannot be parsed";
    Error(HV_FUNC, "Refusing %s [%s]: %s", GetHttpReqTypeString(method), parsed.forLog().c_str(),
          transportError_.c_str());
    return false;
  }
  // Basic authentication is the password in clear text: it goes over TLS or not at all.
  const bool withCredentials = parsed.isHttps();
  if (!withCredentials && HoldsCredentials()) {
    Error(HV_FUNC, "Credentials are not sent over plain HTTP; %s [%s] goes without them",
          GetHttpReqTypeString(method), url);
  }
  if (!ApplyRequestOptions(method, parsed, body, length, withCredentials)) {
    transportError_ = "a libcurl option could not be set";
    Error(HV_FUNC, "Failed to prepare %s [%s]: %s", GetHttpReqTypeString(method), url,
          transportError_.c_str());
    return false;
  }

  const CURLcode result = curl_easy_perform(handle_.get());
  try {
    JoinParts();
  } catch (...) {
    response_.clear();  // what came cannot be held whole: read as no body
    DropParts();
  }
  long status = 0;
  curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &status);
  if (result != CURLE_OK) {
    if (responseTooLarge_ || result == CURLE_FILESIZE_EXCEEDED) {
      transportError_ = "the response is larger than the limit of " +
                        std::to_string(settings_.maxResponseBytes) + " bytes";
      response_.clear();
      DropParts();
    } else {
      transportError_ = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(result);
    }
    // A status without a complete transfer is not an answer we can judge.
    httpStatus_ = 0;
    Error(HV_FUNC, "Transport failure for %s [%s]: %s", GetHttpReqTypeString(method), url,
          transportError_.c_str());
    return false;
  }
  httpStatus_ = status;
  return status >= 200 && status < 300;
}

const char* TzLibCurl::GetHttpResponse(unsigned long& length, bool /*unused*/) {
  length = response_.size();
  if (!captureResponse_ || response_.empty()) {
    length = 0;
    return nullptr;
  }
  return response_.c_str();
}

void TzLibCurl::TakeHttpResponse(std::string& out) {
  if (captureResponse_) {
    out = std::move(response_);
  } else {
    out.clear();
  }
  response_.clear();
}

}  // namespace Hypervale
