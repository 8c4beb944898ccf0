#include "khost/base/quoting.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>

#include "standin/ktoolkit/utf8.h"

namespace khost {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHex(std::string& out, const char* prefix, std::uint32_t value, int digits) {
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// The code points above U+009F that quoting.h lists as written out, by the
// Unicode library's category and default-ignorable flag.
bool IsInvisibleFormat(std::uint32_t code) {
  const utf8proc_property_t* property = utf8proc_get_property(static_cast<utf8proc_int32_t>(code));
  switch (property->category) {
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    default:
      return property->ignorable;
  }
}

void AppendControl(std::string& out, unsigned char c) {
  switch (c) {
    case 0x07:
      out += "\\a";
      break;
    case 0x08:
      out += "\\b";
      break;
    case 0x09:
      out += "\\t";
      break;
    case 0x0A:
      out += "\\n";
      break;
    case 0x0D:
      out += "\\r";
      break;
    case 0x1B:
      out += "\\e";
      break;
    default:
      AppendHex(out, "\\x", c, 2);
  }
}

// Escapes `text` as EscapeControls does, stopping before the character
// whose escaped form would take the result past `limit` bytes; `consumed`
// says how many bytes of `text` were escaped.
std::string Escape(std::string_view text, std::size_t limit, std::size_t& consumed) {
  std::string out;
  out.reserve(std::min(text.size(), limit));
  std::size_t i = 0;
  std::string piece;
  while (i < text.size()) {
    piece.clear();
    std::size_t length = 1;
    const auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0;
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) {
        AppendControl(piece, c);
      } else {
        piece += static_cast<char>(c);
      }
    } else if ((length =
                    ktoolkit::Utf8Sequence(reinterpret_cast<const unsigned char*>(text.data() + i),
                                           text.size() - i, code)) == 0) {
      // Not UTF-8: a stray C1 byte is written out, any other byte kept.
      length = 1;
      if (c <= 0x9F) {
        AppendHex(piece, "\\x", c, 2);
      } else {
        piece += static_cast<char>(c);
      }
    } else if (code <= 0x9F) {
      AppendHex(piece, "\\u", code, 4);
    } else if (IsInvisibleFormat(code)) {
      if (code > 0xFFFF) {
        AppendHex(piece, "\\U", code, 8);
      } else {
        AppendHex(piece, "\\u", code, 4);
      }
    } else {
      piece.append(text.substr(i, length));
    }
    if (out.size() + piece.size() > limit) break;
    out += piece;
    i += length;
  }
  consumed = i;
  return out;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::size_t consumed = 0;
  return Escape(text, std::string::npos, consumed);
}

std::string EchoText(std::string_view text) {
  std::size_t consumed = 0;
  std::string out = Escape(text, kMaxEchoedBytes, consumed);
  if (consumed == text.size()) return out;
  return out + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string QuoteArgument(std::string_view text) {
  std::size_t consumed = 0;
  std::string out = Escape(text, kMaxEchoedBytes, consumed);
  if (consumed == text.size()) return "'" + out + "'";
  return "'" + out + "...' (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace khost
