#include "host/ubString.h"

#include <cstdio>

namespace Hypervale {

CUbString CUbString::Format(const CUbString& format, const std::vector<CUbString>& arguments) {
  const std::string& pattern = format.value_;
  std::string result;
  result.reserve(pattern.size() + 64);
  size_t pos = 0;
  while (pos < pattern.size()) {
    const char c = pattern[pos];
    if (c == '{') {
      size_t digitsEnd = pos + 1;
      while (digitsEnd < pattern.size() && pattern[digitsEnd] >= '0' && pattern[digitsEnd] <= '9' &&
             digitsEnd - pos <= 6) {
        ++digitsEnd;
      }
      if (digitsEnd > pos + 1 && digitsEnd < pattern.size() && pattern[digitsEnd] == '}') {
        const size_t number = std::stoul(pattern.substr(pos + 1, digitsEnd - pos - 1));
        if (number >= 1 && number <= arguments.size()) {
          result += arguments[number - 1].value_;
          pos = digitsEnd + 1;
          continue;
        }
      }
    }
    result += c;
    ++pos;
  }
  return CUbString(result);
}

CUbString CUbString::Format(const CUbString& format, const CUbString& a1, const CUbString& a2) {
  return Format(format, std::vector<CUbString>{a1, a2});
}

CUbString CUbString::Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                            const CUbString& a3) {
  return Format(format, std::vector<CUbString>{a1, a2, a3});
}

CUbString CUbString::Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                            const CUbString& a3, const CUbString& a4) {
  return Format(format, std::vector<CUbString>{a1, a2, a3, a4});
}

CUbString CUbString::Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                            const CUbString& a3, const CUbString& a4, const CUbString& a5) {
  return Format(format, std::vector<CUbString>{a1, a2, a3, a4, a5});
}

CUbString CUbString::Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                            const CUbString& a3, const CUbString& a4, const CUbString& a5,
                            const CUbString& a6) {
  return Format(format, std::vector<CUbString>{a1, a2, a3, a4, a5, a6});
}

CUbError FormatStringV(std::string& out, const char* format, va_list args) {
  out.clear();
  if (!format) return CUbError(true);
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed < 0) return CUbError(true);
  out.resize(static_cast<size_t>(needed) + 1);
  std::vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<size_t>(needed));
  return CUbError();
}

CUbError FormatString(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const CUbError result = FormatStringV(out, format, args);
  va_end(args);
  return result;
}

void TrimString(std::string& text, const char* characters) {
  if (!characters) return;
  const size_t first = text.find_first_not_of(characters);
  if (first == std::string::npos) {
    text.clear();
    return;
  }
  const size_t last = text.find_last_not_of(characters);
  text.erase(last + 1);
  text.erase(0, first);
}

}  // namespace Hypervale
