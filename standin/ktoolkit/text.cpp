// The toolkit's text helpers, on top of the graphic context's own text
// operations.
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "host/ktoolkit.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/viewhost.h"

void Graphic_GetStringSizeVertex(IKtGraphic* graphic, char* text, int& width, int& height,
                                 kGraphic_Font_Style style) {
  width = 0;
  height = 0;
  if (!graphic) return;
  graphic->MeasureString(text, style, width, height);
}

void Graphic_DrawStringCenterVertex(IKtGraphic* graphic, char* text, double x, double y,
                                    double alignX, double alignY, double scale,
                                    kGraphic_Font_Style style) {
  if (!graphic || !text || !*text) return;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(alignX) || !std::isfinite(alignY) ||
      !std::isfinite(scale) || scale == 0.0) {
    return;
  }
  int width = 0;
  int height = 0;
  graphic->MeasureString(text, style, width, height);
  // Offsets from the anchor in the text's own (unscaled) pixels.
  const double dx = -alignX * width;
  const double dy = -alignY * height;
  if (scale == 1.0) {
    graphic->DrawString(text, static_cast<float>(x + dx), static_cast<float>(y + dy), INT_MIN,
                        INT_MAX, style);
    return;
  }
  // Magnify around the anchor; the model-view matrix is the one views draw
  // with, whatever matrix mode the caller left current.
  GLint matrixMode = GL_MODELVIEW;
  glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glTranslated(x, y, 0.0);
  glScaled(scale, scale, 1.0);
  KtGraphic_ModelViewChangedGL(graphic);
  graphic->DrawString(text, static_cast<float>(dx), static_cast<float>(dy), INT_MIN, INT_MAX,
                      style);
  glPopMatrix();
  KtGraphic_ModelViewChangedGL(graphic);
  glMatrixMode(static_cast<GLenum>(matrixMode));
}

bool Graphic_DrawStringFitted(IKtGraphic* graphic, const char* text, float x, float y, int right,
                              int style) {
  if (!graphic || !text || !*text) return false;
  const int room = right - static_cast<int>(std::floor(x + 0.5f));
  int width = 0;
  int height = 0;
  graphic->MeasureString(text, style, width, height);
  if (width <= room) {
    graphic->DrawString(text, x, y, INT_MIN, INT_MAX, style);
    return false;
  }
  // The longest beginning (cut at a character boundary, trailing spaces
  // dropped) that fits together with the ellipsis.
  static constexpr char kEllipsis[] = "\xE2\x80\xA6";
  constexpr size_t kEllipsisBytes = sizeof(kEllipsis) - 1;
  char line[256];
  size_t length = std::min(std::strlen(text), sizeof(line) - kEllipsisBytes - 1);
  while (length > 0) {
    --length;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    size_t kept = length;
    while (kept > 0 && text[kept - 1] == ' ') --kept;
    if (kept == 0) break;
    std::memcpy(line, text, kept);
    std::memcpy(line + kept, kEllipsis, kEllipsisBytes + 1);
    graphic->MeasureString(line, style, width, height);
    if (width <= room) {
      graphic->DrawString(line, x, y, INT_MIN, INT_MAX, style);
      return true;
    }
  }
  graphic->MeasureString(kEllipsis, style, width, height);
  if (width <= room) graphic->DrawString(kEllipsis, x, y, INT_MIN, INT_MAX, style);
  return true;
}
