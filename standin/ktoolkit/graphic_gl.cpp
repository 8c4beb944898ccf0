// The graphic context views draw through, on the OpenGL context current when
// it was made: a stack of view rectangles (viewport, scissor, projection),
// rectangles, immediate-mode primitives and text from glyph atlases.
//
// What integer coordinates mean: the projection maps view pixel (px, py) to
// the square from (px, py) to (px + 1, py + 1), shifted by 0.375 of a pixel
// so that rasterisation never has to break a tie:
//   - DrawRectangle(10, 20, 30, 40) fills exactly the pixels x 10..29,
//     y 20..39;
//   - a kPrimitiveLines segment from (0, 5) to (50, 5) covers row 5, pixels
//     x 0..49; one from (7, 10) to (7, 30) covers column 7, rows 10..29;
//   - a point at (3, 4) is pixel (3, 4).
//
// Rectangles and text that lie wholly outside the current view's scissor
// rectangle are not sent to OpenGL at all: a tall, scrolled chart then costs
// what its visible rows cost. The test is conservative (a pixel's margin,
// exact glyph extents), so what is drawn is pixel for pixel what OpenGL would
// have drawn. It judges positions through the model-view matrix read when the
// view was set up (SetViewport, PushView, PopView) or announced since with
// KtGraphic_ModelViewChangedGL.
//
// GL state: the host leaves fixed-function defaults between paints (program
// 0, blending off, GL_TEXTURE_2D off with texture 0 bound, texture
// environment GL_MODULATE). DrawString relies on them, so it asks OpenGL
// nothing, and puts them back after each line of text.
#include "standin/platform/gl_entry.h"

#include <climits>
#include <cmath>

#include "gl_font.h"
#include "host/ktoolkit.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

using ktoolkit::FontAtlas;
using ktoolkit::GlyphInfo;

// A rectangle of window pixels, origin top-left, as [x0, x1) × [y0, y1).
struct PixelRect {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
};

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
  PixelRect r;
  r.x0 = a.x0 > b.x0 ? a.x0 : b.x0;
  r.y0 = a.y0 > b.y0 ? a.y0 : b.y0;
  r.x1 = a.x1 < b.x1 ? a.x1 : b.x1;
  r.y1 = a.y1 < b.y1 ? a.y1 : b.y1;
  if (r.x1 < r.x0) r.x1 = r.x0;
  if (r.y1 < r.y0) r.y1 = r.y0;
  return r;
}

// Sums that saturate instead of overflowing: view positions come from
// layouts and scroll offsets, and a wild value must not wrap around.
int AddClamped(int a, int b) {
  const long long sum = static_cast<long long>(a) + b;
  if (sum > INT_MAX) return INT_MAX;
  if (sum < INT_MIN) return INT_MIN;
  return static_cast<int>(sum);
}

GLenum PrimitiveMode(int kind) {
  switch (kind) {
    case kPrimitiveLineStrip:
      return GL_LINE_STRIP;
    case kPrimitiveLineLoop:
      return GL_LINE_LOOP;
    case kPrimitiveTriangles:
      return GL_TRIANGLES;
    case kPrimitiveQuads:
      return GL_QUADS;
    case kPrimitivePoints:
      return GL_POINTS;
    default:  // kPrimitiveLines, and unknown kinds
      return GL_LINES;
  }
}

class KtGraphicGL final : public IKtGraphic {
 public:
  KtGraphicGL(int width, int height) { Resize(width, height); }

  bool Build(std::string* error) {
    GLint dims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
    if (dims[0] > 0 && dims[1] > 0) {
      mMaxViewportWidth = dims[0];
      mMaxViewportHeight = dims[1];
    }
    if (!mFonts.Build(error)) return false;
    ApplyView(mViews[0]);
    ReadModelview();
    return true;
  }

  void Resize(int width, int height) {
    mDrawableWidth = width < 0 ? 0 : width;
    mDrawableHeight = height < 0 ? 0 : height;
    View& root = mViews[0];
    root.originX = 0;
    root.originY = 0;
    root.width = mDrawableWidth;
    root.height = mDrawableHeight;
    root.scissor = PixelRect{0, 0, mDrawableWidth, mDrawableHeight};
    if (mDepth == 0) ApplyView(root);
  }

  // Host side: see KtGraphic_SetSkipOffViewGL and KtGraphic_ModelViewChangedGL.
  void SetSkipOffView(bool skip) { mSkipOffView = skip; }
  void ReadModelview() {
    GLdouble matrix[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, matrix);
    SetModelview(matrix);
  }

  // IObject
  IObject* IQuery(unsigned long interfaceId, int) override {
    if (interfaceId == kIID_IObject || interfaceId == kIID_IObjectSelf ||
        interfaceId == kIID_IKtGraphic) {
      return this;
    }
    return nullptr;
  }

  void Destroy(int) override {
    mFonts.Release();
    delete this;
  }

  // IKtGraphic
  void SetViewport(int x, int y, int width, int height) override {
    const View& current = mViews[mDepth];
    View view = MakeView(current, x, y, width, height);
    ApplyView(view);
    ReadModelview();
  }

  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    EndOpenPrimitive();
    const float left = x0 < x1 ? x0 : x1;
    const float right = x0 < x1 ? x1 : x0;
    const float top = y0 < y1 ? y0 : y1;
    const float bottom = y0 < y1 ? y1 : y0;
    if (RectangleOffView(left, top, right, bottom)) return;
    glRectf(left, top, right, bottom);
  }

  void BeginPrimitive(int kind) override {
    EndOpenPrimitive();
    glBegin(PrimitiveMode(kind));
    mInPrimitive = true;
  }

  void EndPrimitive() override { EndOpenPrimitive(); }

  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int fontStyle) override;

  void MeasureString(const char* text, int fontStyle, int& width, int& height) override {
    const FontAtlas& font = mFonts.ForStyle(fontStyle);
    height = font.LineHeight();
    long long total = 0;
    if (text) {
      const char* p = text;
      for (uint32_t c = ktoolkit::DecodeUtf8(p); c != 0; c = ktoolkit::DecodeUtf8(p)) {
        total += font.Glyph(c).advance;
      }
    }
    width = total > INT_MAX ? INT_MAX : static_cast<int>(total);
  }

  void PushView(int x, int y, int width, int height) override {
    EndOpenPrimitive();
    const View& parent = mViews[mDepth];
    if (mDepth + 1 >= kMaxDepth) {
      // Deeper than any real view tree: still set the view up, but only
      // count the level, and restore the deepest recorded view on its pop.
      ++mOverflow;
      ApplyView(MakeView(parent, x, y, width, height));
      LoadIdentityModelview();
      SetModelview(kIdentity);
      return;
    }
    View& child = mViews[mDepth + 1];
    child = MakeView(parent, x, y, width, height);
    glGetDoublev(GL_MODELVIEW_MATRIX, child.savedModelview);
    ++mDepth;
    ApplyView(child);
    LoadIdentityModelview();
    SetModelview(kIdentity);
  }

  void PopView() override {
    EndOpenPrimitive();
    if (mOverflow > 0) {
      --mOverflow;
      ApplyView(mViews[mDepth]);
      ReadModelview();
      return;
    }
    if (mDepth == 0) return;  // unbalanced pop: the window stays set up
    const View& leaving = mViews[mDepth];
    --mDepth;
    ApplyView(mViews[mDepth]);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(leaving.savedModelview);
    SetModelview(leaving.savedModelview);
  }

  void GetViewOrigin(int& x, int& y) override {
    x = mViews[mDepth].originX;
    y = mViews[mDepth].originY;
  }

 private:
  static constexpr int kMaxDepth = 128;
  static constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  static constexpr int kMaxInkBounds = 8;

  // How far the glyphs of one atlas reach from the pen position on the
  // baseline, over every glyph that has ink.
  struct InkBounds {
    const FontAtlas* font = nullptr;
    int above = 0;         // pixels above the baseline
    int below = 0;         // pixels below it
    int left = 0;          // leftmost ink relative to the pen (usually <= 0)
    bool forward = false;  // no advance moves the pen to the left
  };

  struct View {
    int originX = 0;  // window pixels
    int originY = 0;
    int width = 0;
    int height = 0;
    PixelRect scissor;  // window pixels, already within every enclosing view
    double savedModelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  };

  ~KtGraphicGL() = default;

  static View MakeView(const View& within, int x, int y, int width, int height) {
    View view;
    view.originX = AddClamped(within.originX, x);
    view.originY = AddClamped(within.originY, y);
    view.width = width < 0 ? 0 : width;
    view.height = height < 0 ? 0 : height;
    const PixelRect own{view.originX, view.originY, AddClamped(view.originX, view.width),
                        AddClamped(view.originY, view.height)};
    view.scissor = Intersect(within.scissor, own);
    return view;
  }

  // Viewport and scissor in GL's bottom-up window coordinates, then the
  // projection that makes GL units the view's pixels.
  void ApplyView(const View& view) {
    const long long flippedY = static_cast<long long>(mDrawableHeight) - view.originY - view.height;
    const PixelRect& s = view.scissor;
    mClip = s;
    mOriginX = view.originX;
    mOriginY = view.originY;
    UpdateOffViewBounds();
    glEnable(GL_SCISSOR_TEST);
    glScissor(s.x0, mDrawableHeight - s.y1, s.x1 - s.x0, s.y1 - s.y0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (ViewportFits(view.originX, flippedY, view.width, view.height)) {
      glViewport(view.originX, static_cast<int>(flippedY), view.width, view.height);
      // An empty view still gets a valid projection; its scissor is empty.
      const double w = view.width > 0 ? view.width : 1;
      const double h = view.height > 0 ? view.height : 1;
      glOrtho(0.0, w, h, 0.0, -1.0, 1.0);
    } else {
      // OpenGL would clamp this viewport (a view larger than the renderer's
      // limit, or far off the window), which would distort the mapping. The
      // same mapping comes from a window-sized viewport with the view's
      // offset in the projection; the scissor does the clipping either way.
      const double w = mDrawableWidth > 0 ? mDrawableWidth : 1;
      const double h = mDrawableHeight > 0 ? mDrawableHeight : 1;
      glViewport(0, 0, static_cast<int>(w), static_cast<int>(h));
      const double ox = view.originX;
      const double oy = view.originY;
      glOrtho(-ox, w - ox, h - oy, -oy, -1.0, 1.0);
    }
    glTranslated(0.375, 0.375, 0.0);
    glMatrixMode(GL_MODELVIEW);
  }

  bool ViewportFits(long long x, long long y, int width, int height) const {
    // Viewport corners stay well inside the bounds every renderer accepts.
    constexpr long long kBound = 16384;
    return width <= mMaxViewportWidth && height <= mMaxViewportHeight && x >= -kBound &&
           y >= -kBound && x + width <= kBound && y + height <= kBound;
  }

  static void LoadIdentityModelview() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  void EndOpenPrimitive() {
    if (mInPrimitive) {
      glEnd();
      mInPrimitive = false;
    }
  }

  void SetModelview(const double (&matrix)[16]) {
    for (int i = 0; i < 16; ++i) mModelview[i] = matrix[i];
    // Positions can be mapped without a divide only when w stays 1.
    mModelviewAffine = matrix[3] == 0.0 && matrix[7] == 0.0 && matrix[15] == 1.0;
    for (double value : matrix) {
      if (!std::isfinite(value)) mModelviewAffine = false;
    }
    UpdateOffViewBounds();
  }

  // With a model-view matrix that only moves x and y (the usual case), a
  // view box is off view when it lies beyond these bounds, given in the
  // view's own coordinates: the scissor rectangle with its pixel's margin,
  // moved back by the view's origin, the translation and the projection's
  // shift. A few comparisons then decide, with no corner mapped.
  void UpdateOffViewBounds() {
    mModelviewMovesOnly = mModelviewAffine && mModelview[0] == 1.0 && mModelview[1] == 0.0 &&
                          mModelview[4] == 0.0 && mModelview[5] == 1.0;
    const double shiftX = mOriginX + mModelview[12] + 0.375;
    const double shiftY = mOriginY + mModelview[13] + 0.375;
    mOffViewX0 = mClip.x0 - 1.0 - shiftX;
    mOffViewX1 = mClip.x1 + 1.0 - shiftX;
    mOffViewY0 = mClip.y0 - 1.0 - shiftY;
    mOffViewY1 = mClip.y1 + 1.0 - shiftY;
  }

  // Window pixel coordinates (top-left origin) of view point (x, y): the
  // model-view matrix, the view's origin and the projection's shift.
  double WindowX(double x, double y) const {
    return mOriginX + mModelview[0] * x + mModelview[4] * y + mModelview[12] + 0.375;
  }
  double WindowY(double x, double y) const {
    return mOriginY + mModelview[1] * x + mModelview[5] * y + mModelview[13] + 0.375;
  }

  // True when the window box [x0, x1] × [y0, y1] misses the scissor
  // rectangle by more than a pixel, so that no rasterisation rule could
  // light a pixel inside it.
  bool BoxOffView(double x0, double y0, double x1, double y1) const {
    return x1 < mClip.x0 - 1.0 || x0 > mClip.x1 + 1.0 || y1 < mClip.y0 - 1.0 || y0 > mClip.y1 + 1.0;
  }

  bool RectangleOffView(double left, double top, double right, double bottom) const {
    if (!mSkipOffView || !mModelviewAffine) return false;
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) ||
        !std::isfinite(bottom)) {
      return false;  // left to OpenGL, as always
    }
    if (mModelviewMovesOnly) {
      return right < mOffViewX0 || left > mOffViewX1 || bottom < mOffViewY0 || top > mOffViewY1;
    }
    const double xs[4] = {WindowX(left, top), WindowX(right, top), WindowX(left, bottom),
                          WindowX(right, bottom)};
    const double ys[4] = {WindowY(left, top), WindowY(right, top), WindowY(left, bottom),
                          WindowY(right, bottom)};
    // Every value is finite here (the corners are checked above, the matrix
    // when it was set), so plain comparisons order them; no library call.
    double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
    for (int i = 1; i < 4; ++i) {
      x0 = xs[i] < x0 ? xs[i] : x0;
      x1 = xs[i] > x1 ? xs[i] : x1;
      y0 = ys[i] < y0 ? ys[i] : y0;
      y1 = ys[i] > y1 ? ys[i] : y1;
    }
    return BoxOffView(x0, y0, x1, y1);
  }

  // The ink bounds of `font`, worked out on first use (no allocation: a
  // fixed table; a font beyond it is simply never skipped).
  const InkBounds* InkBoundsOf(const FontAtlas& font) {
    for (int i = 0; i < mInkBoundsCount; ++i) {
      if (mInkBounds[i].font == &font) return &mInkBounds[i];
    }
    if (mInkBoundsCount == kMaxInkBounds) return nullptr;
    InkBounds& bounds = mInkBounds[mInkBoundsCount++];
    bounds.font = &font;
    bounds.forward = true;
    bool any = false;
    // Every slot: the glyph code points and one that falls back to '?'.
    for (uint32_t c = 0; c <= 256; ++c) {
      const GlyphInfo& g = font.Glyph(c == 256 ? 0xFFFDu : c);
      if (g.advance < 0) bounds.forward = false;
      if (g.width <= 0 || g.height <= 0) continue;
      const int below = g.height - g.top;
      if (!any || g.top > bounds.above) bounds.above = g.top;
      if (!any || below > bounds.below) bounds.below = below;
      if (!any || g.left < bounds.left) bounds.left = g.left;
      any = true;
    }
    return &bounds;
  }

  // True when no glyph of a line drawn with this pen, baseline and clip
  // columns can reach the scissor rectangle. The line's right end is not
  // known without measuring it, so to the right only the clip column bounds
  // it.
  bool TextOffView(const FontAtlas& font, double penX, double baseline, double clipLeft,
                   double clipRightEnd) {
    if (!mSkipOffView || !mModelviewAffine) return false;
    // Rotated or sheared text: a line is not a box that is cheap to bound.
    if (mModelview[1] != 0.0 || mModelview[4] != 0.0) return false;
    const InkBounds* bounds = InkBoundsOf(font);
    if (!bounds) return false;
    const double top = baseline - bounds->above;
    const double bottom = baseline + bounds->below;
    double left = clipLeft;
    if (bounds->forward && penX + bounds->left > left) left = penX + bounds->left;
    const double right = clipRightEnd;
    if (!(left < right)) return true;  // no glyph passes the clip columns
    if (mModelviewMovesOnly) {
      return right < mOffViewX0 || left > mOffViewX1 || bottom < mOffViewY0 || top > mOffViewY1;
    }
    const double wx0 = WindowX(left, top), wx1 = WindowX(right, top);
    const double wy0 = WindowY(left, top), wy1 = WindowY(left, bottom);
    return BoxOffView(std::fmin(wx0, wx1), std::fmin(wy0, wy1), std::fmax(wx0, wx1),
                      std::fmax(wy0, wy1));
  }

  ktoolkit::FontSet mFonts;
  View mViews[kMaxDepth];
  int mDepth = 0;
  int mOverflow = 0;
  int mDrawableWidth = 0;
  int mDrawableHeight = 0;
  int mMaxViewportWidth = 4096;  // the smallest limit OpenGL allows, until asked
  int mMaxViewportHeight = 4096;
  bool mInPrimitive = false;

  // What the off-view test needs, cached when a view is set up.
  bool mSkipOffView = true;
  PixelRect mClip;  // the scissor rectangle in force, window pixels
  int mOriginX = 0;
  int mOriginY = 0;
  double mModelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  bool mModelviewAffine = true;
  bool mModelviewMovesOnly = true;
  double mOffViewX0 = 0.0;  // see UpdateOffViewBounds
  double mOffViewX1 = 0.0;
  double mOffViewY0 = 0.0;
  double mOffViewY1 = 0.0;
  InkBounds mInkBounds[kMaxInkBounds];
  int mInkBoundsCount = 0;
};

void KtGraphicGL::DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                             int fontStyle) {
  if (!text || !*text || !std::isfinite(x) || !std::isfinite(y)) return;
  if (clipRight < clipLeft) return;
  const FontAtlas& font = mFonts.ForStyle(fontStyle);
  if (font.Texture() == 0) return;
  EndOpenPrimitive();

  // The line box is centred on y and snapped to whole pixels, so glyphs land
  // texel for pixel.
  double penX = std::floor(static_cast<double>(x) + 0.5);
  const double top = std::floor(static_cast<double>(y) - font.LineHeight() * 0.5 + 0.5);
  const double baseline = top + font.Ascent();
  // Columns [clipLeft, clipRight] as the half-open span [left, right).
  const double left = clipLeft;
  const double right = static_cast<double>(clipRight) + 1.0;

  if (TextOffView(font, penX, baseline, left, right)) return;

  const double invWidth = 1.0 / font.TextureWidth();
  const double invHeight = 1.0 / font.TextureHeight();
  // No glyph reaches further left of its pen position than this.
  const double reach = 2.0 * font.LineHeight();

  // From the default state (see the top of this file) to text's and back.
  glEnable(GL_BLEND);
  glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, font.Texture());

  glBegin(GL_QUADS);
  const char* p = text;
  for (uint32_t c = ktoolkit::DecodeUtf8(p); c != 0; c = ktoolkit::DecodeUtf8(p)) {
    if (penX - reach >= right) break;  // everything further right is clipped
    const GlyphInfo& g = font.Glyph(c);
    if (g.width > 0 && g.height > 0) {
      const double gx0 = penX + g.left;
      const double gx1 = gx0 + g.width;
      const double cx0 = gx0 > left ? gx0 : left;
      const double cx1 = gx1 < right ? gx1 : right;
      if (cx0 < cx1) {
        const double gy0 = baseline - g.top;
        const double gy1 = gy0 + g.height;
        const double u0 = (g.atlasX + (cx0 - gx0)) * invWidth;
        const double u1 = (g.atlasX + (cx1 - gx0)) * invWidth;
        const double v0 = g.atlasY * invHeight;
        const double v1 = (g.atlasY + g.height) * invHeight;
        glTexCoord2d(u0, v0);
        glVertex2d(cx0, gy0);
        glTexCoord2d(u1, v0);
        glVertex2d(cx1, gy0);
        glTexCoord2d(u1, v1);
        glVertex2d(cx1, gy1);
        glTexCoord2d(u0, v1);
        glVertex2d(cx0, gy1);
      }
    }
    penX += g.advance;
  }
  glEnd();

  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
  glBlendFunc(GL_ONE, GL_ZERO);
  glDisable(GL_BLEND);
}

}  // namespace

IKtGraphic* KtGraphic_CreateGL(int drawableWidth, int drawableHeight, std::string* error) {
  if (!glGetString(GL_VERSION)) {
    if (error) *error = "no OpenGL context is current on this thread";
    return nullptr;
  }
  auto* graphic = new KtGraphicGL(drawableWidth, drawableHeight);
  if (!graphic->Build(error)) {
    graphic->Destroy(0);
    return nullptr;
  }
  return graphic;
}

void KtGraphic_ResizeGL(IKtGraphic* graphic, int drawableWidth, int drawableHeight) {
  if (auto* gl = dynamic_cast<KtGraphicGL*>(graphic)) gl->Resize(drawableWidth, drawableHeight);
}

void KtGraphic_SetSkipOffViewGL(IKtGraphic* graphic, bool skip) {
  if (auto* gl = dynamic_cast<KtGraphicGL*>(graphic)) gl->SetSkipOffView(skip);
}

void KtGraphic_ModelViewChangedGL(IKtGraphic* graphic) {
  if (auto* gl = dynamic_cast<KtGraphicGL*>(graphic)) gl->ReadModelview();
}
