#include "host/logText.h"

#include <algorithm>
#include <cstdio>

#include "host/utf8.h"

namespace Hypervale {
namespace host {

std::string Cut(const std::string& text, size_t limit) { return CutPart(text, text.size(), limit); }

std::string CutPart(const std::string& text, size_t total, size_t limit) {
  if (total <= limit && text.size() <= limit) return text;
  size_t end = std::min(limit, text.size());
  while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end) + " [... " + std::to_string(total) + " bytes in all]";
}

std::string Printable(const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    // Printable ASCII, nearly all of a line, goes over a run at a time.
    size_t run = i;
    while (run < text.size() && bytes[run] >= 0x20 && bytes[run] < 0x7F) ++run;
    if (run > i) {
      out.append(text, i, run - i);
      i = run;
      continue;
    }
    const size_t length = utf8::SequenceLength(bytes + i, text.size() - i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    unsigned code = 0;
    if (length == 1) {
      code = bytes[i];
    } else if (length == 2) {
      code = (bytes[i] & 0x1Fu) << 6 | (bytes[i + 1] & 0x3Fu);
    } else if (length == 3) {
      code = (bytes[i] & 0x0Fu) << 12 | (bytes[i + 1] & 0x3Fu) << 6 | (bytes[i + 2] & 0x3Fu);
    }
    char escaped[8] = {0};
    if (code == '\n' || code == '\r' || code == '\t') {
      escaped[0] = '\\';
      escaped[1] = code == '\n' ? 'n' : code == '\r' ? 'r' : 't';
    } else if (length == 1 && (code < 0x20 || code == 0x7F)) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", code);
    } else if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
      // C1 controls and the Unicode line and paragraph separators.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
    }
    if (escaped[0]) {
      out += escaped;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

}  // namespace host
}  // namespace Hypervale
