// UTF-8 decoding shared by the stand-in's text drawing and khost's echo of
// untrusted text: one definition of a well-formed sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktoolkit {

// The length in bytes (2 to 4) and the code point of the well-formed
// multi-byte UTF-8 sequence at `s`, reading no more than `available` bytes
// and no byte past the first that does not continue it (so a terminating
// zero stops it); 0 when `s` does not start one. Overlong forms, surrogates
// and values past U+10FFFF are not well formed. [any thread; reads s]
inline std::size_t Utf8Sequence(const unsigned char* s, std::size_t available,
                                std::uint32_t& code) {
  if (available == 0) return 0;
  const unsigned char lead = s[0];
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= available || (s[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (s[i] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace ktoolkit
