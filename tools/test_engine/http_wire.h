// HTTP/1.x on the wire: reading requests from a Stream and formatting answer heads.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "test_engine/http_message.h"
#include "test_engine/stream.h"

namespace hvtest {

struct WireLimits {
  size_t maxHeaderBytes = 64 * 1024;
  size_t maxBodyBytes = 64 * 1024 * 1024;
};

struct WireTimeouts {
  std::chrono::milliseconds idle{5000};  // waiting for the first byte of a request
  std::chrono::milliseconds io{5000};    // each later read or write
};

// Reads successive requests from one connection, keeping bytes that belong to the next one.
class RequestReader {
 public:
  enum class Result {
    Request,   // `out` holds a complete request
    Closed,    // the peer closed, timed out, failed, or the server stops: just close
    Rejected,  // malformed or too large: answer rejectStatus(), then close
  };

  RequestReader(Stream& stream, WireLimits limits, WireTimeouts timeouts);
  RequestReader(const RequestReader&) = delete;
  RequestReader& operator=(const RequestReader&) = delete;

  Result next(Request& out);
  int rejectStatus() const { return rejectStatus_; }

 private:
  Result reject(int status);
  IoStatus fill(Deadline deadline);
  // Makes sure n unread bytes are buffered.
  IoStatus ensure(size_t n);
  // Reads up to CRLF (not included); false with rejectStatus_ set, or with closed_ set.
  bool readLine(std::string& line, size_t maxLength);
  Result parseHead(std::string_view head, Request& out);
  Result readBody(Request& out);
  Result readChunkedBody(Request& out);
  Result readTrailers();

  Stream& stream_;
  WireLimits limits_;
  WireTimeouts timeouts_;
  std::string buf_;
  size_t pos_ = 0;  // first unread byte of buf_
  int rejectStatus_ = 0;
  bool closed_ = false;
};

// Whether the connection may serve another request after this one.
bool wantsKeepAlive(const Request& request);

// Whether an answer with this status may carry a body at all.
bool statusAllowsBody(int status);

// Status line and header block (ending in the empty line) declaring contentLength body bytes.
std::string responseHead(const Answer& answer, size_t contentLength, bool keepAlive);

}  // namespace hvtest
