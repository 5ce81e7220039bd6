#include "engine_simulator/xml_in.h"

#include <cctype>
#include <cstdlib>

namespace hvsim {

namespace {

constexpr int kMaxDepth = 64;

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
         c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::optional<XmlNode> document(std::string* error) {
    if (!prolog() || pos_ >= s_.size() || s_[pos_] != '<') return fail(error, "no root element");
    XmlNode root;
    if (!element(root, 0)) return fail(error, error_);
    skipMisc();
    if (!ok_ || pos_ != s_.size()) return fail(error, ok_ ? "content after the root" : error_);
    return root;
  }

 private:
  std::optional<XmlNode> fail(std::string* error, std::string reason) {
    if (error) *error = reason.empty() ? "malformed XML" : reason;
    return std::nullopt;
  }

  bool starts(std::string_view what) const { return s_.substr(pos_, what.size()) == what; }

  void skipSpace() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }

  bool skipPast(std::string_view end) {
    size_t at = s_.find(end, pos_);
    if (at == std::string_view::npos) return error("unterminated markup");
    pos_ = at + end.size();
    return true;
  }

  bool error(std::string reason) {
    ok_ = false;
    error_ = std::move(reason);
    return false;
  }

  // Comments and processing instructions between top-level items.
  void skipMisc() {
    for (;;) {
      skipSpace();
      if (starts("<?")) {
        if (!skipPast("?>")) return;
      } else if (starts("<!--")) {
        if (!skipPast("-->")) return;
      } else {
        return;
      }
    }
  }

  bool prolog() {
    if (starts("\xEF\xBB\xBF")) pos_ += 3;
    skipMisc();
    if (starts("<!DOCTYPE")) return error("document types are not accepted");
    return ok_;
  }

  bool name(std::string& out) {
    size_t start = pos_;
    while (pos_ < s_.size() && isNameChar(s_[pos_])) ++pos_;
    if (pos_ == start) return error("expected a name");
    out.assign(s_.substr(start, pos_ - start));
    return true;
  }

  bool entity(std::string& out) {
    size_t end = s_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12) return error("bad entity");
    std::string_view e = s_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    if (e == "lt")
      out += '<';
    else if (e == "gt")
      out += '>';
    else if (e == "amp")
      out += '&';
    else if (e == "quot")
      out += '"';
    else if (e == "apos")
      out += '\'';
    else if (e.size() > 1 && e[0] == '#') {
      std::string digits(e.substr(e[1] == 'x' ? 2 : 1));
      char* stop = nullptr;
      unsigned long cp = std::strtoul(digits.c_str(), &stop, e[1] == 'x' ? 16 : 10);
      if (digits.empty() || *stop != '\0' || cp == 0 || cp > 0x10FFFF) return error("bad entity");
      appendUtf8(out, cp);
    } else {
      return error("unknown entity");
    }
    return true;
  }

  bool attributeValue(std::string& out) {
    if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) {
      return error("expected a quoted value");
    }
    char quote = s_[pos_++];
    while (pos_ < s_.size() && s_[pos_] != quote) {
      if (s_[pos_] == '<') return error("'<' in attribute");
      if (s_[pos_] == '&') {
        if (!entity(out)) return false;
      } else {
        out += s_[pos_++];
      }
    }
    if (pos_ >= s_.size()) return error("unterminated attribute");
    ++pos_;
    return true;
  }

  bool element(XmlNode& node, int depth) {
    if (depth > kMaxDepth) return error("nesting too deep");
    ++pos_;  // '<'
    if (!name(node.name)) return false;
    for (;;) {
      skipSpace();
      if (pos_ >= s_.size()) return error("unterminated tag");
      if (starts("/>")) {
        pos_ += 2;
        return true;
      }
      if (s_[pos_] == '>') {
        ++pos_;
        break;
      }
      std::pair<std::string, std::string> attr;
      if (!name(attr.first)) return false;
      skipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '=') return error("expected '='");
      ++pos_;
      skipSpace();
      if (!attributeValue(attr.second)) return false;
      node.attributes.push_back(std::move(attr));
    }
    // Content up to the matching end tag.
    for (;;) {
      if (pos_ >= s_.size()) return error("unterminated element " + node.name);
      char c = s_[pos_];
      if (c == '&') {
        if (!entity(node.text)) return false;
      } else if (c != '<') {
        node.text += c;
        ++pos_;
      } else if (starts("</")) {
        pos_ += 2;
        std::string closing;
        if (!name(closing)) return false;
        if (closing != node.name) return error("mismatched end tag " + closing);
        skipSpace();
        if (pos_ >= s_.size() || s_[pos_] != '>') return error("bad end tag");
        ++pos_;
        return true;
      } else if (starts("<![CDATA[")) {
        size_t end = s_.find("]]>", pos_);
        if (end == std::string_view::npos) return error("unterminated CDATA");
        node.text.append(s_.substr(pos_ + 9, end - pos_ - 9));
        pos_ = end + 3;
      } else if (starts("<!--")) {
        if (!skipPast("-->")) return false;
      } else if (starts("<?")) {
        if (!skipPast("?>")) return false;
      } else {
        node.children.emplace_back();
        if (!element(node.children.back(), depth + 1)) return false;
      }
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
  bool ok_ = true;
  std::string error_;
};

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
  return Reader(text).document(error);
}

}  // namespace hvsim
