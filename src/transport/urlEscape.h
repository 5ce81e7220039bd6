// Percent-encoding of the bytes that cannot stand in a URL.
#pragma once

#include <string>

namespace Hypervale {

// Encodes blanks, control bytes, bytes above 0x7E and the characters that are unsafe in a
// URL ('"', '<', '>', '\', '^', '`', '{', '|', '}', '#'). Delimiters such as '/', '?', '=',
// '&' and an existing '%' are kept, so paths and searches keep their meaning and links the
// engine already encoded are not encoded twice.
std::string EscapeUrl(const std::string& url);

}  // namespace Hypervale
