#include "test_engine/http_wire.h"

#include <algorithm>
#include <cstring>

namespace hvtest {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxChunkLine = 4096;

bool isTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isToken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool hasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
  });
}

// Decimal Content-Length; nullopt when malformed or absurdly large.
std::optional<size_t> parseLength(std::string_view s) {
  s = trim(s);
  if (s.empty() || s.size() > 18) return std::nullopt;
  size_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return value;
}

// Hex chunk size before any extension; nullopt when malformed or absurdly large.
std::optional<size_t> parseChunkSize(std::string_view line) {
  line = trim(line.substr(0, line.find(';')));
  if (line.empty() || line.size() > 15) return std::nullopt;
  size_t value = 0;
  for (char c : line) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<size_t>(digit);
  }
  return value;
}

// True when a comma-separated header value lists the token.
bool listsToken(const Headers& headers, std::string_view name, std::string_view token) {
  for (const std::string& value : headers.getAll(name)) {
    std::string_view rest = value;
    while (!rest.empty()) {
      size_t comma = rest.find(',');
      if (equalsIgnoreCase(trim(rest.substr(0, comma)), token)) return true;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return false;
}

}  // namespace

RequestReader::RequestReader(Stream& stream, WireLimits limits, WireTimeouts timeouts)
    : stream_(stream), limits_(limits), timeouts_(timeouts) {}

RequestReader::Result RequestReader::reject(int status) {
  rejectStatus_ = status;
  return Result::Rejected;
}

IoStatus RequestReader::fill(Deadline deadline) {
  size_t old = buf_.size();
  buf_.resize(old + kReadChunk);
  size_t got = 0;
  IoStatus s = stream_.read(buf_.data() + old, kReadChunk, got, deadline);
  buf_.resize(old + got);
  return s;
}

IoStatus RequestReader::ensure(size_t n) {
  while (buf_.size() - pos_ < n) {
    IoStatus s = fill(after(timeouts_.io));
    if (s != IoStatus::Ok) return s;
  }
  return IoStatus::Ok;
}

bool RequestReader::readLine(std::string& line, size_t maxLength) {
  size_t scanned = pos_;
  for (;;) {
    size_t end = buf_.find("\r\n", scanned);
    if (end != std::string::npos) {
      line.assign(buf_, pos_, end - pos_);
      pos_ = end + 2;
      return true;
    }
    if (buf_.size() - pos_ > maxLength) {
      rejectStatus_ = 400;
      return false;
    }
    scanned = std::max(pos_, buf_.size() > 0 ? buf_.size() - 1 : 0);
    if (fill(after(timeouts_.io)) != IoStatus::Ok) {
      closed_ = true;
      return false;
    }
  }
}

RequestReader::Result RequestReader::next(Request& out) {
  // Drop what earlier requests consumed; give back memory after a large body.
  if (buf_.capacity() > 4 * kReadChunk && buf_.size() - pos_ < kReadChunk) {
    buf_ = buf_.substr(pos_);
  } else {
    buf_.erase(0, pos_);
  }
  pos_ = 0;
  rejectStatus_ = 0;
  closed_ = false;

  size_t scanned = 0;
  size_t headEnd = std::string::npos;
  for (;;) {
    // Tolerate empty lines between requests, as old clients send after a body.
    while (buf_.compare(pos_, 2, "\r\n") == 0) pos_ += 2;
    scanned = std::max(scanned, pos_);
    headEnd = buf_.find("\r\n\r\n", scanned);
    if (headEnd != std::string::npos) break;
    if (buf_.size() - pos_ > limits_.maxHeaderBytes) return reject(400);
    scanned = buf_.size() >= 3 ? std::max(pos_, buf_.size() - 3) : pos_;
    bool idle = buf_.size() == pos_;
    if (fill(after(idle ? timeouts_.idle : timeouts_.io)) != IoStatus::Ok) return Result::Closed;
  }
  if (headEnd + 4 - pos_ > limits_.maxHeaderBytes) return reject(400);
  std::string_view head(buf_.data() + pos_, headEnd - pos_);
  Result r = parseHead(head, out);
  pos_ = headEnd + 4;
  if (r != Result::Request) return r;
  return readBody(out);
}

RequestReader::Result RequestReader::parseHead(std::string_view head, Request& out) {
  size_t lineEnd = head.find("\r\n");
  std::string_view requestLine = head.substr(0, lineEnd);
  size_t sp1 = requestLine.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos) {
    return reject(400);
  }
  std::string_view method = requestLine.substr(0, sp1);
  std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = requestLine.substr(sp2 + 1);
  if (!isToken(method) || target.empty() || hasControl(target)) return reject(400);
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    return reject(version.substr(0, 5) == "HTTP/" ? 505 : 400);
  }
  out.method = std::string(method);
  out.target = std::string(target);
  size_t q = target.find('?');
  out.path = std::string(target.substr(0, q));
  out.query = q == std::string_view::npos ? "" : std::string(target.substr(q + 1));
  out.version = std::string(version);

  std::string_view rest =
      lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
  while (!rest.empty()) {
    size_t end = rest.find("\r\n");
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    size_t colon = line.find(':');
    // Folded continuation lines are obsolete and a smuggling risk; refuse them.
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return reject(400);
    std::string_view value = trim(line.substr(colon + 1));
    if (hasControl(value)) return reject(400);
    out.headers.add(std::string(line.substr(0, colon)), std::string(value));
  }
  return Result::Request;
}

RequestReader::Result RequestReader::readBody(Request& out) {
  std::vector<std::string> lengths = out.headers.getAll("Content-Length");
  std::optional<std::string> coding = out.headers.get("Transfer-Encoding");
  bool chunked = false;
  size_t length = 0;
  if (coding) {
    // Both framings at once is how requests get smuggled; refuse it.
    if (!lengths.empty()) return reject(400);
    if (!equalsIgnoreCase(trim(*coding), "chunked")) return reject(501);
    chunked = true;
  } else if (!lengths.empty()) {
    std::optional<size_t> parsed = parseLength(lengths.front());
    if (!parsed) return reject(400);
    for (const std::string& other : lengths) {
      if (parseLength(other) != parsed) return reject(400);
    }
    length = *parsed;
    if (length > limits_.maxBodyBytes) return reject(413);
  }

  if ((chunked || length > 0) && out.version == "HTTP/1.1" &&
      listsToken(out.headers, "Expect", "100-continue")) {
    if (stream_.write("HTTP/1.1 100 Continue\r\n\r\n", after(timeouts_.io)) != IoStatus::Ok) {
      return Result::Closed;
    }
  }
  if (chunked) return readChunkedBody(out);
  if (ensure(length) != IoStatus::Ok) return Result::Closed;
  out.body.assign(buf_, pos_, length);
  pos_ += length;
  return Result::Request;
}

RequestReader::Result RequestReader::readChunkedBody(Request& out) {
  std::string line;
  for (;;) {
    if (!readLine(line, kMaxChunkLine)) return closed_ ? Result::Closed : reject(400);
    std::optional<size_t> size = parseChunkSize(line);
    if (!size) return reject(400);
    if (*size == 0) break;
    if (out.body.size() + *size > limits_.maxBodyBytes) return reject(413);
    if (ensure(*size + 2) != IoStatus::Ok) return Result::Closed;
    out.body.append(buf_, pos_, *size);
    pos_ += *size;
    if (buf_.compare(pos_, 2, "\r\n") != 0) return reject(400);
    pos_ += 2;
  }
  return readTrailers();
}

RequestReader::Result RequestReader::readTrailers() {
  // Trailer fields are read to keep the framing right, then ignored.
  size_t total = 0;
  std::string line;
  for (;;) {
    if (!readLine(line, limits_.maxHeaderBytes)) return closed_ ? Result::Closed : reject(400);
    if (line.empty()) return Result::Request;
    total += line.size() + 2;
    if (total > limits_.maxHeaderBytes) return reject(400);
  }
}

bool wantsKeepAlive(const Request& request) {
  if (listsToken(request.headers, "Connection", "close")) return false;
  if (request.version == "HTTP/1.1") return true;
  return listsToken(request.headers, "Connection", "keep-alive");
}

bool statusAllowsBody(int status) { return status >= 200 && status != 204 && status != 304; }

std::string responseHead(const Answer& answer, size_t contentLength, bool keepAlive) {
  std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                     (answer.reason.empty() ? reasonPhrase(answer.status) : answer.reason) + "\r\n";
  bool typeGiven = false;
  for (const auto& [name, value] : answer.headers) {
    // Framing belongs to the engine: it always sends its own Content-Length.
    if (equalsIgnoreCase(name, "Content-Length") || equalsIgnoreCase(name, "Connection") ||
        equalsIgnoreCase(name, "Transfer-Encoding")) {
      continue;
    }
    typeGiven = typeGiven || equalsIgnoreCase(name, "Content-Type");
    head += name + ": " + value + "\r\n";
  }
  if (statusAllowsBody(answer.status)) {
    if (!typeGiven && !answer.contentType.empty() && contentLength > 0) {
      head += "Content-Type: " + answer.contentType + "\r\n";
    }
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  }
  head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  head += "\r\n";
  return head;
}

}  // namespace hvtest
