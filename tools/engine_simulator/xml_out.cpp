#include "engine_simulator/xml_out.h"

#include <cstring>

namespace hvsim {

namespace {

class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

// The element as pugixml writes it: one line per element, `depth` indents before it.
void print(std::string& out, const pugi::xml_node& node, unsigned flags, unsigned depth) {
  StringWriter writer(out);
  node.print(writer, "    ", flags, pugi::encoding_utf8, depth);
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text) {
  // pugixml escapes only as it writes a document: write <a v="TEXT"/> and keep what is between
  // the quotes. Escaped for an attribute, the text also fits between tags.
  pugi::xml_document scratch;
  scratch.append_child("a").append_attribute("v").set_value(text.data(), text.size());
  std::string written;
  print(written, scratch.first_child(), pugi::format_raw, 0);
  constexpr size_t kHead = sizeof("<a v=\"") - 1;
  constexpr size_t kTail = sizeof("\"/>") - 1;
  out.append(written, kHead, written.size() - kHead - kTail);
}

pugi::xml_node XmlOut::parent() const {
  if (open_) return open_;
  return document_;
}

pugi::xml_node XmlOut::element(std::string_view name, Attrs attrs) {
  pugi::xml_node node = parent().append_child(std::string(name).c_str());
  for (const auto& [attrName, value] : attrs) {
    node.append_attribute(std::string(attrName).c_str()).set_value(value.data(), value.size());
  }
  return node;
}

void XmlOut::completed(pugi::xml_node node) {
  print(out_, node, pugi::format_indent, root_.empty() ? 0 : 1);
  document_.remove_child(node);
}

void XmlOut::writeStartTag(pugi::xml_node root) {
  // Written while still empty as "<name ...></name>": all of it but the end tag.
  std::string element;
  print(element, root, pugi::format_raw | pugi::format_no_empty_element_tags, 0);
  element.resize(element.size() - std::strlen(root.name()) - 3);
  out_ += element;
  out_ += '\n';
}

XmlOut& XmlOut::declaration() {
  out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  return *this;
}

XmlOut& XmlOut::open(std::string_view name, Attrs attrs) {
  const pugi::xml_node node = element(name, attrs);
  if (open_ || !root_.empty()) {
    open_ = node;
    return *this;
  }
  writeStartTag(node);
  root_ = name;
  document_.remove_child(node);
  return *this;
}

XmlOut& XmlOut::close() {
  if (!open_) {
    out_ += "</" + root_ + ">\n";
    root_.clear();
    return *this;
  }
  const pugi::xml_node node = open_;
  open_ = node.parent();
  if (open_.type() == pugi::node_document) {
    open_ = pugi::xml_node();
    completed(node);
  }
  return *this;
}

XmlOut& XmlOut::leaf(std::string_view name, std::string_view text) {
  pugi::xml_node node = element(name, {});
  node.append_child(pugi::node_pcdata).set_value(text.data(), text.size());
  if (!open_) completed(node);
  return *this;
}

XmlOut& XmlOut::leaf(std::string_view name, uint64_t value) {
  return leaf(name, std::to_string(value));
}

XmlOut& XmlOut::empty(std::string_view name, Attrs attrs) {
  const pugi::xml_node node = element(name, attrs);
  if (!open_) completed(node);
  return *this;
}

XmlOut& XmlOut::ref(std::string_view name, std::string_view href, std::string_view id) {
  return empty(name, {{"href", href}, {"id", id}});
}

XmlOut& XmlOut::link(std::string_view href, std::string_view rel) {
  return empty("link", {{"href", href}, {"rel", rel}});
}

XmlOut& XmlOut::linkUnder(std::string_view base, std::string_view rel) {
  href_.assign(base).append(1, '/').append(rel);
  return link(href_, rel);
}

XmlOut& XmlOut::status(std::string_view name, std::string_view state, bool v3) {
  if (!v3) return leaf(name, state);
  open(name);
  leaf("state", state);
  return close();
}

}  // namespace hvsim
