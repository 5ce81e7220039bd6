#include "host/xmlBodyGate.h"

#include <strings.h>

#include <cstring>

#include "host/utf8.h"

namespace Hypervale {
namespace xml {
namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";

bool StartsWith(const std::string& body, size_t pos, const char* prefix, size_t length) {
  return body.compare(pos, length, prefix, length) == 0;
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or npos.
size_t FirstInvalidUtf8(const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
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

// The encoding an XML declaration at `pos` names: empty when it names none, "?" when the
// declaration cannot be read far enough to tell.
std::string DeclaredEncoding(const std::string& body, size_t pos) {
  if (!StartsWith(body, pos, "<?xml", 5) || pos + 5 >= body.size() || !IsXmlSpace(body[pos + 5])) {
    return std::string();
  }
  const size_t end = body.find("?>", pos);
  if (end == std::string::npos) return "?";
  const std::string declaration = body.substr(pos, end - pos);
  size_t at = declaration.find("encoding");
  if (at == std::string::npos) return std::string();
  at += 8;
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || declaration[at] != '=') return "?";
  ++at;
  while (at < declaration.size() && IsXmlSpace(declaration[at])) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return "?";
  const size_t close = declaration.find(declaration[at], at + 1);
  if (close == std::string::npos) return "?";
  const std::string name = declaration.substr(at + 1, close - at - 1);
  return name.empty() ? "?" : name;
}

bool IsUtf8OrAsciiName(const std::string& name) {
  for (const char* accepted : {"UTF-8", "UTF8", "US-ASCII", "ASCII"}) {
    if (strcasecmp(name.c_str(), accepted) == 0) return true;
  }
  return false;
}

// Finds a document type declaration in the prolog, before the root element starts.
bool HasDocumentTypeDeclaration(const std::string& body, size_t pos) {
  while (pos < body.size()) {
    if (IsXmlSpace(body[pos])) {
      ++pos;
    } else if (StartsWith(body, pos, "<?", 2)) {
      const size_t end = body.find("?>", pos + 2);
      if (end == std::string::npos) return false;
      pos = end + 2;
    } else if (StartsWith(body, pos, "<!--", 4)) {
      const size_t end = body.find("-->", pos + 4);
      if (end == std::string::npos) return false;
      pos = end + 3;
    } else {
      return StartsWith(body, pos, "<!DOCTYPE", 9);
    }
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
  const std::string encoding = DeclaredEncoding(body, start);
  if (encoding == "?") return std::string(kNotUtf8) + "its encoding declaration cannot be read";
  if (!encoding.empty() && !IsUtf8OrAsciiName(encoding)) {
    return std::string(kNotUtf8) + "it declares the encoding [" + encoding.substr(0, 40) + "]";
  }
  if (HasDocumentTypeDeclaration(body, start)) {
    return "the body carries a document type declaration, which is refused";
  }
  return std::string();
}

}  // namespace xml
}  // namespace Hypervale
