#include "host/xmlText.h"

#include <algorithm>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

namespace Hypervale {
namespace xml {

using xercesc::XMLPlatformUtils;

std::string ToUtf8(const XMLCh* text) {
  if (!text || *text == 0) return std::string();
  // Names and values are ASCII most of the time; skip the transcoder for them.
  const XMLCh* p = text;
  while (*p && *p < 0x80) ++p;
  if (*p == 0) return std::string(text, p);
  xercesc::TranscodeToStr utf8(text, "UTF-8");
  return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
}

void XmlString::Release::operator()(XMLCh* p) const {
  if (p) XMLPlatformUtils::fgMemoryManager->deallocate(p);
}

XmlString::XmlString(const std::string& utf8) {
  // Names and most values are ASCII: widened as they are, without making a transcoder.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; })) {
    auto* const wide = static_cast<XMLCh*>(
        XMLPlatformUtils::fgMemoryManager->allocate((utf8.size() + 1) * sizeof(XMLCh)));
    std::copy(utf8.begin(), utf8.end(), wide);
    wide[utf8.size()] = 0;
    text_.reset(wide);
    return;
  }
  xercesc::TranscodeFromStr utf16(reinterpret_cast<const XMLByte*>(utf8.data()), utf8.size(),
                                  "UTF-8");
  text_.reset(utf16.adopt());
}

bool NameEquals(const XMLCh* name, const std::string& ascii) {
  if (!name) return ascii.empty();
  size_t i = 0;
  for (; name[i] != 0; ++i) {
    if (i >= ascii.size() || name[i] != static_cast<unsigned char>(ascii[i])) return false;
  }
  return i == ascii.size();
}

bool NameEquals(const XMLCh* name, const char* ascii) {
  if (!name) return *ascii == '\0';
  size_t i = 0;
  for (; name[i] != 0; ++i) {
    if (name[i] != static_cast<unsigned char>(ascii[i])) return false;  // a shorter one ends
  }
  return ascii[i] == '\0';
}

const char kXmlLibraryNotReady[] =
    "the XML library is not initialised (the host must call "
    "xercesc::XMLPlatformUtils::Initialize() before using the library)";

bool XmlLibraryReady() { return XMLPlatformUtils::fgMemoryManager != nullptr; }

}  // namespace xml
}  // namespace Hypervale
