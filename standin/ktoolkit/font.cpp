// Fonts of the OpenGL graphic context: glyphs rasterised by the platform
// (standin/platform/glyphs.h), packed into one alpha texture per style.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gl_font.h"
#include "standin/ktoolkit/utf8.h"
#include "standin/platform/gl_entry.h"
#include "standin/platform/glyphs.h"

namespace ktoolkit {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// Indexed by FontSet::AtlasIndex. The default style (statistics and chart
// text) and the controls' regular style use the condensed face, so that
// numbers and captions fit the fixed columns they are drawn in; the title
// stays a full-width bold face so that it reads apart from everything else.
constexpr kplatform::GlyphStyle kStyles[FontSet::kAtlasCount] = {
    {false, true, 12},  // -1 (and unknown values): default, chart and statistics text
    {false, true, 11},  // 0: regular, the controls' captions and values
    {true, true, 11},   // 1: bold
    {true, false, 16},  // 2: title
    {false, true, 10},  // 3: small
};

uint32_t CodePointOfSlot(int slot) {
  if (slot == kEllipsisSlot) return kEllipsis;
  return slot < 95 ? static_cast<uint32_t>(32 + slot) : static_cast<uint32_t>(160 + slot - 95);
}

// Packs one style's glyphs into an atlas texture of the OpenGL context
// current on this thread.
bool PackStyle(const kplatform::StyleGlyphs& rendered, int pixelSize, FontAtlas& atlas,
               std::string* error) {
  GlyphInfo glyphs[kGlyphCount];
  for (int slot = 0; slot < kGlyphCount; ++slot) {
    const kplatform::GlyphBitmap& bitmap = rendered.glyphs[static_cast<size_t>(slot)];
    GlyphInfo& info = glyphs[slot];
    info.width = bitmap.coverage.empty() ? 0 : bitmap.width;
    info.height = bitmap.coverage.empty() ? 0 : bitmap.height;
    info.left = bitmap.left;
    info.top = bitmap.top;
    info.advance = bitmap.advance;
  }
  const int ascent = rendered.ascent;
  const int descent = rendered.descent;

  // Shelf packing into a 256-pixel-wide texture, a pixel of space around
  // every glyph so that neighbours never bleed into each other.
  constexpr int kWidth = 256;
  int x = 1;
  int y = 1;
  int shelf = 0;
  for (GlyphInfo& info : glyphs) {
    if (info.width == 0 || info.height == 0) continue;
    if (info.width + 2 > kWidth) return Fail(error, "a glyph is wider than the atlas");
    if (x + info.width + 1 > kWidth) {
      x = 1;
      y += shelf + 1;
      shelf = 0;
    }
    info.atlasX = x;
    info.atlasY = y;
    x += info.width + 1;
    shelf = std::max(shelf, info.height);
  }
  const int height = ((y + shelf + 1) + 3) & ~3;

  std::vector<unsigned char> texels(static_cast<size_t>(kWidth) * static_cast<size_t>(height), 0);
  for (int slot = 0; slot < kGlyphCount; ++slot) {
    const kplatform::GlyphBitmap& bitmap = rendered.glyphs[static_cast<size_t>(slot)];
    const GlyphInfo& info = glyphs[slot];
    for (int row = 0; row < info.height; ++row) {
      std::memcpy(texels.data() + static_cast<size_t>(info.atlasY + row) * kWidth + info.atlasX,
                  bitmap.coverage.data() + static_cast<size_t>(row) * info.width,
                  static_cast<size_t>(info.width));
    }
  }

  GLint previousTexture = 0;
  GLint previousAlignment = 4;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Nearest sampling: glyphs are drawn texel for pixel at integer positions.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, kWidth, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
               texels.data());
  const GLenum status = glGetError();
  glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
  if (texture == 0 || status != GL_NO_ERROR) {
    if (texture) glDeleteTextures(1, &texture);
    return Fail(error, "the glyph atlas texture could not be created (OpenGL error " +
                           std::to_string(status) + ")");
  }
  atlas.Assign(glyphs, texture, kWidth, height, ascent, descent, pixelSize);
  return true;
}

}  // namespace

int FontAtlas::Slot(uint32_t codePoint) {
  if (codePoint >= 32 && codePoint <= 126) return static_cast<int>(codePoint - 32);
  if (codePoint >= 160 && codePoint <= 255) return static_cast<int>(codePoint - 160 + 95);
  if (codePoint == kEllipsis) return kEllipsisSlot;
  return '?' - 32;
}

void FontAtlas::Assign(const GlyphInfo (&glyphs)[kGlyphCount], unsigned int texture,
                       int textureWidth, int textureHeight, int ascent, int descent,
                       int pixelSize) {
  for (int i = 0; i < kGlyphCount; ++i) mGlyphs[i] = glyphs[i];
  mTexture = texture;
  mTextureWidth = textureWidth;
  mTextureHeight = textureHeight;
  mAscent = ascent;
  mDescent = descent;
  mPixelSize = pixelSize;
}

FontSet::~FontSet() = default;

int FontSet::AtlasIndex(int style) {
  return style >= 0 && style <= 3 ? style + 1 : 0;
}

const FontAtlas& FontSet::ForStyle(int style) const {
  return mAtlases[AtlasIndex(style)];
}

void FontSet::Release() {
  for (FontAtlas& atlas : mAtlases) {
    if (atlas.mTexture) {
      GLuint texture = atlas.mTexture;
      glDeleteTextures(1, &texture);
      atlas.mTexture = 0;
    }
  }
}

bool FontSet::Build(std::string* error) {
  Release();
  std::vector<uint32_t> codePoints(kGlyphCount);
  for (int slot = 0; slot < kGlyphCount; ++slot) codePoints[slot] = CodePointOfSlot(slot);
  kplatform::GlyphStyle styles[kAtlasCount];
  for (int i = 0; i < kAtlasCount; ++i) styles[i] = kStyles[i];
  kplatform::StyleGlyphs rendered[kAtlasCount];
  if (!kplatform::RasterizeGlyphs(styles, kAtlasCount, codePoints, rendered, error)) return false;
  bool ok = true;
  for (int i = 0; i < kAtlasCount && ok; ++i) {
    ok = PackStyle(rendered[i], kStyles[i].pixelSize, mAtlases[i], error);
    if (!ok && error) *error = rendered[i].source + ": " + *error;
  }
  if (!ok) {
    Release();
    return false;
  }
  mRegularFile = rendered[AtlasIndex(0)].source;
  mBoldFile = rendered[AtlasIndex(1)].source;
  return true;
}

uint32_t DecodeUtf8(const char*& p) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  if (s[0] == 0) return 0;
  if (s[0] < 0x80) {
    ++p;
    return s[0];
  }
  // The sequence stops at the terminator, which continues nothing.
  uint32_t codePoint = 0;
  const std::size_t length = Utf8Sequence(s, 4, codePoint);
  if (length == 0) {
    ++p;  // a stray or cut sequence, or a lead of an ill-formed one
    return 0xFFFD;
  }
  p += length;
  return codePoint;
}

}  // namespace ktoolkit
