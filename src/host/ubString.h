// String helpers of the host: positional formatting, printf-style formatting and trimming.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "host/kwDebug.h"

namespace Hypervale {

// Result of the printf-style formatter; callers may ignore it.
class CUbError {
 public:
  CUbError() = default;
  explicit CUbError(bool failed) : failed_(failed) {}
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

// A string value with positional formatting: "{1}/{2}" is expanded with the arguments
// counted from 1. A placeholder without a matching argument is kept as written.
class CUbString {
 public:
  CUbString() = default;
  CUbString(const char* text) : value_(text ? text : "") {}  // NOLINT: implicit by design
  CUbString(const std::string& text) : value_(text) {}       // NOLINT: implicit by design

  const char* c_str() const { return value_.c_str(); }
  const std::string& str() const { return value_; }

  static CUbString Format(const CUbString& format, const std::vector<CUbString>& arguments);
  static CUbString Format(const CUbString& format, const CUbString& a1, const CUbString& a2);
  static CUbString Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                          const CUbString& a3);
  static CUbString Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                          const CUbString& a3, const CUbString& a4);
  static CUbString Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                          const CUbString& a3, const CUbString& a4, const CUbString& a5);
  static CUbString Format(const CUbString& format, const CUbString& a1, const CUbString& a2,
                          const CUbString& a3, const CUbString& a4, const CUbString& a5,
                          const CUbString& a6);

 private:
  std::string value_;
};

// printf-style formatting into `out` (replacing its content).
CUbError FormatString(std::string& out, const char* format, ...) HV_PRINTF(2, 3);
CUbError FormatStringV(std::string& out, const char* format, va_list args);

// Removes every character of `characters` from both ends of `text`, in place.
void TrimString(std::string& text, const char* characters);

}  // namespace Hypervale
