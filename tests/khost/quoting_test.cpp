// Which code points khost's echo of outside text writes out: everything
// that draws nothing but changes how the text around it reads, and nothing
// a name in any script is made of.
#include "khost/base/quoting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(std::uint32_t code) {
  std::string out;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

std::string Escaped(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, code > 0xFFFF ? "\\U%08x" : "\\u%04x", code);
  return text;
}

TEST(KhostQuoting, EveryInvisibleCodePointIsWrittenOut) {
  const std::vector<std::uint32_t> invisible = {
      // Format characters: prefixed number signs and marks of Arabic,
      // Syriac, Kaithi, Egyptian hieroglyph controls, shorthand format
      // controls, musical beams.
      0x0600, 0x0603, 0x0605, 0x06DD, 0x070F, 0x110BD, 0x13430, 0x13438, 0x1BCA0, 0x1BCA3, 0x1D173,
      0x1D17A,
      // Default ignorable but not format: Hangul fillers, variation
      // selectors, the combining grapheme joiner, Mongolian free variation
      // selectors, Khmer inherent vowels.
      0x115F, 0x1160, 0x3164, 0xFFA0, 0xFE00, 0xFE0F, 0xE0100, 0xE01EF, 0x034F, 0x180B, 0x180F,
      0x17B4, 0x17B5,
      // What was written out before and stays so: bidirectional controls,
      // zero-width characters, the separators, the byte order mark, soft
      // hyphen, tags, and the unassigned code points among them.
      0x202E, 0x2066, 0x200B, 0x200D, 0x2028, 0x2029, 0xFEFF, 0x00AD, 0x061C, 0x180E, 0x2065,
      0xE0000, 0xE0001, 0xE0041, 0xE007F};
  for (const std::uint32_t code : invisible) {
    EXPECT_EQ(khost::EscapeControls("a" + Utf8(code) + "b"), "a" + Escaped(code) + "b")
        << std::hex << code;
  }
}

TEST(KhostQuoting, LettersMarksAndEmojiOfEveryScriptAreKept) {
  const std::vector<std::uint32_t> visible = {
      // Latin, Greek, Cyrillic, Hebrew, Arabic, Devanagari, Thai, Han,
      // Hangul syllables and jamo, Ethiopic.
      'Z', 0x00E9, 0x03A9, 0x0416, 0x05D0, 0x0627, 0x0915, 0x0E01, 0x6F22, 0xD55C, 0x1100, 0x1200,
      // Combining marks: acute, Devanagari vowel signs, Hebrew point, the
      // enclosing keycap.
      0x0301, 0x093F, 0x094D, 0x05B7, 0x20E3,
      // Emoji, a skin-tone modifier, a regional indicator, a supplementary
      // Han ideograph.
      0x1F600, 0x1F3FB, 0x1F1EB, 0x20BB7};
  std::string text;
  for (const std::uint32_t code : visible) {
    EXPECT_EQ(khost::EscapeControls(Utf8(code)), Utf8(code)) << std::hex << code;
    text += Utf8(code);
  }
  EXPECT_EQ(khost::QuoteArgument(text), "'" + text + "'");
}

}  // namespace
