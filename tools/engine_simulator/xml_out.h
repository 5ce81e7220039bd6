// A small streaming XML writer that indents like the engine (four blanks per level).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  void indent();
  void attrs(Attrs list);

  std::string& out_;
  std::vector<std::string_view> stack_;  // names must outlive the element (literals)
};

void appendEscaped(std::string& out, std::string_view text);

}  // namespace hvsim
