// Request targets as the engine reads them: percent-decoded paths and query parameters, and
// the engine's search language in the small form clients use ("name=web*", "cluster=Default
// and status=up"), compared without regard to letter case unless asked otherwise.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvsim {

// %XX decoded; with plusIsSpace a '+' becomes a blank (query strings).
std::string percentDecode(std::string_view text, bool plusIsSpace);
// Decoded path with runs of '/' collapsed and no trailing '/' (clients may send the engine's
// hrefs after their own '/').
std::string normalizePath(std::string_view rawPath);

using QueryParams = std::vector<std::pair<std::string, std::string>>;
// Splits on '&' and the first '=' of each pair, then decodes.
QueryParams parseQuery(std::string_view rawQuery);
std::optional<std::string> queryValue(const QueryParams& params, std::string_view name);

struct Criterion {
  std::string field;  // lower case
  bool negate = false;
  std::string pattern;  // '*' matches any run of characters
};

struct Search {
  std::vector<Criterion> criteria;  // all must hold
  bool caseSensitive = false;
};

// "field=value [and field!=value ...] [sortby ...] [page N]"; quotes around a value are
// dropped. nullopt with a reason for anything else.
std::optional<Search> parseSearch(std::string_view text, std::string* error);

bool globMatch(std::string_view pattern, std::string_view text, bool caseSensitive);

// The values a record has for a search field; nullopt when the kind has no such field.
using FieldValues = std::function<std::optional<std::vector<std::string>>(const std::string&)>;

// Whether a record matches; sets unknownField to the first field the kind does not know.
bool searchMatches(const Search& search, const FieldValues& values, std::string* unknownField);

}  // namespace hvsim
