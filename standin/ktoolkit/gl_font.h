// Text for the OpenGL graphic context: the four font styles, each a glyph
// atlas (one alpha texture) of printable ASCII and Latin-1, built once.
#pragma once

#include <cstdint>
#include <string>

namespace ktoolkit {

// Where a glyph sits in its atlas and how it is placed on a line, in pixels.
// left and top are the bitmap's offsets from the pen position on the
// baseline (top counts upwards); advance is the pen's move.
struct GlyphInfo {
  int atlasX = 0;
  int atlasY = 0;
  int width = 0;
  int height = 0;
  int left = 0;
  int top = 0;
  int advance = 0;
};

// Code points with a glyph of their own: 32..126, 160..255 and the
// horizontal ellipsis that ends a text cut to fit. Every other code point
// draws as '?'.
constexpr uint32_t kEllipsis = 0x2026;
constexpr int kEllipsisSlot = (126 - 32 + 1) + (255 - 160 + 1);
constexpr int kGlyphCount = kEllipsisSlot + 1;

class FontAtlas {
 public:
  const GlyphInfo& Glyph(uint32_t codePoint) const { return mGlyphs[Slot(codePoint)]; }
  static int Slot(uint32_t codePoint);

  unsigned int Texture() const { return mTexture; }
  int TextureWidth() const { return mTextureWidth; }
  int TextureHeight() const { return mTextureHeight; }
  // Line box: ascent pixels above the baseline, descent below it.
  int Ascent() const { return mAscent; }
  int Descent() const { return mDescent; }
  int LineHeight() const { return mAscent + mDescent; }
  int PixelSize() const { return mPixelSize; }

  // Takes a built atlas: the glyphs of every slot and the uploaded texture.
  void Assign(const GlyphInfo (&glyphs)[kGlyphCount], unsigned int texture, int textureWidth,
              int textureHeight, int ascent, int descent, int pixelSize);

 private:
  friend class FontSet;
  GlyphInfo mGlyphs[kGlyphCount];
  unsigned int mTexture = 0;
  int mTextureWidth = 0;
  int mTextureHeight = 0;
  int mAscent = 0;
  int mDescent = 0;
  int mPixelSize = 0;
};

// The atlases of the font styles: -1 condensed 12 px, 0 condensed 11 px,
// 1 condensed bold 11 px, 2 bold 16 px, 3 condensed 10 px; other values take
// the -1 one.
class FontSet {
 public:
  static constexpr int kAtlasCount = 5;
  static int AtlasIndex(int style);  // index into the atlases for a style

  FontSet() = default;
  ~FontSet();  // the textures must be released with Release() first
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // Finds the fonts (fontconfig), rasterises them (FreeType) and uploads the
  // atlases as textures of the OpenGL context current on this thread.
  bool Build(std::string* error);
  // Deletes the textures; the context they were made in must be current.
  void Release();

  const FontAtlas& ForStyle(int style) const;
  // The font files the regular and the bold styles were made from.
  const std::string& RegularFile() const { return mRegularFile; }
  const std::string& BoldFile() const { return mBoldFile; }

 private:
  FontAtlas mAtlases[kAtlasCount];
  std::string mRegularFile;
  std::string mBoldFile;
};

// Decodes the UTF-8 code point at *p and moves *p past it. A byte that does
// not start a valid sequence (stray continuation, overlong or surrogate
// encoding, code point above U+10FFFF, sequence cut short) yields U+FFFD and
// moves one byte on. Stops at the terminating zero: *p is not moved there
// and 0 is returned.
uint32_t DecodeUtf8(const char*& p);

}  // namespace ktoolkit
