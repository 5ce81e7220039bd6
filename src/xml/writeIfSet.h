// Writing only the values that are set. The engine takes an element or attribute that is
// present as given, even when empty: an empty id is refused as no valid id, a reference
// with an id is resolved by it rather than by its name, and an empty element in an update
// blanks the field. So a value that is not set is left out, never written empty.
#pragma once

#include <string>

#include "host/sxmlParser.h"

namespace Hypervale {

inline void AddElementIfSet(TzSXMLParser& xml, DOMNode* parent, const std::string& name,
                            const std::string& value) {
  if (!value.empty()) xml.AddElement(parent, name, value, false);
}

inline void AddAttributeIfSet(TzSXMLParser& xml, DOMNode* node, const std::string& name,
                              const std::string& value) {
  if (!value.empty()) xml.AddAttribute(node, name, value, false);
}

}  // namespace Hypervale
