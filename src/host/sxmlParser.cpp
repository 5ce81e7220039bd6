#include "host/sxmlParser.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <xercesc/dom/DOMCDATASection.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "host/ubString.h"
#include "host/xmlText.h"
#include "host/xmlTree.h"

namespace Hypervale {
namespace {

using xercesc::DOMDocument;
using xercesc::DOMElement;

// Decimal text, blanks around it allowed; nothing else.
template <typename T>
bool ConvertNumber(std::string text, T& out) {
  TrimString(text, " \t\r\n");
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  if (std::numeric_limits<T>::is_signed) {
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' ||
        value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        value > static_cast<long long>(std::numeric_limits<T>::max())) {
      return false;
    }
    out = static_cast<T>(value);
    return true;
  }
  if (text[0] == '-' || text[0] == '+') return false;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' ||
      value > static_cast<unsigned long long>(std::numeric_limits<T>::max())) {
    return false;
  }
  out = static_cast<T>(value);
  return true;
}

// xs:dateTime ("2016-12-12T23:07:29.758+02:00", "...Z", or no offset meaning UTC) as
// milliseconds since the epoch; the engine writes job times this way.
bool ConvertDateTime(std::string text, long& out) {
  TrimString(text, " \t\r\n");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &second, &consumed) != 6 ||
      consumed != 19) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  size_t pos = 19;
  long millis = 0;
  if (pos < text.size() && text[pos] == '.') {
    long scale = 100;
    for (++pos; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
      millis += (text[pos] - '0') * scale;
      scale /= 10;
    }
  }
  long offsetSeconds = 0;
  if (pos < text.size()) {
    if (text[pos] == 'Z' && pos + 1 == text.size()) {
      ++pos;
    } else if ((text[pos] == '+' || text[pos] == '-') && text.size() - pos == 6 &&
               text[pos + 3] == ':') {
      int offsetHours = 0, offsetMinutes = 0;
      if (std::sscanf(text.c_str() + pos + 1, "%2d:%2d", &offsetHours, &offsetMinutes) != 2) {
        return false;
      }
      offsetSeconds = (offsetHours * 60L + offsetMinutes) * 60L * (text[pos] == '-' ? -1 : 1);
      pos = text.size();
    } else {
      return false;
    }
  }
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  const long seconds = static_cast<long>(timegm(&utc)) - offsetSeconds;
  out = seconds * 1000L + millis;
  return true;
}

bool ConvertBool(std::string text, bool& out) {
  TrimString(text, " \t\r\n");
  if (text == "true") {
    out = true;
    return true;
  }
  if (text == "false") {
    out = false;
    return true;
  }
  return false;
}

DOMDocument* OwnerOf(DOMNode* node) {
  return node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<DOMDocument*>(node)
                                                       : node->getOwnerDocument();
}

}  // namespace

TzSXMLParser::TzSXMLParser() : log(nullptr) {}

TzSXMLParser::~TzSXMLParser() = default;

std::string TzSXMLParser::GetNodeName(const DOMNode* node) const {
  return node ? xml::ToUtf8(node->getNodeName()) : std::string();
}

std::string TzSXMLParser::GetElementStringValue(const DOMNode* node) const {
  return xml::TextOf(node);
}

bool TzSXMLParser::NameIs(const DOMNode* node, const std::string& name) const {
  return node && xml::NameEquals(node->getNodeName(), name);
}

bool TzSXMLParser::NameIs(const DOMNode* node, const char* name) const {
  return node && xml::NameEquals(node->getNodeName(), name);
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name, std::string& out) {
  if (!NameIs(node, name)) return false;
  out = GetElementStringValue(node);
  return true;
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name, bool& out) {
  if (!NameIs(node, name)) return false;
  ConvertBool(GetElementStringValue(node), out);
  return true;
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name, unsigned int& out) {
  if (!NameIs(node, name)) return false;
  ConvertNumber(GetElementStringValue(node), out);
  return true;
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name, long& out) {
  if (!NameIs(node, name)) return false;
  const std::string text = GetElementStringValue(node);
  if (!ConvertNumber(text, out)) ConvertDateTime(text, out);
  return true;
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name,
                                         unsigned long long& out) {
  if (!NameIs(node, name)) return false;
  ConvertNumber(GetElementStringValue(node), out);
  return true;
}

bool TzSXMLParser::ParseFromElementValue(const DOMNode* node, const char* name,
                                         unsigned long& out) {
  if (!NameIs(node, name)) return false;
  ConvertNumber(GetElementStringValue(node), out);
  return true;
}

bool TzSXMLParser::ParseFromAttributeValue(const DOMNode* node, const char* name,
                                           std::string& out) {
  if (!NameIs(node, name)) return false;
  out = xml::TextOf(node);
  return true;
}

bool TzSXMLParser::ParseFromAttributeValue(const DOMNode* node, const char* name,
                                           unsigned int& out) {
  if (!NameIs(node, name)) return false;
  ConvertNumber(xml::TextOf(node), out);
  return true;
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name) {
  if (!parent) return nullptr;
  const xml::XmlString tag(name);
  DOMElement* element = OwnerOf(parent)->createElement(tag.get());
  parent->appendChild(element);
  return element;
}

bool TzSXMLParser::Writable(const std::string& name, const std::string& value) {
  // Xerces strings end at a NUL: the value would be cut there without a word.
  if (value.find('\0') == std::string::npos) return true;
  if (writeRefusal.empty()) {
    writeRefusal = "the value of [" + name + "] holds a NUL byte, which XML cannot carry";
  }
  return false;
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name,
                                  const std::string& value, bool asCData) {
  if (!Writable(name, value)) return nullptr;
  DOMNode* element = AddElement(parent, name);
  if (!element || value.empty()) return element;
  DOMDocument* document = OwnerOf(parent);
  const xml::XmlString text(value);
  if (asCData) {
    element->appendChild(document->createCDATASection(text.get()));
  } else {
    element->appendChild(document->createTextNode(text.get()));
  }
  return element;
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name, const char* value) {
  return AddElement(parent, name, std::string(value ? value : ""), false);
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name, bool value,
                                  bool /*flag*/) {
  return AddElement(parent, name, std::string(value ? "true" : "false"), false);
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name, bool value) {
  return AddElement(parent, name, value, false);
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name, unsigned int value) {
  return AddElement(parent, name, std::to_string(value), false);
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name,
                                  unsigned long long value) {
  return AddElement(parent, name, std::to_string(value), false);
}

DOMNode* TzSXMLParser::AddElement(DOMNode* parent, const std::string& name, unsigned long value) {
  return AddElement(parent, name, std::to_string(value), false);
}

bool TzSXMLParser::AddAttribute(DOMNode* node, const std::string& name, const std::string& value,
                                bool /*flag*/) {
  if (!node || node->getNodeType() != DOMNode::ELEMENT_NODE || !Writable(name, value)) return false;
  const xml::XmlString attribute(name);
  const xml::XmlString text(value);
  static_cast<DOMElement*>(node)->setAttribute(attribute.get(), text.get());
  return true;
}

}  // namespace Hypervale
