// How khost's messages show text that comes from outside: command-line
// values, file paths, names read from scene files, lines of configuration
// files. Every such text passes through here before it is echoed, so that
// echoing it can neither act on the terminal nor hide or reorder what the
// message says.
//
// What is written out:
//   - C0 controls and DEL: \a \b \t \n \r \e, otherwise \xNN;
//   - C1 controls in UTF-8 (U+0080..U+009F): \u00NN;
//   - stray bytes 0x80..0x9F that are not part of a UTF-8 character (a
//     terminal in an 8-bit mode takes 0x9B as CSI): \xNN;
//   - what draws nothing but changes how the text around it reads, as
//     Unicode classes it (taken from libutf8proc): format characters (the
//     bidirectional embeddings, overrides, isolates and marks, zero-width
//     characters and joiners, the byte order mark, the tags, prefixed
//     number signs), the line and paragraph separators, the default
//     ignorable code points (variation selectors, Hangul fillers) and code
//     points not assigned in the library's Unicode version: \uNNNN
//     (\UNNNNNNNN beyond U+FFFF).
// Everything else is kept: printable UTF-8, and other bytes that are not
// UTF-8 (a Latin-1 file name still reads in a Latin-1 terminal).
//
// Every function: [any thread]; all are pure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace khost {

// How long a text may be, escaped, in a message before it is cut.
inline constexpr std::size_t kMaxEchoedBytes = 200;

// `text` with its controls and invisible format characters written out.
// Not cut.
std::string EscapeControls(std::string_view text);

// `text` escaped (EscapeControls) and, when that is longer than
// kMaxEchoedBytes, cut before the first character that does not fit (never
// inside a character or an escape) and marked: "abc... (N bytes)", N the
// text's own length. A message that echoes it stays short however long, or
// however full of controls, the text is.
std::string EchoText(std::string_view text);

// EchoText in single quotes: 'abc' or 'abc...' (N bytes).
std::string QuoteArgument(std::string_view text);

}  // namespace khost
