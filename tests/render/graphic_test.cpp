// The graphic context's geometry on real OpenGL: exact pixels of rectangles
// and lines, the view stack's origins and clipping, SetViewport, resizing.
#include <climits>

#include "gl_fixture.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

// Every pixel of the frame is `inside` within [x0, x1) × [y0, y1) and black
// elsewhere; reports the first few mismatches.
void ExpectOnlyRect(const Frame& frame, int x0, int y0, int x1, int y1, Rgba inside) {
  int mismatches = 0;
  for (int y = 0; y < frame.height && mismatches < 5; ++y) {
    for (int x = 0; x < frame.width && mismatches < 5; ++x) {
      const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
      const Rgba want = in ? inside : Rgba{0, 0, 0, 255};
      const Rgba got = frame.At(x, y);
      if (!(got == want)) {
        ++mismatches;
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << int(got.r) << "," << int(got.g)
                      << "," << int(got.b) << (in ? " inside" : " outside") << " the rectangle";
      }
    }
  }
}

const Rgba kOrange{200, 100, 50, 255};

class GraphicTest : public GlFixture {};

TEST_F(GraphicTest, RectangleFillsExactlyItsPixelsInTheCurrentColour) {
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(10, 20, 30, 40);
  ExpectOnlyRect(Read(), 10, 20, 30, 40, kOrange);
}

TEST_F(GraphicTest, RectangleCornersMayComeInAnyOrder) {
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(30, 40, 10, 20);
  ExpectOnlyRect(Read(), 10, 20, 30, 40, kOrange);
  Clear();
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(30, 20, 10, 40);
  ExpectOnlyRect(Read(), 10, 20, 30, 40, kOrange);
}

TEST_F(GraphicTest, RectanglesAtTheWindowEdgesReachTheLastRowAndColumn) {
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(kWidth - 3, kHeight - 2, kWidth + 50, kHeight + 50);
  ExpectOnlyRect(Read(), kWidth - 3, kHeight - 2, kWidth, kHeight, kOrange);
}

TEST_F(GraphicTest, NestedViewsMoveTheOriginAndPopRestoresTheParent) {
  int x = -1, y = -1;
  sGraphic->PushView(100, 50, 120, 100);
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  sGraphic->PushView(20, 10, 50, 40);
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, 60);
  glColor3ub(200, 100, 50);
  // Reaches past the child on every side: the child's rectangle clips it.
  sGraphic->DrawRectangle(-10, -10, 100, 100);
  sGraphic->PopView();
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  sGraphic->PopView();
  Frame child = Read();
  ExpectOnlyRect(child, 120, 60, 170, 100, kOrange);

  // Back in the parent: its coordinates and its (larger) clip again.
  Clear();
  sGraphic->PushView(100, 50, 120, 100);
  sGraphic->PushView(20, 10, 50, 40);
  sGraphic->PopView();
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(-5, -5, 300, 300);
  sGraphic->PopView();
  ExpectOnlyRect(Read(), 100, 50, 220, 150, kOrange);
}

TEST_F(GraphicTest, ChildPastItsParentsEdgeIsClippedToTheParent) {
  sGraphic->PushView(100, 50, 50, 50);
  sGraphic->PushView(30, 30, 50, 50);  // window [130, 180) × [80, 130)
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(0, 0, 50, 50);
  sGraphic->PopView();
  sGraphic->PopView();
  ExpectOnlyRect(Read(), 130, 80, 150, 100, kOrange);
}

TEST_F(GraphicTest, ChildWhollyOutsideItsParentDrawsNothing) {
  sGraphic->PushView(10, 10, 40, 40);
  sGraphic->PushView(60, 0, 40, 40);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(0, 0, 40, 40);
  sGraphic->PopView();
  sGraphic->PopView();
  EXPECT_EQ(FindInk(Read()).count, 0);
}

TEST_F(GraphicTest, SetViewportIsRelativeToTheCurrentViewAndDoesNotPush) {
  sGraphic->PushView(40, 30, 100, 100);
  sGraphic->SetViewport(10, 5, 20, 20);  // window [50, 70) × [35, 55)
  int x = -1, y = -1;
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 30);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(2, 3, 4, 5);  // pixels of the viewport rectangle
  sGraphic->PopView();
  ExpectOnlyRect(Read(), 52, 38, 54, 40, kOrange);

  Clear();
  sGraphic->PushView(40, 30, 100, 100);
  sGraphic->SetViewport(10, 5, 20, 20);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(-100, -100, 1000, 1000);  // clipped to the rectangle
  // A second SetViewport is again relative to the view, not to the first.
  sGraphic->SetViewport(0, 0, 100, 100);
  sGraphic->DrawRectangle(0, 99, 1, 100);
  sGraphic->PopView();
  const Frame both = Read();
  EXPECT_EQ(both.At(40, 129), kOrange);
  EXPECT_EQ(both.At(50, 35), kOrange);
  EXPECT_EQ(both.At(69, 54), kOrange);
  EXPECT_FALSE(both.Lit(70, 54));
  EXPECT_FALSE(both.Lit(69, 55));
  EXPECT_FALSE(both.Lit(49, 35));
  EXPECT_EQ(FindInk(both).count, 20 * 20 + 1);
}

TEST_F(GraphicTest, SetViewportCannotDrawOutsideTheCurrentView) {
  sGraphic->PushView(40, 30, 100, 100);
  sGraphic->SetViewport(90, 90, 50, 50);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(0, 0, 50, 50);
  sGraphic->PopView();
  ExpectOnlyRect(Read(), 130, 120, 140, 130, kOrange);
}

TEST_F(GraphicTest, LinePairsLandOnTheirRowAndColumn) {
  sGraphic->PushView(20, 10, 200, 150);
  glColor3ub(255, 255, 255);
  sGraphic->BeginPrimitive(kPrimitiveLines);
  glVertex2d(0, 5);
  glVertex2d(50, 5);
  glVertex2d(70, 10);
  glVertex2d(70, 30);
  sGraphic->EndPrimitive();
  sGraphic->PopView();
  const Frame frame = Read();
  for (int x = 20; x < 70; ++x) EXPECT_TRUE(frame.Lit(x, 15)) << "row 15, x " << x;
  EXPECT_FALSE(frame.Lit(70, 15));
  for (int x = 0; x < kWidth; ++x) {
    EXPECT_FALSE(frame.Lit(x, 14)) << "x " << x;
    EXPECT_FALSE(frame.Lit(x, 16)) << "x " << x;
  }
  for (int y = 20; y < 40; ++y) EXPECT_TRUE(frame.Lit(90, y)) << "column 90, y " << y;
  for (int y = 0; y < kHeight; ++y) {
    EXPECT_FALSE(frame.Lit(89, y)) << "y " << y;
    EXPECT_FALSE(frame.Lit(91, y)) << "y " << y;
  }
  EXPECT_EQ(FindInk(frame).count, 50 + 20);
}

TEST_F(GraphicTest, PointsQuadsAndStripsUseTheSamePixelGrid) {
  glColor3ub(255, 255, 255);
  sGraphic->BeginPrimitive(kPrimitivePoints);
  glVertex2d(3, 4);
  sGraphic->EndPrimitive();
  sGraphic->BeginPrimitive(kPrimitiveQuads);
  glVertex2d(10, 20);
  glVertex2d(30, 20);
  glVertex2d(30, 40);
  glVertex2d(10, 40);
  sGraphic->EndPrimitive();
  sGraphic->BeginPrimitive(kPrimitiveLineStrip);
  glVertex2d(100, 100);
  glVertex2d(110, 100);
  glVertex2d(110, 110);
  sGraphic->EndPrimitive();
  const Frame frame = Read();
  EXPECT_TRUE(frame.Lit(3, 4));
  EXPECT_FALSE(frame.Lit(2, 4));
  EXPECT_FALSE(frame.Lit(3, 3));
  EXPECT_TRUE(frame.Lit(10, 20));
  EXPECT_TRUE(frame.Lit(29, 39));
  EXPECT_FALSE(frame.Lit(30, 39));
  EXPECT_FALSE(frame.Lit(29, 40));
  EXPECT_TRUE(frame.Lit(100, 100));
  EXPECT_TRUE(frame.Lit(110, 100));
  EXPECT_TRUE(frame.Lit(110, 109));
  EXPECT_FALSE(frame.Lit(110, 110));  // the strip's last end is not drawn
  EXPECT_EQ(FindInk(frame).count, 1 + 20 * 20 + 10 + 10);
}

TEST_F(GraphicTest, PrimitiveBracketsToleratePairingMistakes) {
  sGraphic->EndPrimitive();      // nothing open
  sGraphic->BeginPrimitive(99);  // unknown kind: lines
  glColor3ub(255, 255, 255);
  glVertex2d(0, 1);
  glVertex2d(10, 1);
  sGraphic->BeginPrimitive(kPrimitiveLines);  // closes the open one first
  sGraphic->EndPrimitive();
  sGraphic->EndPrimitive();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  const Frame frame = Read();
  EXPECT_TRUE(frame.Lit(0, 1));
  EXPECT_TRUE(frame.Lit(9, 1));
  EXPECT_EQ(FindInk(frame).count, 10);
}

TEST_F(GraphicTest, ViewsKeepTheParentsModelViewMatrix) {
  glMatrixMode(GL_MODELVIEW);
  glTranslated(5, 0, 0);
  sGraphic->PushView(50, 50, 50, 50);
  GLdouble inside[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, inside);
  EXPECT_EQ(inside[12], 0.0) << "a view starts without its parent's transform";
  sGraphic->PopView();
  GLdouble after[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, after);
  EXPECT_EQ(after[12], 5.0);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(0, 0, 2, 2);
  ExpectOnlyRect(Read(), 5, 0, 7, 2, kOrange);
}

TEST_F(GraphicTest, UnbalancedPopAndEmptyViewsAreHarmless) {
  sGraphic->PopView();
  int x = -1, y = -1;
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  sGraphic->PushView(10, 10, 0, -5);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(0, 0, 100, 100);
  sGraphic->PopView();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(FindInk(Read()).count, 0);
  sGraphic->DrawRectangle(0, 0, 1, 1);
  ExpectOnlyRect(Read(), 0, 0, 1, 1, kOrange);
}

TEST_F(GraphicTest, ViewsBeyondTheViewportLimitKeepTheirMapping) {
  // A view far taller than any viewport, scrolled up so that its rows
  // 30000.. are on screen.
  sGraphic->PushView(0, -30000, 100, 40000);
  glColor3ub(200, 100, 50);
  sGraphic->DrawRectangle(10, 30010, 20, 30020);
  sGraphic->PopView();
  ExpectOnlyRect(Read(), 10, 10, 20, 20, kOrange);

  Clear();
  sGraphic->PushView(INT_MAX - 10, INT_MIN + 10, 100, 100);  // saturates, no overflow
  sGraphic->DrawRectangle(0, 0, 100, 100);
  sGraphic->PopView();
  EXPECT_EQ(FindInk(Read()).count, 0);
}

TEST_F(GraphicTest, DeepNestingBeyondTheStackStillBalances) {
  for (int i = 0; i < 300; ++i) sGraphic->PushView(0, 0, kWidth, kHeight);
  int x = -1, y = -1;
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 0);
  for (int i = 0; i < 300; ++i) sGraphic->PopView();
  sGraphic->PushView(7, 9, 10, 10);
  sGraphic->GetViewOrigin(x, y);
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 9);
  sGraphic->PopView();
}

TEST_F(GraphicTest, ResizeFlipsRowsForTheNewHeight) {
  std::string error;
  ASSERT_TRUE(sSurface->Resize(120, 80, &error)) << error;
  KtGraphic_ResizeGL(sGraphic, 120, 80);
  Clear();
  glColor3ub(200, 100, 50);
  sGraphic->PushView(10, 5, 50, 50);
  sGraphic->DrawRectangle(0, 0, 4, 3);
  sGraphic->PopView();
  sGraphic->DrawRectangle(118, 78, 200, 200);
  const Frame frame = Read();
  ASSERT_EQ(frame.width, 120);
  ASSERT_EQ(frame.height, 80);
  EXPECT_EQ(frame.At(10, 5), kOrange);
  EXPECT_EQ(frame.At(13, 7), kOrange);
  EXPECT_EQ(frame.At(119, 79), kOrange);
  EXPECT_EQ(FindInk(frame).count, 4 * 3 + 2 * 2);

  ASSERT_TRUE(sSurface->Resize(kWidth, kHeight, &error)) << error;
  KtGraphic_ResizeGL(sGraphic, kWidth, kHeight);
}

TEST_F(GraphicTest, ASecondContextWorksAlongsideTheFirst) {
  // Another graphic context on the same OpenGL context works alongside.
  std::string error;
  IKtGraphic* second = KtGraphic_CreateGL(kWidth, kHeight, &error);
  ASSERT_NE(second, nullptr) << error;
  EXPECT_EQ(second->IQuery(kIID_IKtGraphic, 0), static_cast<IObject*>(second));
  EXPECT_EQ(second->IQuery(kIID_IKtView, 0), nullptr);
  second->Destroy(0);
  KtGraphic_ResizeGL(nullptr, 10, 10);  // ignored
}

// Rectangles and text all around a view's edges, in a plain view, a scrolled
// SetViewport inside it, under an announced model-view translation and
// through the scaled text helper, whose anchors sit just outside the view.
void DrawAroundTheEdges(IKtGraphic* graphic) {
  // Tall capitals and descenders.
  const char* line = "\xc3\x85\xc3\x8e\xc3\x9d\xc3\x87gy|j \xc3\x89 W";
  graphic->PushView(60, 40, 120, 80);
  glColor3ub(200, 100, 50);
  for (float y = -31.0f; y < 112.0f; y += 1.7f) {
    graphic->DrawRectangle(4.0f, y, 9.0f, y + 0.9f);
    graphic->DrawRectangle(-6.3f - y * 0.05f, y, -0.2f + y * 0.01f, y + 1.3f);
    graphic->DrawRectangle(119.4f + y * 0.01f, y, 126.0f, y + 0.6f);
    glColor3ub(255, 255, 255);
    graphic->DrawString(line, 20.0f, y, INT_MIN, INT_MAX, y < 40 ? 2 : -1);
    graphic->DrawString(line, -40.0f + y * 0.5f, y, -5, 200, 3);
    graphic->DrawString(line, 100.0f + y * 0.3f, y, INT_MIN, INT_MAX, 1);
    graphic->DrawString(line, 30.0f, y, 125 + static_cast<int>(y) % 3, INT_MAX, -1);
    glColor3ub(200, 100, 50);
  }
  graphic->SetViewport(10, -15, 60, 50);
  for (float y = -20.0f; y < 60.0f; y += 2.3f) {
    graphic->DrawRectangle(-2.0f, y, 61.5f, y + 0.8f);
    graphic->DrawString(line, 5.0f, y, INT_MIN, INT_MAX, -1);
  }
  graphic->SetViewport(0, 0, 120, 80);
  glMatrixMode(GL_MODELVIEW);
  glTranslated(0.0, -25.0, 0.0);
  KtGraphic_ModelViewChangedGL(graphic);
  glColor3ub(90, 200, 255);
  graphic->DrawRectangle(50.0f, 100.0f, 60.0f, 106.0f);  // lands at y 75 to 81
  graphic->DrawString(line, 60.0f, 110.0f, INT_MIN, INT_MAX, -1);
  glLoadIdentity();
  KtGraphic_ModelViewChangedGL(graphic);
  char helperText[] = "Scaled Ag";
  for (double y : {-12.0, -4.0, 2.0, 78.0, 84.0, 95.0}) {
    Graphic_DrawStringCenterVertex(graphic, helperText, 40.0, y, 0.0, 0.5, 2.0,
                                   kGraphic_Font_Style_Default);
  }
  // Anchored so that the unscaled line would lie above or left of the view.
  Graphic_DrawStringCenterVertex(graphic, helperText, 10.0, 70.0, 0.0, 2.0, 2.0,
                                 kGraphic_Font_Style_Default);
  Graphic_DrawStringCenterVertex(graphic, helperText, 115.0, 20.0, 1.5, 0.0, 3.0,
                                 kGraphic_Font_Style_Default);
  graphic->PopView();
}

TEST_F(GraphicTest, SkippingOffViewDrawingChangesNoPixel) {
  KtGraphic_SetSkipOffViewGL(sGraphic, false);
  DrawAroundTheEdges(sGraphic);
  const Frame everything = Read();
  Clear();
  KtGraphic_SetSkipOffViewGL(sGraphic, true);
  DrawAroundTheEdges(sGraphic);
  const Frame skipped = Read();
  ASSERT_GT(FindInk(skipped).count, 2000);
  int differing = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (!(everything.At(x, y) == skipped.At(x, y)) && ++differing <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") differs";
      }
    }
  }
  EXPECT_EQ(differing, 0);
  // Nothing at all outside the view, skipped or not.
  const Ink ink = FindInk(skipped);
  EXPECT_GE(ink.x0, 60);
  EXPECT_GE(ink.y0, 40);
  EXPECT_LE(ink.x1, 180);
  EXPECT_LE(ink.y1, 120);
}

}  // namespace
