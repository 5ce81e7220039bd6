#include "host/utf8.h"

namespace Hypervale {
namespace utf8 {

size_t SequenceLength(const unsigned char* bytes, size_t available) {
  if (available == 0) return 0;
  const unsigned char lead = bytes[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (length > available || bytes[1] < low || bytes[1] > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((bytes[k] & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace utf8
}  // namespace Hypervale
