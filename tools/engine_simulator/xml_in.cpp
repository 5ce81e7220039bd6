#include "engine_simulator/xml_in.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
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

bool onlyKnownEntities(std::string_view raw) {
  constexpr std::string_view kPredefined[] = {"lt", "gt", "amp", "quot", "apos"};
  for (size_t at = raw.find('&'); at != std::string_view::npos; at = raw.find('&', at + 1)) {
    const size_t end = raw.find(';', at);
    if (end == std::string_view::npos) return false;
    const std::string_view name = raw.substr(at + 1, end - at - 1);
    if (name.size() > 1 && name[0] == '#') continue;  // a character reference
    if (std::find(std::begin(kPredefined), std::end(kPredefined), name) == std::end(kPredefined)) {
      return false;
    }
  }
  return true;
}

// pugixml keeps a reference to an entity nobody declared, or a lone '&', as plain text; an
// engine refuses such a body, and so does the simulator. Walks a document parsed without
// decoding references (CDATA sections are left alone).
class EntityCheck final : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& node) override {
    if (node.type() == pugi::node_pcdata) known = known && onlyKnownEntities(node.value());
    for (const pugi::xml_attribute& a : node.attributes()) {
      known = known && onlyKnownEntities(a.value());
    }
    return known;
  }
  bool known = true;
};

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
  // A document type is kept only to be refused: nothing in a request is ever expanded. As a
  // fragment, text outside the root stays visible, to be refused as well.
  constexpr unsigned kOptions = pugi::parse_default | pugi::parse_doctype | pugi::parse_fragment;
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size(), kOptions);
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
  pugi::xml_document raw;
  EntityCheck check;
  raw.load_buffer(text.data(), text.size(), kOptions & ~pugi::parse_escapes);
  if (!raw.traverse(check)) return failure(error, "unknown entity");
  return copy;
}

}  // namespace hvsim
