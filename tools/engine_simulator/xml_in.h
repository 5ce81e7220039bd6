// A tolerant reader for the small XML documents clients send (elements, attributes, text,
// CDATA, character and the five predefined entities). Document types are refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvsim {

struct XmlNode {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // concatenated character data directly inside the element
  std::vector<XmlNode> children;

  const XmlNode* child(std::string_view name) const;
  // Descends through child names separated by '/', e.g. "storage/address".
  const XmlNode* find(std::string_view path) const;
  std::optional<std::string> attribute(std::string_view name) const;
  // Trimmed text of the element at path, or nullopt when absent.
  std::optional<std::string> textAt(std::string_view path) const;
  // "true"/"false" (any case) at path; nullopt when absent or not a boolean.
  std::optional<bool> flagAt(std::string_view path) const;
  std::optional<uint64_t> numberAt(std::string_view path) const;
};

// nullopt and a reason when the text is not a well-formed document.
std::optional<XmlNode> parseXml(std::string_view text, std::string* error = nullptr);

std::string trim(std::string_view text);

}  // namespace hvsim
