// Text of the graphic context on real OpenGL: measured boxes, the anchor at
// the line's vertical middle, colour and state handling, styles, clipping,
// UTF-8, the text helpers, and that drawing allocates nothing.
#include <climits>
#include <cstring>

#include "common/allocation_counter.h"
#include "gl_fixture.h"
#include "gl_font.h"

namespace {

class TextTest : public GlFixture {
 protected:
  Frame DrawWhite(const char* text, float x, float y, int style, int clipLeft = INT_MIN,
                  int clipRight = INT_MAX) {
    Clear();
    glColor3ub(255, 255, 255);
    sGraphic->DrawString(text, x, y, clipLeft, clipRight, style);
    return Read();
  }
  static bool SameImage(const Frame& a, const Frame& b) { return a.rgba == b.rgba; }
};

TEST_F(TextTest, StylesHaveTheirLineHeights) {
  int w = 0, hDefault = 0, hRegular = 0, hBold = 0, hTitle = 0, hSmall = 0;
  sGraphic->MeasureString("Ag", -1, w, hDefault);
  sGraphic->MeasureString("Ag", 0, w, hRegular);
  sGraphic->MeasureString("Ag", 1, w, hBold);
  sGraphic->MeasureString("Ag", 2, w, hTitle);
  sGraphic->MeasureString("Ag", 3, w, hSmall);
  // The default style (statistics, chart) is a size above the controls'.
  EXPECT_GT(hDefault, hRegular);
  EXPECT_GE(hRegular, 12);
  EXPECT_LE(hRegular, 18);
  EXPECT_GT(hTitle, hRegular);
  EXPECT_LT(hSmall, hRegular);
  // Unknown styles fall back to the default.
  int hOdd = 0;
  sGraphic->MeasureString("Ag", 42, w, hOdd);
  EXPECT_EQ(hOdd, hDefault);
}

TEST_F(TextTest, MeasureHandlesEmptyAndNullText) {
  int w = -1, h = -1;
  sGraphic->MeasureString("", -1, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_GT(h, 0);
  sGraphic->MeasureString(nullptr, -1, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_GT(h, 0);
  sGraphic->DrawString(nullptr, 10, 10, INT_MIN, INT_MAX, -1);
  sGraphic->DrawString("", 10, 10, INT_MIN, INT_MAX, -1);
  EXPECT_EQ(FindInk(Read()).count, 0);
}

TEST_F(TextTest, InkLiesInsideTheMeasuredBoxCentredOnTheAnchor) {
  const char* text = "Hg Ay|";
  for (int style : {-1, 1, 2, 3}) {
    SCOPED_TRACE(style);
    int w = 0, h = 0;
    sGraphic->MeasureString(text, style, w, h);
    const int x = 20;
    const int y = 60;
    const Ink ink = FindInk(DrawWhite(text, x, y, style));
    ASSERT_GT(ink.count, 0);
    // The box is [x, x + w) × [y - h/2, y + h/2), give or take the pixel of
    // rounding for odd heights.
    EXPECT_GE(ink.x0, x);
    EXPECT_LE(ink.x1, x + w);
    EXPECT_GE(ink.y0, y - (h + 1) / 2);
    EXPECT_LE(ink.y1, y + (h + 1) / 2);
    // Measured width agrees with the drawn extent: the last glyph's ink ends
    // within a couple of pixels of the advance.
    EXPECT_GE(ink.x1, x + w - 3);
    // Anchored at the middle: capitals rise above y and descenders drop
    // below it, the ink's middle close to y.
    EXPECT_LT(ink.y0, y - 2);
    EXPECT_GT(ink.y1, y + 2);
    EXPECT_LE(std::abs((ink.y0 + ink.y1) / 2 - y), 3);
  }
}

TEST_F(TextTest, AnchorMovesTheTextPixelForPixel) {
  const Ink a = FindInk(DrawWhite("Hello", 20, 60, -1));
  const Ink b = FindInk(DrawWhite("Hello", 33, 71, -1));
  EXPECT_EQ(b.x0 - a.x0, 13);
  EXPECT_EQ(b.y0 - a.y0, 11);
  EXPECT_EQ(b.count, a.count);
  // Inside a view the anchor is in the view's pixels.
  Clear();
  glColor3ub(255, 255, 255);
  sGraphic->PushView(13, 11, 200, 150);
  sGraphic->DrawString("Hello", 20, 60, INT_MIN, INT_MAX, -1);
  sGraphic->PopView();
  const Ink c = FindInk(Read());
  EXPECT_EQ(c.x0, b.x0);
  EXPECT_EQ(c.y0, b.y0);
  EXPECT_EQ(c.count, b.count);
}

TEST_F(TextTest, DrawsInTheCurrentColourAndLeavesItAlone) {
  Clear();
  glColor3ub(255, 0, 0);
  sGraphic->DrawString("Hello World", 10, 40, INT_MIN, INT_MAX, 2);
  GLfloat colour[4] = {0, 0, 0, 0};
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_FLOAT_EQ(colour[0], 1.0f);
  EXPECT_FLOAT_EQ(colour[1], 0.0f);
  EXPECT_FLOAT_EQ(colour[2], 0.0f);
  const Frame frame = Read();
  int full = 0;
  long lit = 0;
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const Rgba p = frame.At(x, y);
      if (!frame.Lit(x, y)) continue;
      ++lit;
      EXPECT_EQ(p.g, 0);
      EXPECT_EQ(p.b, 0);
      if (p.r == 255) ++full;
    }
  }
  EXPECT_GT(lit, 50);
  EXPECT_GT(full, 10) << "stems of a 16 px bold face have fully covered pixels";
}

TEST_F(TextTest, RestoresBlendAndTextureStateBothWays) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  for (bool on : {false, true}) {
    SCOPED_TRACE(on);
    Clear();
    if (on) {
      glEnable(GL_BLEND);
      glEnable(GL_TEXTURE_2D);
    }
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glColor3ub(255, 255, 255);
    sGraphic->DrawString("Hello", 10, 40, INT_MIN, INT_MAX, -1);
    EXPECT_EQ(glIsEnabled(GL_BLEND), on ? GL_TRUE : GL_FALSE);
    EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), on ? GL_TRUE : GL_FALSE);
    GLint value = 0;
    glGetIntegerv(GL_BLEND_SRC, &value);
    EXPECT_EQ(value, GL_ONE);
    glGetIntegerv(GL_BLEND_DST, &value);
    EXPECT_EQ(value, GL_ONE);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(static_cast<GLuint>(value), texture);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &value);
    EXPECT_EQ(value, GL_REPLACE);
  }
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glBlendFunc(GL_ONE, GL_ZERO);
  glDeleteTextures(1, &texture);
}

TEST_F(TextTest, TitleIsLargerAndBoldIsHeavier) {
  const char* text = "Frame rate";
  int wDefault = 0, wTitle = 0, h = 0;
  sGraphic->MeasureString(text, -1, wDefault, h);
  sGraphic->MeasureString(text, 2, wTitle, h);
  EXPECT_GT(wTitle, wDefault * 5 / 4);
  const Ink regular = FindInk(DrawWhite(text, 10, 50, 0));
  const Ink bold = FindInk(DrawWhite(text, 10, 50, 1));
  const Ink title = FindInk(DrawWhite(text, 10, 50, 2));
  const Ink small = FindInk(DrawWhite(text, 10, 50, 3));
  EXPECT_GT(title.y1 - title.y0, regular.y1 - regular.y0);
  EXPECT_GT(title.x1 - title.x0, regular.x1 - regular.x0);
  EXPECT_LT(small.x1 - small.x0, regular.x1 - regular.x0);
  // Same size, heavier strokes: clearly more coverage.
  EXPECT_GT(bold.sum, regular.sum * 6 / 5);
  EXPECT_GT(title.sum, bold.sum);
}

TEST_F(TextTest, ClipColumnsCutTheTextExactly) {
  const char* text = "WWWWWWWWWWWW";
  const Frame whole = DrawWhite(text, 20, 50, -1);
  const int clipLeft = 40;
  const int clipRight = 70;
  const Frame clipped = DrawWhite(text, 20, 50, -1, clipLeft, clipRight);
  int litInside = 0;
  for (int y = 0; y < whole.height; ++y) {
    for (int x = 0; x < whole.width; ++x) {
      if (x < clipLeft || x > clipRight) {
        EXPECT_FALSE(clipped.Lit(x, y)) << "(" << x << ", " << y << ") outside the columns";
      } else {
        EXPECT_EQ(clipped.At(x, y), whole.At(x, y)) << "(" << x << ", " << y << ")";
        litInside += clipped.Lit(x, y) ? 1 : 0;
      }
    }
  }
  EXPECT_GT(litInside, 40);
  // Both boundary columns are drawn: the range is inclusive.
  bool leftColumn = false, rightColumn = false;
  for (int y = 0; y < whole.height; ++y) {
    leftColumn |= whole.Lit(clipLeft, y) && clipped.Lit(clipLeft, y);
    rightColumn |= whole.Lit(clipRight, y) && clipped.Lit(clipRight, y);
  }
  EXPECT_TRUE(leftColumn);
  EXPECT_TRUE(rightColumn);
  // An empty or inverted range draws nothing; extreme ranges do not wrap.
  EXPECT_EQ(FindInk(DrawWhite(text, 20, 50, -1, 70, 40)).count, 0);
  EXPECT_EQ(FindInk(DrawWhite(text, 20, 50, -1, INT_MAX, INT_MAX)).count, 0);
  EXPECT_EQ(FindInk(DrawWhite(text, 20, 50, -1, INT_MIN, INT_MIN)).count, 0);
}

TEST_F(TextTest, UnknownCodePointsAndBadBytesDrawAsQuestionMarks) {
  int wQuestion = 0, wEuro = 0, wBad = 0, wE = 0, wEAcute = 0, h = 0;
  sGraphic->MeasureString("?", -1, wQuestion, h);
  sGraphic->MeasureString("\xE2\x82\xAC", -1, wEuro, h);  // U+20AC, outside Latin-1
  sGraphic->MeasureString("\xFF", -1, wBad, h);           // never valid UTF-8
  sGraphic->MeasureString("e", -1, wE, h);
  sGraphic->MeasureString("\xC3\xA9", -1, wEAcute, h);  // U+00E9, in the atlas
  EXPECT_EQ(wEuro, wQuestion);
  EXPECT_EQ(wBad, wQuestion);
  EXPECT_EQ(wEAcute, wE);
  const Frame question = DrawWhite("?", 20, 50, -1);
  EXPECT_TRUE(SameImage(DrawWhite("\xE2\x82\xAC", 20, 50, -1), question));
  EXPECT_TRUE(SameImage(DrawWhite("\xFF", 20, 50, -1), question));
  EXPECT_TRUE(SameImage(DrawWhite("\x01", 20, 50, -1), question));
  const Frame eAcute = DrawWhite("\xC3\xA9", 20, 50, -1);
  EXPECT_FALSE(SameImage(eAcute, question));
  EXPECT_FALSE(SameImage(eAcute, DrawWhite("e", 20, 50, -1)));
  // A sequence cut short by the terminator is one '?' and reads nothing past it.
  int wCut = 0;
  sGraphic->MeasureString("\xE2\x82", -1, wCut, h);
  EXPECT_EQ(wCut, 2 * wQuestion);
}

TEST_F(TextTest, DrawStringAllocatesNothing) {
  char label[64];
  std::strcpy(label, "Evaluation rate: 59.9 \xC3\xA9\xE2\x82\xAC");
  const auto paint = [&] {
    for (int i = 0; i < 1000; ++i) {
      const int style = i % 5 - 1;
      const auto helperStyle = static_cast<kGraphic_Font_Style>(style);
      int w = 0, h = 0;
      sGraphic->MeasureString(label, style, w, h);
      sGraphic->DrawString(label, static_cast<float>(i % 100), 40, 20, 150, style);
      Graphic_GetStringSizeVertex(sGraphic, label, w, h, helperStyle);
      Graphic_DrawStringCenterVertex(sGraphic, label, 20, 40, 0.0, 0.0, 1.0, helperStyle);
      Graphic_DrawStringCenterVertex(sGraphic, label, 20, 40, 0.5, 0.5, 2.0, helperStyle);
      sGraphic->PushView(5, 5, 100, 100);
      sGraphic->SetViewport(0, 0, 100, 100);
      sGraphic->DrawRectangle(0, 0, 3, 3);
      sGraphic->PopView();
    }
    glFinish();
  };
  // The software renderer allocates while it first meets each combination
  // of state (its own caches); only a second identical round shows what the
  // graphic context itself allocates.
  paint();
  kp_test::ArmAllocationCounter();
  paint();
  EXPECT_EQ(kp_test::DisarmAllocationCounter(), 0);
}

TEST_F(TextTest, SizeHelperMatchesMeasureString) {
  char text[] = "Profiling Cost: 1.2 ms";
  for (int style = -1; style < 4; ++style) {
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    sGraphic->MeasureString(text, style, w1, h1);
    Graphic_GetStringSizeVertex(sGraphic, text, w2, h2, static_cast<kGraphic_Font_Style>(style));
    EXPECT_EQ(w2, w1);
    EXPECT_EQ(h2, h1);
  }
  int w = 7, h = 7;
  Graphic_GetStringSizeVertex(nullptr, text, w, h, -1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

TEST_F(TextTest, CenterVertexAlignsByFractionsOfTheMeasuredSize) {
  char text[] = "60.0 fps";
  int w = 0, h = 0;
  sGraphic->MeasureString(text, 2, w, h);
  // (0, 0) is DrawString's own anchor.
  const Frame plain = DrawWhite(text, 40, 40, 2);
  Clear();
  glColor3ub(255, 255, 255);
  Graphic_DrawStringCenterVertex(sGraphic, text, 40, 40, 0.0, 0.0, 1.0, 2);
  EXPECT_TRUE(SameImage(Read(), plain));
  // (1, 0.5): moved left by the width and up by half the height.
  const Frame moved = DrawWhite(text, static_cast<float>(100 - w), 80.0f - h * 0.5f, 2);
  Clear();
  glColor3ub(255, 255, 255);
  Graphic_DrawStringCenterVertex(sGraphic, text, 100, 80, 1.0, 0.5, 1.0, 2);
  EXPECT_TRUE(SameImage(Read(), moved));
  EXPECT_LE(FindInk(moved).x1, 100);
}

TEST_F(TextTest, CenterVertexScalesAroundTheAnchorAndRestoresTheMatrix) {
  char text[] = "HHHH";
  const Ink natural = FindInk(DrawWhite(text, 30, 60, -1));
  Clear();
  glColor3ub(255, 255, 255);
  glMatrixMode(GL_PROJECTION);  // the helper must scale the model-view matrix anyway
  Graphic_DrawStringCenterVertex(sGraphic, text, 30, 60, 0.0, 0.0, 2.0, -1);
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_PROJECTION);
  glMatrixMode(GL_MODELVIEW);
  GLdouble matrix[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, matrix);
  EXPECT_EQ(matrix[0], 1.0);
  EXPECT_EQ(matrix[12], 0.0);
  const Ink doubled = FindInk(Read());
  const int naturalWidth = natural.x1 - natural.x0;
  const int naturalHeight = natural.y1 - natural.y0;
  EXPECT_NEAR(doubled.x1 - doubled.x0, 2 * naturalWidth, 3);
  EXPECT_NEAR(doubled.y1 - doubled.y0, 2 * naturalHeight, 3);
  // The anchor stays put: left ends near x, vertical middles near y.
  EXPECT_NEAR(doubled.x0 - 30, 2 * (natural.x0 - 30), 2);
  EXPECT_NEAR((doubled.y0 + doubled.y1) / 2.0 - 60, 2 * ((natural.y0 + natural.y1) / 2.0 - 60), 3);
  // Nothing drawn for a zero or non-finite scale.
  Clear();
  Graphic_DrawStringCenterVertex(sGraphic, text, 30, 60, 0.0, 0.0, 0.0, -1);
  Graphic_DrawStringCenterVertex(sGraphic, nullptr, 30, 60, 0.0, 0.0, 1.0, -1);
  Graphic_DrawStringCenterVertex(nullptr, text, 30, 60, 0.0, 0.0, 1.0, -1);
  EXPECT_EQ(FindInk(Read()).count, 0);
}

// The decoder on its own: what each malformed form turns into, and where
// it leaves the read position.
TEST(Utf8Decode, DecodesWellFormedSequencesOfEveryLength) {
  const char* p = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(ktoolkit::DecodeUtf8(p), 0x41u);
  EXPECT_EQ(ktoolkit::DecodeUtf8(p), 0xE9u);
  EXPECT_EQ(ktoolkit::DecodeUtf8(p), 0x20ACu);
  EXPECT_EQ(ktoolkit::DecodeUtf8(p), 0x1F600u);
  const char* end = p;
  EXPECT_EQ(ktoolkit::DecodeUtf8(p), 0u);
  EXPECT_EQ(p, end) << "the terminator is not stepped over";
}

TEST(Utf8Decode, MalformedBytesBecomeOneReplacementEach) {
  // A rejected sequence costs one replacement for its first byte; decoding
  // resumes at the next byte, so its continuation bytes are rejected too.
  struct Case {
    const char* bytes;
    int replacements;
    int others;
  };
  const Case cases[] = {
      {"\x80", 1, 0},                  // stray continuation
      {"\xC0\xAF", 2, 0},              // overlong '/' (lead never valid)
      {"\xE0\x80\xAF", 3, 0},          // overlong three-byte form
      {"\xED\xA0\x80", 3, 0},          // surrogate
      {"\xF4\x90\x80\x80", 4, 0},      // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", 5, 0},  // five-byte form
      {"\xE2\x82", 2, 0},              // cut short by the terminator
      {"\xC3"
       "A",
       1, 1},  // cut short by an ASCII byte, which survives
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    const char* p = c.bytes;
    int replacements = 0;
    int others = 0;
    for (uint32_t cp = ktoolkit::DecodeUtf8(p); cp != 0; cp = ktoolkit::DecodeUtf8(p)) {
      (cp == 0xFFFD ? replacements : others) += 1;
    }
    EXPECT_EQ(p, c.bytes + std::strlen(c.bytes));
    EXPECT_EQ(replacements, c.replacements);
    EXPECT_EQ(others, c.others);
  }
}

}  // namespace
