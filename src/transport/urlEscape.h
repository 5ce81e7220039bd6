// Percent-encoding for URLs: of the bytes that cannot stand in a URL at all, and of a value
// put into a query.
#pragma once

#include <string>

namespace Hypervale {

// Encodes blanks, control bytes, bytes above 0x7E and the characters that are unsafe in a
// URL ('"', '<', '>', '\', '^', '`', '{', '|', '}', '#'). Delimiters such as '/', '?', '=',
// '&' and an existing '%' are kept, so paths and searches keep their meaning and links the
// engine already encoded are not encoded twice.
std::string EscapeUrl(const std::string& url);

// Encodes every byte but letters, digits and "-._~", so that a name or id substituted into a
// query ("?search=name=" + value) reaches the engine as one value: "a&b" cannot start another
// parameter, and '%' and '+' arrive as themselves.
std::string EncodeQueryValue(const std::string& value);

// "?search=" + field + "=" + the encoded value, to append to a collection path.
std::string SearchQuery(const std::string& field, const std::string& value);

}  // namespace Hypervale
