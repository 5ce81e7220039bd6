#include "test_engine/http_message.h"

#include <cctype>
// clang-format off
#include <ostream>  // first: Beast's status header uses std::ostream without including it
#include <boost/beast/http/status.hpp>
// clang-format on

namespace hvtest {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void Headers::add(std::string name, std::string value) {
  list_.emplace_back(std::move(name), std::move(value));
}

std::optional<std::string> Headers::get(std::string_view name) const {
  for (const auto& [n, v] : list_) {
    if (equalsIgnoreCase(n, name)) return v;
  }
  return std::nullopt;
}

std::vector<std::string> Headers::getAll(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : list_) {
    if (equalsIgnoreCase(n, name)) values.push_back(v);
  }
  return values;
}

const char* reasonPhrase(int status) {
  namespace http = boost::beast::http;
  if (status < 100 || status > 999) return "Unknown";
  const http::status known = http::int_to_status(static_cast<unsigned>(status));
  // Beast's phrases are string literals, so data() ends in a NUL.
  return known == http::status::unknown ? "Unknown" : http::obsolete_reason(known).data();
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

Answer Answer::xml(int status, std::string body) {
  Answer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

Answer Answer::xml(int status, std::shared_ptr<const std::string> body) {
  Answer a;
  a.status = status;
  a.sharedBody = std::move(body);
  return a;
}

Answer Answer::html(int status, std::string body) {
  Answer a = xml(status, std::move(body));
  a.contentType = "text/html; charset=UTF-8";
  return a;
}

Answer Answer::engineFault(int status, std::string_view reason, std::string_view detail) {
  return xml(status,
             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
             "<fault><reason>" +
                 xmlEscape(reason) + "</reason><detail>" + xmlEscape(detail) + "</detail></fault>");
}

Answer Answer::drop() {
  Answer a;
  a.fault = Fault::Drop;
  return a;
}

Answer Answer::stall(std::chrono::milliseconds duration) {
  Answer a;
  a.fault = Fault::Stall;
  a.stallTime = duration;
  return a;
}

Answer Answer::partial(int status, std::string body) {
  Answer a = xml(status, std::move(body));
  a.fault = Fault::Partial;
  return a;
}

Answer Answer::lyingLength(int status, std::string body, size_t declared) {
  Answer a = partial(status, std::move(body));
  a.declaredLength = declared;
  return a;
}

Answer Answer::trickle(int status, std::string body, size_t bytes,
                       std::chrono::milliseconds interval) {
  Answer a = xml(status, std::move(body));
  a.fault = Fault::Trickle;
  a.trickleBytes = bytes;
  a.trickleInterval = interval;
  return a;
}

Answer Answer::delayed(std::chrono::milliseconds delay, Answer answer) {
  answer.fault = Fault::Delay;
  answer.delayTime = delay;
  return answer;
}

}  // namespace hvtest
