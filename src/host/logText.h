// Engine texts made fit for a log line or an error text: cut to a size, and with every byte
// that could end a line or drive a terminal written out.
#pragma once

#include <string>

namespace Hypervale {
namespace host {

// At most `limit` bytes of `text` (never half a UTF-8 sequence), followed, when cut, by
// " [... N bytes in all]".
std::string Cut(const std::string& text, size_t limit);
// The same for `text`, the first part of a text of `total` bytes.
std::string CutPart(const std::string& text, size_t total, size_t limit);

// `text` with control characters escaped ("\n", "\r", "\t", "\x1b", "\u0085", "\u2028",
// ...) and each byte that starts no valid UTF-8 sequence replaced by U+FFFD.
std::string Printable(const std::string& text);

}  // namespace host
}  // namespace Hypervale
