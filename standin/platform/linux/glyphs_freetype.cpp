// Glyphs on Linux: the fonts found through fontconfig, rasterised with
// FreeType.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <cstddef>

#include "standin/platform/glyphs.h"

namespace kplatform {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

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

// Copies FreeType's rendered bitmap (grey or one-bit) into coverage bytes.
void CopyBitmap(const FT_Bitmap& source, GlyphBitmap& out) {
  const int width = static_cast<int>(source.width);
  const int height = static_cast<int>(source.rows);
  out.coverage.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int row = 0; row < height; ++row) {
    const unsigned char* line =
        source.pitch >= 0
            ? source.buffer + static_cast<ptrdiff_t>(row) * source.pitch
            : source.buffer + static_cast<ptrdiff_t>(height - 1 - row) * (-source.pitch);
    unsigned char* target = out.coverage.data() + static_cast<size_t>(row) * width;
    for (int column = 0; column < width; ++column) {
      if (source.pixel_mode == FT_PIXEL_MODE_MONO) {
        target[column] = (line[column >> 3] & (0x80 >> (column & 7))) ? 255 : 0;
      } else {
        target[column] = line[column];
      }
    }
  }
  out.width = width;
  out.height = height;
}

bool RenderStyle(FT_Face face, const GlyphStyle& style, bool embolden,
                 const std::vector<uint32_t>& codePoints, StyleGlyphs& out, std::string* error) {
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(style.pixelSize)) != 0) {
    return Fail(error,
                "FreeType cannot size the font to " + std::to_string(style.pixelSize) + " px");
  }
  const FT_Size_Metrics& metrics = face->size->metrics;
  int ascent = static_cast<int>((metrics.ascender + 63) >> 6);
  int descent = static_cast<int>((-metrics.descender + 63) >> 6);
  if (ascent <= 0) ascent = style.pixelSize;
  if (descent < 0) descent = 0;
  out.ascent = ascent;
  out.descent = descent;

  out.glyphs.assign(codePoints.size(), GlyphBitmap{});
  const FT_UInt questionIndex = FT_Get_Char_Index(face, '?');
  for (size_t slot = 0; slot < codePoints.size(); ++slot) {
    FT_UInt index = FT_Get_Char_Index(face, codePoints[slot]);
    if (index == 0) index = questionIndex;  // the font lacks it: draw '?'
    GlyphBitmap& bitmap = out.glyphs[slot];
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) continue;
    FT_GlyphSlot glyph = face->glyph;
    if (embolden) FT_GlyphSlot_Embolden(glyph);
    if (FT_Render_Glyph(glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
    CopyBitmap(glyph->bitmap, bitmap);
    bitmap.left = glyph->bitmap_left;
    bitmap.top = glyph->bitmap_top;
    bitmap.advance = static_cast<int>((glyph->advance.x + 32) >> 6);
  }
  return true;
}

}  // namespace

bool RasterizeGlyphs(const GlyphStyle* styles, int styleCount,
                     const std::vector<uint32_t>& codePoints, StyleGlyphs* out,
                     std::string* error) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return Fail(error, "fontconfig could not load its configuration");
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    FcConfigDestroy(config);
    return Fail(error, "FreeType could not start");
  }
  std::vector<FontFile> files(static_cast<size_t>(styleCount));
  bool found = true;
  for (int i = 0; i < styleCount && found; ++i) {
    found = FindFont(config, library, styles[i].bold, styles[i].condensed, files[i]);
  }
  FcConfigDestroy(config);
  if (!found) {
    FT_Done_FreeType(library);
    return Fail(error,
                "no usable font: fontconfig found neither DejaVu Sans nor any other scalable "
                "font (install fonts-dejavu-core)");
  }

  bool ok = true;
  for (int i = 0; i < styleCount && ok; ++i) {
    const FontFile& file = files[static_cast<size_t>(i)];
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.path.c_str(), file.index, &face) != 0) {
      ok = Fail(error, "FreeType cannot open " + file.path);
      break;
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    ok = RenderStyle(face, styles[i], file.needsEmbolden, codePoints, out[i], error);
    if (!ok && error) *error = file.path + ": " + *error;
    out[i].source = file.path;
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return ok;
}

}  // namespace kplatform
