// Conversions between Xerces' UTF-16 strings and UTF-8 std::string.
#pragma once

#include <memory>
#include <string>
#include <xercesc/util/XercesDefs.hpp>

namespace Hypervale {
namespace xml {

std::string ToUtf8(const XMLCh* text);

// Owns a transcoded, NUL-terminated UTF-16 copy of a UTF-8 text.
class XmlString {
 public:
  explicit XmlString(const std::string& utf8);
  XmlString(const XmlString&) = delete;
  XmlString& operator=(const XmlString&) = delete;
  const XMLCh* get() const { return text_.get(); }

 private:
  struct Release {
    void operator()(XMLCh* p) const;
  };
  std::unique_ptr<XMLCh, Release> text_;
};

// Exact comparison of a Xerces name with an ASCII name, without allocating: readers
// compare every child against many candidate names.
bool NameEquals(const XMLCh* name, const std::string& ascii);
bool NameEquals(const XMLCh* name, const char* ascii);

// True once the host has run xercesc::XMLPlatformUtils::Initialize().
bool XmlLibraryReady();
// Why a read or a write could not start when XmlLibraryReady() is false.
extern const char kXmlLibraryNotReady[];

}  // namespace xml
}  // namespace Hypervale
