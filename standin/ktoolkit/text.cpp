// The toolkit's text helpers, on top of the graphic context's own text
// operations.
#include <GL/gl.h>

#include <climits>
#include <cmath>

#include "host/ktoolkit.h"

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
