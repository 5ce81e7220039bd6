#include "test_engine/http_message.h"

#include <cctype>

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
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 406:
      return "Not Acceptable";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 417:
      return "Expectation Failed";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
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

Answer Answer::delayed(std::chrono::milliseconds delay, Answer answer) {
  answer.fault = Fault::Delay;
  answer.delayTime = delay;
  return answer;
}

}  // namespace hvtest
