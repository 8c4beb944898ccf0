// Fonts of the OpenGL graphic context: found through fontconfig, rasterised
// with FreeType, packed into one alpha texture per style.
#include <GL/gl.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstring>
#include <vector>

#include "gl_font.h"

namespace ktoolkit {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

struct StyleDefinition {
  bool bold;
  bool condensed;
  int pixelSize;
};

// Indexed by FontSet::AtlasIndex. The default style (statistics and chart
// text) and the controls' regular style use the condensed face, so that
// numbers and captions fit the fixed columns they are drawn in; the title
// stays a full-width bold face so that it reads apart from everything else.
constexpr StyleDefinition kStyles[FontSet::kAtlasCount] = {
    {false, true, 12},  // -1 (and unknown values): default, chart and statistics text
    {false, true, 11},  // 0: regular, the controls' captions and values
    {true, true, 11},   // 1: bold
    {true, false, 16},  // 2: title
    {false, true, 10},  // 3: small
};

struct FontFile {
  std::string path;
  int index = 0;
  bool needsEmbolden = false;  // bold asked, but only a lighter face found
};

bool OpensAsScalable(FT_Library library, const char* path, int index) {
  FT_Face face = nullptr;
  if (FT_New_Face(library, path, index, &face) != 0) return false;
  const bool ok = FT_IS_SCALABLE(face) && FT_Get_Char_Index(face, 'A') != 0;
  FT_Done_Face(face);
  return ok;
}

bool TakeMatch(FT_Library library, FcPattern* match, bool bold, FontFile& out) {
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file) return false;
  int index = 0;
  FcPatternGetInteger(match, FC_INDEX, 0, &index);
  const char* path = reinterpret_cast<const char*>(file);
  if (!OpensAsScalable(library, path, index)) return false;
  int weight = FC_WEIGHT_REGULAR;
  FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
  out.path = path;
  out.index = index;
  out.needsEmbolden = bold && weight < FC_WEIGHT_DEMIBOLD;
  return true;
}

// The best match for a family and weight; fontconfig substitutes its own
// choice of a similar family when the one named is not installed.
bool MatchFamily(FcConfig* config, FT_Library library, const char* family, bool bold,
                 bool condensed, FontFile& out) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_WIDTH, condensed ? FC_WIDTH_CONDENSED : FC_WIDTH_NORMAL);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  const bool ok = TakeMatch(library, match, bold, out);
  FcPatternDestroy(match);
  return ok;
}

// Last resort: any installed font FreeType can scale.
bool AnyScalableFont(FcConfig* config, FT_Library library, bool bold, FontFile& out) {
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_WEIGHT, nullptr);
  FcFontSet* fonts = pattern && objects ? FcFontList(config, pattern, objects) : nullptr;
  bool ok = false;
  for (int i = 0; fonts && i < fonts->nfont && !ok; ++i) {
    ok = TakeMatch(library, fonts->fonts[i], bold, out);
  }
  if (fonts) FcFontSetDestroy(fonts);
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  return ok;
}

// A condensed face where one is installed (fonts-dejavu-extra); fontconfig
// falls back to the normal width of the family otherwise.
bool FindFont(FcConfig* config, FT_Library library, bool bold, bool condensed, FontFile& out) {
  return MatchFamily(config, library, "DejaVu Sans", bold, condensed, out) ||
         MatchFamily(config, library, "sans-serif", bold, condensed, out) ||
         AnyScalableFont(config, library, bold, out);
}

uint32_t CodePointOfSlot(int slot) {
  if (slot == kEllipsisSlot) return kEllipsis;
  return slot < 95 ? static_cast<uint32_t>(32 + slot) : static_cast<uint32_t>(160 + slot - 95);
}

struct Bitmap {
  GlyphInfo info;
  std::vector<unsigned char> pixels;  // width × height coverage bytes
};

// Copies FreeType's rendered bitmap (grey or one-bit) into coverage bytes.
void CopyBitmap(const FT_Bitmap& source, Bitmap& out) {
  const int width = static_cast<int>(source.width);
  const int height = static_cast<int>(source.rows);
  out.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int row = 0; row < height; ++row) {
    const unsigned char* line =
        source.pitch >= 0
            ? source.buffer + static_cast<ptrdiff_t>(row) * source.pitch
            : source.buffer + static_cast<ptrdiff_t>(height - 1 - row) * (-source.pitch);
    unsigned char* target = out.pixels.data() + static_cast<size_t>(row) * width;
    for (int column = 0; column < width; ++column) {
      if (source.pixel_mode == FT_PIXEL_MODE_MONO) {
        target[column] = (line[column >> 3] & (0x80 >> (column & 7))) ? 255 : 0;
      } else {
        target[column] = line[column];
      }
    }
  }
  out.info.width = width;
  out.info.height = height;
}

bool RenderStyle(FT_Face face, const StyleDefinition& style, bool embolden, FontAtlas& atlas,
                 std::vector<Bitmap>& bitmaps, std::string* error) {
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(style.pixelSize)) != 0) {
    return Fail(error,
                "FreeType cannot size the font to " + std::to_string(style.pixelSize) + " px");
  }
  const FT_Size_Metrics& metrics = face->size->metrics;
  int ascent = static_cast<int>((metrics.ascender + 63) >> 6);
  int descent = static_cast<int>((-metrics.descender + 63) >> 6);
  if (ascent <= 0) ascent = style.pixelSize;
  if (descent < 0) descent = 0;

  bitmaps.assign(kGlyphCount, Bitmap{});
  const FT_UInt questionIndex = FT_Get_Char_Index(face, '?');
  for (int slot = 0; slot < kGlyphCount; ++slot) {
    FT_UInt index = FT_Get_Char_Index(face, CodePointOfSlot(slot));
    if (index == 0) index = questionIndex;  // the font lacks it: draw '?'
    Bitmap& bitmap = bitmaps[static_cast<size_t>(slot)];
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) continue;
    FT_GlyphSlot glyph = face->glyph;
    if (embolden) FT_GlyphSlot_Embolden(glyph);
    if (FT_Render_Glyph(glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
    CopyBitmap(glyph->bitmap, bitmap);
    bitmap.info.left = glyph->bitmap_left;
    bitmap.info.top = glyph->bitmap_top;
    bitmap.info.advance = static_cast<int>((glyph->advance.x + 32) >> 6);
  }

  // Shelf packing into a 256-pixel-wide texture, a pixel of space around
  // every glyph so that neighbours never bleed into each other.
  constexpr int kWidth = 256;
  int x = 1;
  int y = 1;
  int shelf = 0;
  for (Bitmap& bitmap : bitmaps) {
    GlyphInfo& info = bitmap.info;
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

  GlyphInfo glyphs[kGlyphCount];
  std::vector<unsigned char> texels(static_cast<size_t>(kWidth) * static_cast<size_t>(height), 0);
  for (int slot = 0; slot < kGlyphCount; ++slot) {
    const Bitmap& bitmap = bitmaps[static_cast<size_t>(slot)];
    const GlyphInfo& info = bitmap.info;
    for (int row = 0; row < info.height; ++row) {
      std::memcpy(texels.data() + static_cast<size_t>(info.atlasY + row) * kWidth + info.atlasX,
                  bitmap.pixels.data() + static_cast<size_t>(row) * info.width,
                  static_cast<size_t>(info.width));
    }
    glyphs[slot] = info;
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
  atlas.Assign(glyphs, texture, kWidth, height, ascent, descent, style.pixelSize);
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
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return Fail(error, "fontconfig could not load its configuration");
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    FcConfigDestroy(config);
    return Fail(error, "FreeType could not start");
  }
  FontFile files[kAtlasCount];
  bool found = true;
  for (int i = 0; i < kAtlasCount && found; ++i) {
    found = FindFont(config, library, kStyles[i].bold, kStyles[i].condensed, files[i]);
  }
  FcConfigDestroy(config);
  if (!found) {
    FT_Done_FreeType(library);
    return Fail(error,
                "no usable font: fontconfig found neither DejaVu Sans nor any other scalable "
                "font (install fonts-dejavu-core)");
  }

  bool ok = true;
  std::vector<Bitmap> bitmaps;
  for (int i = 0; i < kAtlasCount && ok; ++i) {
    const FontFile& file = files[i];
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.path.c_str(), file.index, &face) != 0) {
      ok = Fail(error, "FreeType cannot open " + file.path);
      break;
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    ok = RenderStyle(face, kStyles[i], file.needsEmbolden, mAtlases[i], bitmaps, error);
    if (!ok && error) *error = file.path + ": " + *error;
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  if (!ok) {
    Release();
    return false;
  }
  mRegularFile = files[AtlasIndex(0)].path;
  mBoldFile = files[AtlasIndex(1)].path;
  return true;
}

uint32_t DecodeUtf8(const char*& p) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const unsigned char lead = s[0];
  if (lead == 0) return 0;
  if (lead < 0x80) {
    ++p;
    return lead;
  }
  int length = 0;
  uint32_t codePoint = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++p;  // continuation byte, or a lead that only starts overlong or too-large forms
    return 0xFFFD;
  }
  for (int i = 1; i < length; ++i) {
    // A zero here is not a continuation byte either, so a cut sequence stops
    // before the terminator.
    if ((s[i] & 0xC0) != 0x80) {
      ++p;
      return 0xFFFD;
    }
    codePoint = (codePoint << 6) | (s[i] & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    ++p;
    return 0xFFFD;
  }
  p += length;
  return codePoint;
}

}  // namespace ktoolkit
