// The HTTP client: one object per request attempt, over libcurl.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/kwDebug.h"
#include "transport/connectionPool.h"
#include "transport/curlHandle.h"
#include "transport/urlParts.h"

namespace Hypervale {

enum _http_req_type_ { HTTP_REQ_GET = 0, HTTP_REQ_POST = 1, HTTP_REQ_PUT = 2, HTTP_REQ_DELETE = 3 };
typedef _http_req_type_ HTTP_REQ_TYPE;

enum _http_hdr_type_ {
  HTTP_HDR_LINE = 0,         // a whole request header line
  HTTP_HDR_CREDENTIALS = 1,  // "user:password" for basic authentication
  HTTP_HDR_SESSION = 2,      // "NAME=value": the engine session's cookie
};

typedef unsigned long (*TzLibCurlWriteCallback)(void* data, unsigned long size, unsigned long count,
                                                void* context);

// Transport settings read from section "VirtualServer", once per connect or request, into a
// value that request owns: a configuration change never reaches a request in flight.
struct TransportSettings {
  std::string caFile;                                // "sRhevCAFile"
  bool tlsInsecure = false;                          // "nRhevTLSInsecure" = 1
  unsigned long connectTimeoutSec = 30;              // "nRhevConnectTimeoutSec"
  unsigned long stallTimeoutSec = 300;               // "nRhevStallTimeoutSec"
  unsigned long requestTimeoutSec = 900;             // "nRhevRequestTimeoutSec"
  unsigned long long maxResponseBytes = 1ULL << 30;  // "nRhevMaxResponseBytes"
  bool reuseConnections = true;                      // "nRhevReuseConnections" != 0

  // A time-out that is not a whole number of seconds above 0 keeps its default; `refusals`,
  // when given, receives one line per value refused so.
  static TransportSettings FromConfiguration(std::vector<std::string>* refusals = nullptr);
  // What the public certificate probe and the end of a session may take: a small answer
  // within the connect time-out plus a few seconds, whatever the engine does.
  TransportSettings ForSmallAnswer(unsigned long extraSeconds) const;
};

class TzLibCurl : public KwDebug {
 public:
  TzLibCurl();
  ~TzLibCurl() override;
  TzLibCurl(const TzLibCurl&) = delete;
  TzLibCurl& operator=(const TzLibCurl&) = delete;

  // Prepares a fresh easy handle with the settings of the configuration as it is now.
  // `contentTypeHeader` is sent with every request. `captureResponse` keeps the response body
  // for GetHttpResponse; without it the body is only counted. `unused` is reserved (libcurl's
  // verbose output is never switched on). A non-null `writeCallback` receives the body instead.
  bool TzLibCurlInit(const char* contentTypeHeader, bool captureResponse, bool unused,
                     TzLibCurlWriteCallback writeCallback);
  // The same with settings the caller read (once for its whole request).
  bool TzLibCurlInit(const TransportSettings& settings, const char* contentTypeHeader,
                     bool captureResponse);
  void TzLibCurlFreeHttpHeaderList();
  bool TzLibCurlAppendHeader(_http_hdr_type_ type, const char* value);
  bool TzLibCurlSetAdditionalOptionsIntValue(CURLoption option, const int& value);
  // Sends through the pool's connections (and keeps the connection there afterwards) instead
  // of a connection of this client's own; the client holds the pool while it lives. Null: none.
  // Called before TzLibCurlInit, which then takes the handle an earlier client of the pool gave
  // back, when there is one; the client gives its handle back when it ends.
  void TzLibCurlUseConnectionPool(std::shared_ptr<curl::ConnectionPool> pool) {
    pool_ = std::move(pool);
  }
  // True only when the request completed with a 2xx status. A URL carrying user information
  // is refused without sending; credentials (kinds 1 and 2, or an "Authorization:", "Cookie:"
  // or "Prefer:" line) go only over https:// and are left out of any other request.
  bool TzLibCurlSendHttpReq(HTTP_REQ_TYPE method, const char* url, const void* body,
                            unsigned long length, bool unused, const char* unusedText);
  // The session cookie ("JSESSIONID=value") the last answer set, moved into `out`; false, and
  // `out` untouched, when it set none.
  bool TakeSessionCookie(std::string& out);
  // The NUL-terminated response body, or null when none was received.
  const char* GetHttpResponse(unsigned long& length, bool unused);
  // Moves the response body (empty when none was received) into `out`, without a copy.
  void TakeHttpResponse(std::string& out);
  // The HTTP status of the last send; 0 when no answer arrived.
  std::int64_t GetHttpErrorCode() const { return httpStatus_; }
  // What went wrong in the transport, empty when an answer arrived.
  const std::string& GetTransportError() const { return transportError_; }
  // Body bytes received by the last send, kept or not.
  unsigned long long GetBodyBytes() const { return bodyBytes_; }
  // The most memory the last send set aside for a body.
  size_t GetReservedBytes() const { return reservedBytes_; }

  const TransportSettings& GetSettings() const { return settings_; }

  static const char* GetHttpReqTypeString(HTTP_REQ_TYPE method);

 private:
  static size_t CollectBody(char* data, size_t size, size_t count, void* self);
  static size_t CollectHeader(char* data, size_t size, size_t count, void* self);
  void ReserveForBody(size_t incoming);
  // Puts the parts of a large body and the last one together into response_.
  void JoinParts();
  void DropParts();
  bool HoldsCredentials() const;
  bool ApplyRequestOptions(HTTP_REQ_TYPE method, const ParsedUrl& url, const void* body,
                           unsigned long length, bool withCredentials);

  // Declared before the handle: the handle goes first, then the pool it used.
  std::shared_ptr<curl::ConnectionPool> pool_;
  curl::EasyHandle handle_;
  curl::HeaderList headers_;         // lines appended by the caller
  curl::HeaderList requestHeaders_;  // what the last send used; must outlive the handle's use
  std::string contentTypeHeader_;
  std::string username_;
  std::string password_;
  std::string sessionCookie_;          // sent as the Cookie header, over HTTPS only
  std::string receivedSessionCookie_;  // what the last answer set
  bool captureResponse_ = true;
  TzLibCurlWriteCallback writeCallback_ = nullptr;
  TransportSettings settings_;
  std::string response_;            // the body, or the last part of a large one
  std::vector<std::string> parts_;  // the earlier parts of a large body, in order
  size_t partBytes_ = 0;            // what they hold
  size_t partCapacity_ = 0;         // what they set aside
  unsigned long long bodyBytes_ = 0;
  size_t reservedBytes_ = 0;
  bool responseTooLarge_ = false;
  std::int64_t httpStatus_ = 0;
  std::string transportError_;
  char errorBuffer_[CURL_ERROR_SIZE] = {0};
};

}  // namespace Hypervale
