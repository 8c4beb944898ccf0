// Glyph rasterising, the way each platform does it: the graphic context's
// text (ktoolkit's font atlases) is built from what this returns.
//
// Threads: the thread that builds the graphic context; nothing is kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kplatform {

// One font style: a weight, a width and a pixel size (the em height).
struct GlyphStyle {
  bool bold;
  bool condensed;
  int pixelSize;
};

// One glyph as coverage bytes (0 to 255, width × height, top row first),
// placed relative to the pen on the baseline: left and top are the bitmap's
// offsets (top counts upwards), advance the pen's move. A blank glyph (the
// space) has no bitmap but an advance.
struct GlyphBitmap {
  int width = 0;
  int height = 0;
  int left = 0;
  int top = 0;
  int advance = 0;
  std::vector<unsigned char> coverage;
};

// Every glyph of one style, in the order of the code points asked for, and
// the style's line box: ascent pixels above the baseline, descent below.
struct StyleGlyphs {
  std::vector<GlyphBitmap> glyphs;
  int ascent = 0;
  int descent = 0;
  std::string source;  // the font the glyphs came from (a file or a face name)
};

// Rasterises `codePoints` in each of `styleCount` styles into out[0 ..
// styleCount). A code point the font lacks is drawn as '?'. False, with a
// reason in *error, when no usable font is found.
bool RasterizeGlyphs(const GlyphStyle* styles, int styleCount,
                     const std::vector<uint32_t>& codePoints, StyleGlyphs* out, std::string* error);

}  // namespace kplatform
