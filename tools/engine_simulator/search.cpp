#include "engine_simulator/search.h"

#include <cctype>

namespace hvsim {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string toLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

// Position of a blank-delimited keyword (any case) at or after `from`, or npos.
size_t findKeyword(std::string_view text, std::string_view keyword, size_t from) {
  std::string lowered = toLower(text);
  for (size_t at = lowered.find(keyword, from); at != std::string::npos;
       at = lowered.find(keyword, at + 1)) {
    bool before = at == 0 || std::isspace(static_cast<unsigned char>(lowered[at - 1]));
    size_t end = at + keyword.size();
    bool after = end == lowered.size() || std::isspace(static_cast<unsigned char>(lowered[end]));
    if (before && after) return at;
  }
  return std::string::npos;
}

std::string trimmed(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string normalizePath(std::string_view rawPath) {
  std::string decoded = percentDecode(rawPath, false);
  std::string out;
  out.reserve(decoded.size());
  for (char c : decoded) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

QueryParams parseQuery(std::string_view rawQuery) {
  QueryParams params;
  while (!rawQuery.empty()) {
    size_t amp = rawQuery.find('&');
    std::string_view pair = rawQuery.substr(0, amp);
    if (!pair.empty()) {
      size_t eq = pair.find('=');
      std::string name = percentDecode(pair.substr(0, eq), true);
      std::string value =
          eq == std::string_view::npos ? std::string() : percentDecode(pair.substr(eq + 1), true);
      params.emplace_back(std::move(name), std::move(value));
    }
    if (amp == std::string_view::npos) break;
    rawQuery.remove_prefix(amp + 1);
  }
  return params;
}

std::optional<std::string> queryValue(const QueryParams& params, std::string_view name) {
  for (const auto& [n, v] : params) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::optional<Search> parseSearch(std::string_view text, std::string* error) {
  auto fail = [&](std::string reason) -> std::optional<Search> {
    if (error) *error = std::move(reason);
    return std::nullopt;
  };
  std::string body(text);
  for (std::string_view tail : {"sortby", "page"}) {
    size_t at = findKeyword(body, tail, 0);
    if (at != std::string::npos) body.resize(at);
  }
  Search search;
  size_t from = 0;
  for (;;) {
    size_t andAt = findKeyword(body, "and", from);
    std::string part = trimmed(std::string_view(body).substr(
        from, andAt == std::string::npos ? std::string::npos : andAt - from));
    if (part.empty()) {
      if (andAt == std::string::npos && search.criteria.empty() && trimmed(body).empty()) break;
      return fail("Search query is incomplete: [" + std::string(text) + "]");
    }
    size_t eq = part.find('=');
    if (eq == std::string::npos || eq == 0) {
      return fail("Search query is invalid: [" + std::string(text) + "]");
    }
    Criterion c;
    c.negate = part[eq - 1] == '!';
    c.field = toLower(trimmed(std::string_view(part).substr(0, c.negate ? eq - 1 : eq)));
    std::string value = trimmed(std::string_view(part).substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    c.pattern = value;
    search.criteria.push_back(std::move(c));
    if (andAt == std::string::npos) break;
    from = andAt + 3;
  }
  return search;
}

bool globMatch(std::string_view pattern, std::string_view text, bool caseSensitive) {
  auto same = [&](char a, char b) { return caseSensitive ? a == b : lower(a) == lower(b); };
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && same(pattern[p], text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool searchMatches(const Search& search, const FieldValues& values, std::string* unknownField) {
  for (const Criterion& c : search.criteria) {
    std::optional<std::vector<std::string>> have = values(c.field);
    if (!have) {
      if (unknownField) *unknownField = c.field;
      return false;
    }
    bool any = false;
    for (const std::string& v : *have) {
      if (globMatch(c.pattern, v, search.caseSensitive)) {
        any = true;
        break;
      }
    }
    if (any == c.negate) return false;
  }
  return true;
}

}  // namespace hvsim
