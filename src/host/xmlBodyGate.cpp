#include "host/xmlBodyGate.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

#include "host/utf8.h"

namespace Hypervale {
namespace xml {
namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";
// Engines start a body with an XML declaration and a line break at most.
constexpr size_t kMaxProlog = 64 * 1024;
// Xerces gathers a tag (with its attributes), a comment, a processing instruction and a CDATA
// section whole, in UTF-16, before handing it on; engine markup is a few hundred bytes, long
// values come as text, which Xerces hands on in pieces.
constexpr size_t kMaxMarkup = 1u << 20;

bool StartsWith(const std::string& body, size_t pos, const char* prefix, size_t length) {
  return body.compare(pos, length, prefix, length) == 0;
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or npos.
size_t FirstInvalidUtf8(const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    // Eight ASCII bytes at a time: engine bodies are ASCII nearly throughout.
    std::uint64_t word = 0;
    if (i + sizeof word <= text.size()) {
      std::memcpy(&word, bytes + i, sizeof word);
      if ((word & 0x8080808080808080ull) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t length = utf8::SequenceLength(bytes + i, text.size() - i);
    if (length == 0) return i;
    i += length;
  }
  return std::string::npos;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of a pseudo-attribute (`name`: "version", "encoding") of an XML declaration at
// `pos`: empty when there is no declaration or it names none, "?" when the declaration cannot
// be read far enough to tell.
std::string Declared(const std::string& body, size_t pos, const std::string& name) {
  if (!StartsWith(body, pos, "<?xml", 5) || pos + 5 >= body.size() || !IsXmlSpace(body[pos + 5])) {
    return std::string();
  }
  const size_t end = body.find("?>", pos);
  if (end == std::string::npos) return "?";
  const std::string declaration = body.substr(pos, end - pos);
  size_t at = declaration.find(name);
  if (at == std::string::npos) return std::string();
  at += name.size();
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || declaration[at] != '=') return "?";
  ++at;
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return "?";
  const size_t close = declaration.find(declaration[at], at + 1);
  if (close == std::string::npos) return "?";
  const std::string value = declaration.substr(at + 1, close - at - 1);
  return value.empty() ? "?" : value;
}

bool IsUtf8OrAsciiName(const std::string& name) {
  for (const char* accepted : {"UTF-8", "UTF8", "US-ASCII", "ASCII"}) {
    if (strcasecmp(name.c_str(), accepted) == 0) return true;
  }
  return false;
}

// Where the prolog ends: the first byte that is no blank, processing instruction or comment
// (the document element, or a document type declaration); npos when the body ends before.
size_t EndOfProlog(const std::string& body, size_t pos) {
  while (pos < body.size()) {
    if (IsXmlSpace(body[pos])) {
      ++pos;
    } else if (StartsWith(body, pos, "<?", 2)) {
      const size_t end = body.find("?>", pos + 2);
      if (end == std::string::npos) return std::string::npos;
      pos = end + 2;
    } else if (StartsWith(body, pos, "<!--", 4)) {
      const size_t end = body.find("-->", pos + 4);
      if (end == std::string::npos) return std::string::npos;
      pos = end + 3;
    } else {
      return pos;
    }
  }
  return std::string::npos;
}

// Where the tag starting at `pos` ends ('>' outside quoted values), or the body's size.
size_t EndOfTag(const std::string& body, size_t pos) {
  char quote = 0;
  for (size_t i = pos + 1; i < body.size(); ++i) {
    const char c = body[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return body.size();
}

// Whether some piece of markup is longer than kMaxMarkup (one that never ends runs to the end
// of the body).
bool HasLongMarkup(const std::string& body) {
  static const struct {
    const char* start;
    const char* end;
  } kDelimited[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
  for (size_t pos = body.find('<'); pos != std::string::npos; pos = body.find('<', pos)) {
    size_t end = std::string::npos;
    for (const auto& kind : kDelimited) {
      const size_t startLength = std::strlen(kind.start);
      if (!StartsWith(body, pos, kind.start, startLength)) continue;
      end = body.find(kind.end, pos + startLength);
      end = end == std::string::npos ? body.size() : end + std::strlen(kind.end);
      break;
    }
    if (end == std::string::npos) end = EndOfTag(body, pos);
    if (end - pos > kMaxMarkup) return true;
    pos = end;
  }
  return false;
}

}  // namespace

std::string WhyRefusedBeforeParsing(const std::string& body) {
  static const char kNotUtf8[] = "the body is not UTF-8, the only encoding engines answer in: ";
  if (StartsWith(body, 0, "\xFE\xFF", 2) || StartsWith(body, 0, "\xFF\xFE", 2) ||
      StartsWith(body, 0, "\x00\x00\xFE\xFF", 4)) {
    return std::string(kNotUtf8) + "it starts with a UTF-16 or UTF-32 byte order mark";
  }
  if (std::memchr(body.data(), '\0', body.size()) != nullptr) {
    return std::string(kNotUtf8) + "it holds a zero byte (UTF-16, UTF-32 or binary data)";
  }
  const size_t invalid = FirstInvalidUtf8(body);
  if (invalid != std::string::npos) {
    return std::string(kNotUtf8) + "byte " + std::to_string(invalid) +
           " starts no valid UTF-8 sequence";
  }
  const size_t start = StartsWith(body, 0, kUtf8Mark, 3) ? 3 : 0;
  const std::string encoding = Declared(body, start, "encoding");
  if (encoding == "?") return std::string(kNotUtf8) + "its encoding declaration cannot be read";
  if (!encoding.empty() && !IsUtf8OrAsciiName(encoding)) {
    return std::string(kNotUtf8) + "it declares the encoding [" + encoding.substr(0, 40) + "]";
  }
  // XML 1.1 lets a value carry control characters (as "&#x1B;"); engines write XML 1.0.
  const std::string version = Declared(body, start, "version");
  if (!version.empty() && version != "1.0") {
    return "the body is not XML 1.0, the only version engines write: it declares the version [" +
           version.substr(0, 40) + "]";
  }
  const size_t prolog = EndOfProlog(body, start);
  if (prolog != std::string::npos && StartsWith(body, prolog, "<!DOCTYPE", 9)) {
    return "the body carries a document type declaration, which is refused";
  }
  // Xerces gathers blanks before the document element whole, in UTF-16.
  if ((prolog == std::string::npos ? body.size() : prolog) - start > kMaxProlog) {
    return "more than " + std::to_string(kMaxProlog) + " bytes precede the document element";
  }
  if (HasLongMarkup(body)) {
    return "a tag, comment, processing instruction or CDATA section is longer than " +
           std::to_string(kMaxMarkup) + " bytes";
  }
  return std::string();
}

}  // namespace xml
}  // namespace Hypervale
