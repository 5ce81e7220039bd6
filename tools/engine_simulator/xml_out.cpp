#include "engine_simulator/xml_out.h"

namespace hvsim {

void appendEscaped(std::string& out, std::string_view text) {
  // Runs without special characters are copied whole: answers of tens of megabytes are mostly
  // hrefs and ids.
  size_t from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      default:
        continue;
    }
    out.append(text.data() + from, i - from);
    out += entity;
    from = i + 1;
  }
  out.append(text.data() + from, text.size() - from);
}

void XmlOut::indent() {
  if (!out_.empty() && out_.back() != '\n') out_ += '\n';
  out_.append(stack_.size() * 4, ' ');
}

void XmlOut::attrs(Attrs list) {
  for (const auto& [name, value] : list) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    appendEscaped(out_, value);
    out_ += '"';
  }
}

XmlOut& XmlOut::declaration() {
  out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  return *this;
}

XmlOut& XmlOut::open(std::string_view name, Attrs list) {
  indent();
  out_ += '<';
  out_ += name;
  attrs(list);
  out_ += '>';
  stack_.push_back(name);
  return *this;
}

XmlOut& XmlOut::close() {
  std::string_view name = stack_.back();
  stack_.pop_back();
  indent();
  out_ += "</";
  out_ += name;
  out_ += '>';
  if (stack_.empty()) out_ += '\n';
  return *this;
}

XmlOut& XmlOut::leaf(std::string_view name, std::string_view text) {
  indent();
  out_ += '<';
  out_ += name;
  out_ += '>';
  appendEscaped(out_, text);
  out_ += "</";
  out_ += name;
  out_ += '>';
  return *this;
}

XmlOut& XmlOut::leaf(std::string_view name, uint64_t value) {
  return leaf(name, std::to_string(value));
}

XmlOut& XmlOut::empty(std::string_view name, Attrs list) {
  indent();
  out_ += '<';
  out_ += name;
  attrs(list);
  out_ += "/>";
  if (stack_.empty()) out_ += '\n';
  return *this;
}

XmlOut& XmlOut::ref(std::string_view name, std::string_view href, std::string_view id) {
  return empty(name, {{"href", href}, {"id", id}});
}

XmlOut& XmlOut::link(std::string_view href, std::string_view rel) {
  return empty("link", {{"href", href}, {"rel", rel}});
}

XmlOut& XmlOut::linkUnder(std::string_view base, std::string_view rel) {
  indent();
  out_ += "<link href=\"";
  appendEscaped(out_, base);
  out_ += '/';
  appendEscaped(out_, rel);
  out_ += "\" rel=\"";
  appendEscaped(out_, rel);
  out_ += "\"/>";
  return *this;
}

XmlOut& XmlOut::status(std::string_view name, std::string_view state, bool v3) {
  if (!v3) return leaf(name, state);
  open(name);
  leaf("state", state);
  return close();
}

}  // namespace hvsim
