// Small helper over Xerces DOM nodes: typed reads of one element or attribute, and
// appending elements and attributes to a document being written.
#pragma once

#include <string>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "host/kwDebug.h"

namespace Hypervale {

using xercesc::DOMNode;

class TzSXMLParser {
 public:
  TzSXMLParser();
  virtual ~TzSXMLParser();

  std::string GetNodeName(const DOMNode* node) const;
  // The element's text content, untrimmed.
  std::string GetElementStringValue(const DOMNode* node) const;

  // Each returns false, leaving `out` untouched, when the node's name is not `name` (ASCII).
  // Otherwise it converts the text and returns true; a text that does not convert
  // (not a decimal number, not "true"/"false") leaves `out` untouched as well. The `long`
  // form also takes an xs:dateTime, as milliseconds since the epoch.
  bool ParseFromElementValue(const DOMNode* node, const char* name, std::string& out);
  bool ParseFromElementValue(const DOMNode* node, const char* name, bool& out);
  bool ParseFromElementValue(const DOMNode* node, const char* name, unsigned int& out);
  bool ParseFromElementValue(const DOMNode* node, const char* name, long& out);
  bool ParseFromElementValue(const DOMNode* node, const char* name, unsigned long long& out);
  // std::uint64_t is `unsigned long` on LP64 platforms; sizes are held in it.
  bool ParseFromElementValue(const DOMNode* node, const char* name, unsigned long& out);

  bool ParseFromAttributeValue(const DOMNode* node, const char* name, std::string& out);
  bool ParseFromAttributeValue(const DOMNode* node, const char* name, unsigned int& out);
  // The same for names held in strings.
  template <typename T>
  bool ParseFromElementValue(const DOMNode* node, const std::string& name, T& out) {
    return ParseFromElementValue(node, name.c_str(), out);
  }
  template <typename T>
  bool ParseFromAttributeValue(const DOMNode* node, const std::string& name, T& out) {
    return ParseFromAttributeValue(node, name.c_str(), out);
  }

  // Appends an empty child element and returns it (null when `parent` is null).
  DOMNode* AddElement(DOMNode* parent, const std::string& name);
  // Appends a child element holding the value as text. With `asCData` the text is written
  // as a CDATA section. A value XML cannot carry (one holding a NUL byte) is not appended:
  // the result is null and `writeRefusal` says why, so the document is not sent.
  DOMNode* AddElement(DOMNode* parent, const std::string& name, const std::string& value,
                      bool asCData);
  DOMNode* AddElement(DOMNode* parent, const std::string& name, const char* value);
  DOMNode* AddElement(DOMNode* parent, const std::string& name, bool value, bool flag);
  // The same text as the form above; callers that have no second flag use this one.
  DOMNode* AddElement(DOMNode* parent, const std::string& name, bool value);
  DOMNode* AddElement(DOMNode* parent, const std::string& name, unsigned int value);
  DOMNode* AddElement(DOMNode* parent, const std::string& name, unsigned long long value);
  DOMNode* AddElement(DOMNode* parent, const std::string& name, unsigned long value);
  bool AddAttribute(DOMNode* node, const std::string& name, const std::string& value, bool flag);

 protected:
  bool NameIs(const DOMNode* node, const std::string& name) const;
  // The same for the names readers spell out, without making a string of each.
  bool NameIs(const DOMNode* node, const char* name) const;
  // False, noting the first refusal in `writeRefusal`, for a value that cannot be written.
  bool Writable(const std::string& name, const std::string& value);

  KwDebug log;
  // Why the document being written must not be sent; empty while every value was written.
  std::string writeRefusal;
};

}  // namespace Hypervale
