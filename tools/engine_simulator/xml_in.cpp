#include "engine_simulator/xml_in.h"

#include <cctype>
#include <cstdlib>
#include <pugixml.hpp>

namespace hvsim {

namespace {

constexpr int kMaxDepth = 64;

// Copies an element of the parsed document; false when it nests deeper than any request does.
bool copyElement(const pugi::xml_node& from, XmlNode& to, int depth) {
  if (depth > kMaxDepth) return false;
  to.name = from.name();
  for (const pugi::xml_attribute& a : from.attributes()) {
    to.attributes.emplace_back(a.name(), a.value());
  }
  for (const pugi::xml_node& child : from.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      to.text += child.value();
    } else if (child.type() == pugi::node_element) {
      to.children.emplace_back();
      if (!copyElement(child, to.children.back(), depth + 1)) return false;
    }
  }
  return true;
}

std::optional<XmlNode> failure(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return std::nullopt;
}

}  // namespace

std::string trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

const XmlNode* XmlNode::child(std::string_view wanted) const {
  for (const XmlNode& c : children) {
    if (c.name == wanted) return &c;
  }
  return nullptr;
}

const XmlNode* XmlNode::find(std::string_view path) const {
  const XmlNode* node = this;
  while (node && !path.empty()) {
    size_t slash = path.find('/');
    node = node->child(path.substr(0, slash));
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return node;
}

std::optional<std::string> XmlNode::attribute(std::string_view wanted) const {
  for (const auto& [n, v] : attributes) {
    if (n == wanted) return v;
  }
  return std::nullopt;
}

std::optional<std::string> XmlNode::textAt(std::string_view path) const {
  const XmlNode* node = find(path);
  if (!node) return std::nullopt;
  return trim(node->text);
}

std::optional<bool> XmlNode::flagAt(std::string_view path) const {
  std::optional<std::string> text = textAt(path);
  if (!text) return std::nullopt;
  std::string lower;
  for (char c : *text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "true") return true;
  if (lower == "false") return false;
  return std::nullopt;
}

std::optional<uint64_t> XmlNode::numberAt(std::string_view path) const {
  std::optional<std::string> text = textAt(path);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text->c_str(), &end, 10);
  if (*end != '\0' || (*text)[0] == '-') return std::nullopt;
  return value;
}

std::optional<XmlNode> parseXml(std::string_view text, std::string* error) {
  pugi::xml_document document;
  // A document type is kept only to be refused: nothing in a request is ever expanded. As a
  // fragment, text outside the root stays visible, to be refused as well.
  const pugi::xml_parse_result parsed = document.load_buffer(
      text.data(), text.size(), pugi::parse_default | pugi::parse_doctype | pugi::parse_fragment);
  if (!parsed) {
    return failure(error,
                   std::string(parsed.description()) + " at byte " + std::to_string(parsed.offset));
  }
  pugi::xml_node root;
  for (const pugi::xml_node& node : document.children()) {
    if (node.type() == pugi::node_doctype) return failure(error, "document types are not accepted");
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata ||
        (root && node.type() == pugi::node_element)) {
      return failure(error, "content outside the root");
    }
    if (node.type() == pugi::node_element) root = node;
  }
  if (!root) return failure(error, "no root element");
  XmlNode copy;
  if (!copyElement(root, copy, 0)) return failure(error, "nesting too deep");
  return copy;
}

}  // namespace hvsim
