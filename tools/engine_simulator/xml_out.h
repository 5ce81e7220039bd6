// An XML writer that indents like the engine (four blanks per level). Elements are built and
// escaped by pugixml; the root's start tag is written as it opens and each child of the root as
// soon as it is complete, so a list of thousands of VMs is never held as a tree and every child
// is built in the memory its predecessor used.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>

namespace hvsim {

using Attrs = std::initializer_list<std::pair<std::string_view, std::string_view>>;

class XmlOut {
 public:
  explicit XmlOut(std::string& out) : out_(out) {}

  // <?xml version="1.0" encoding="UTF-8" standalone="yes"?>
  XmlOut& declaration();
  XmlOut& open(std::string_view name, Attrs attrs = {});
  XmlOut& close();
  // <name>text</name>; the text is escaped.
  XmlOut& leaf(std::string_view name, std::string_view text);
  XmlOut& leaf(std::string_view name, uint64_t value);
  XmlOut& flag(std::string_view name, bool value) { return leaf(name, value ? "true" : "false"); }
  // <name a="v"/>
  XmlOut& empty(std::string_view name, Attrs attrs = {});
  // <name href="..." id="..."/>, the form of every reference.
  XmlOut& ref(std::string_view name, std::string_view href, std::string_view id);
  XmlOut& link(std::string_view href, std::string_view rel);
  // <link href="base/rel" rel="rel"/>, the engine's links to sub-collections and actions.
  XmlOut& linkUnder(std::string_view base, std::string_view rel);
  // v3 status form <name><state>s</state></name> or v4 <name>s</name>.
  XmlOut& status(std::string_view name, std::string_view state, bool v3);

 private:
  // The innermost open element below the root, or the document when none is open.
  pugi::xml_node parent() const;
  pugi::xml_node element(std::string_view name, Attrs attrs);
  // Writes an element that is complete at the top of document_, then lets it go.
  void completed(pugi::xml_node node);
  void writeStartTag(pugi::xml_node root);

  std::string& out_;
  std::string root_;             // name of the open root element; empty when none is open
  pugi::xml_document document_;  // the child of the root being built (or a root written whole)
  pugi::xml_node open_;          // null when no element below the root is open
  std::string href_;             // reused: lists have thousands of links
};

void appendEscaped(std::string& out, std::string_view text);

}  // namespace hvsim
