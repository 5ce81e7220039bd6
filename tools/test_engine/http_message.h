// Requests and answers as the test engine sees them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvtest {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Header fields in arrival order, looked up by name without regard to case.
class Headers {
 public:
  void add(std::string name, std::string value);
  // First value of the field, if present.
  std::optional<std::string> get(std::string_view name) const;
  std::vector<std::string> getAll(std::string_view name) const;
  bool has(std::string_view name) const { return get(name).has_value(); }
  const HeaderList& list() const { return list_; }
  size_t size() const { return list_.size(); }

 private:
  HeaderList list_;
};

struct Request {
  std::string method;
  std::string target;   // exactly as sent: path plus optional "?query"
  std::string path;     // target up to '?'
  std::string query;    // after '?', still percent-encoded; empty when none
  std::string version;  // "HTTP/1.1" or "HTTP/1.0"
  Headers headers;
  std::string body;  // decoded from chunked transfer coding when it was chunked

  bool tls = false;           // arrived over HTTPS
  uint64_t connection = 0;    // id of the connection; equal for keep-alive requests
  std::string user;           // user of a valid Basic authorization, else empty
  bool authRejected = false;  // answered 401 by the authentication check
  int status = 0;             // status of the answer chosen (not sent for Drop/Stall)

  // First value of a header, or "" when absent.
  std::string header(std::string_view name) const { return headers.get(name).value_or(""); }
};

// Standard reason phrase for a status code ("Unknown" for unusual codes).
const char* reasonPhrase(int status);

// How the engine replies. Faults misbehave on purpose to exercise the client's error paths.
struct Answer {
  enum class Fault {
    None,
    Drop,     // close the connection without answering
    Stall,    // send nothing for stallTime, then close (ends early when the server stops)
    Partial,  // send the head and half the body with the full Content-Length, then close
    Delay,    // wait delayTime, then answer normally
    Trickle,  // send the head, then trickleBytes of the body every trickleInterval
  };

  int status = 200;
  std::string reason;  // empty: derived from status
  HeaderList headers;  // extra headers; Content-Length is always computed by the engine
  std::string body;
  // Set: the body instead of `body`, shared rather than copied (a large body answered many
  // times, whose copy per answer would cost more than sending it).
  std::shared_ptr<const std::string> sharedBody;
  std::string contentType = "application/xml";
  Fault fault = Fault::None;
  std::chrono::milliseconds stallTime{0};
  std::chrono::milliseconds delayTime{0};
  size_t trickleBytes = 0;
  std::chrono::milliseconds trickleInterval{0};
  size_t declaredLength = 0;  // Partial: the Content-Length announced; 0: the whole body's

  static Answer xml(int status, std::string body);
  static Answer xml(int status, std::shared_ptr<const std::string> body);
  static Answer html(int status, std::string body);
  // An engine-style <fault> document with the given reason and detail (XML-escaped).
  static Answer engineFault(int status, std::string_view reason, std::string_view detail);
  static Answer drop();
  static Answer stall(std::chrono::milliseconds duration);
  static Answer partial(int status, std::string body);
  // Half the body under a Content-Length of `declared` bytes, then the connection ends.
  static Answer lyingLength(int status, std::string body, size_t declared);
  static Answer trickle(int status, std::string body, size_t bytes,
                        std::chrono::milliseconds interval);
  static Answer delayed(std::chrono::milliseconds delay, Answer answer);
};

std::string xmlEscape(std::string_view text);

}  // namespace hvtest
