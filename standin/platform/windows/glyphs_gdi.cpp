// Glyphs on Windows: fonts chosen by GDI's font mapper, rasterised with
// GetGlyphOutline into 65-level grey bitmaps.
#include <windows.h>

#include <cstring>

#include "standin/platform/glyphs.h"

namespace kplatform {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// The faces asked for, the same family the Linux build finds; where it is
// not installed the font mapper substitutes its closest face.
const wchar_t* FaceName(const GlyphStyle& style) {
  return style.condensed ? L"DejaVu Sans Condensed" : L"DejaVu Sans";
}

HFONT CreateStyleFont(const GlyphStyle& style) {
  // A negative height asks for the em height in pixels, as FreeType's pixel
  // size does.
  return CreateFontW(-style.pixelSize, 0, 0, 0, style.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                     ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, FaceName(style));
}

std::string FaceOf(HDC dc) {
  wchar_t face[LF_FACESIZE] = {};
  const int length = GetTextFaceW(dc, LF_FACESIZE, face);
  if (length <= 0) return std::string();
  char narrow[LF_FACESIZE * 3] = {};
  WideCharToMultiByte(CP_UTF8, 0, face, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

// One glyph as coverage bytes. GGO_GRAY8_BITMAP gives levels 0 to 64 in rows
// padded to four bytes.
bool RenderGlyph(HDC dc, UINT character, std::vector<unsigned char>& scratch, GlyphBitmap& out) {
  static const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  GLYPHMETRICS metrics{};
  const DWORD size =
      GetGlyphOutlineW(dc, character, GGO_GRAY8_BITMAP, &metrics, 0, nullptr, &kIdentity);
  if (size == GDI_ERROR) return false;
  out.advance = metrics.gmCellIncX;
  out.left = metrics.gmptGlyphOrigin.x;
  out.top = metrics.gmptGlyphOrigin.y;
  if (size == 0) return true;  // a blank glyph: advance only
  scratch.assign(size, 0);
  if (GetGlyphOutlineW(dc, character, GGO_GRAY8_BITMAP, &metrics, size, scratch.data(),
                       &kIdentity) == GDI_ERROR) {
    return false;
  }
  const int width = static_cast<int>(metrics.gmBlackBoxX);
  const int height = static_cast<int>(metrics.gmBlackBoxY);
  const size_t pitch = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
  if (pitch * static_cast<size_t>(height) > scratch.size()) return false;
  out.width = width;
  out.height = height;
  out.coverage.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const unsigned level =
          scratch[static_cast<size_t>(row) * pitch + static_cast<size_t>(column)];
      out.coverage[static_cast<size_t>(row) * width + column] =
          static_cast<unsigned char>(level >= 64 ? 255 : (level * 255 + 32) / 64);
    }
  }
  return true;
}

bool RenderStyle(HDC dc, const GlyphStyle& style, const std::vector<uint32_t>& codePoints,
                 StyleGlyphs& out, std::string* error) {
  HFONT font = CreateStyleFont(style);
  if (!font)
    return Fail(error, "GDI cannot create a font of " + std::to_string(style.pixelSize) + " px");
  HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW text{};
  GetTextMetricsW(dc, &text);
  out.ascent = text.tmAscent > 0 ? static_cast<int>(text.tmAscent) : style.pixelSize;
  out.descent = text.tmDescent > 0 ? static_cast<int>(text.tmDescent) : 0;
  out.source = FaceOf(dc);
  out.glyphs.assign(codePoints.size(), GlyphBitmap{});
  std::vector<unsigned char> scratch;
  bool any = false;
  for (size_t slot = 0; slot < codePoints.size(); ++slot) {
    // Every code point asked for is in the Basic Multilingual Plane. One the
    // font lacks is drawn as '?'.
    WORD index = 0;
    const wchar_t character = static_cast<wchar_t>(codePoints[slot]);
    const bool present =
        GetGlyphIndicesW(dc, &character, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR &&
        index != 0xFFFF;
    GlyphBitmap& glyph = out.glyphs[slot];
    if (RenderGlyph(dc, present ? character : L'?', scratch, glyph)) any = true;
  }
  SelectObject(dc, previous);
  DeleteObject(font);
  if (!any) return Fail(error, "GDI rendered no glyph of " + out.source);
  return true;
}

}  // namespace

bool RasterizeGlyphs(const GlyphStyle* styles, int styleCount,
                     const std::vector<uint32_t>& codePoints, StyleGlyphs* out,
                     std::string* error) {
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return Fail(error, "GDI cannot create a device context for the fonts");
  bool ok = true;
  for (int i = 0; i < styleCount && ok; ++i)
    ok = RenderStyle(dc, styles[i], codePoints, out[i], error);
  DeleteDC(dc);
  return ok;
}

}  // namespace kplatform
