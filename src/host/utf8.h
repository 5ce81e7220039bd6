// Reading UTF-8 one sequence at a time.
#pragma once

#include <cstddef>

namespace Hypervale {
namespace utf8 {

// The length of the well-formed UTF-8 sequence at `bytes` (shortest form, no surrogates, at
// most U+10FFFF) among `available` bytes; 0 when none starts there.
size_t SequenceLength(const unsigned char* bytes, size_t available);

}  // namespace utf8
}  // namespace Hypervale
