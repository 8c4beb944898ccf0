// One headless surface and one graphic context per test suite, and helpers
// to look at the drawn frame.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/ktoolkit.h"
#include "ksurface.h"
#include "standin/ktoolkit/viewhost.h"

struct Rgba {
  unsigned char r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// The frame read back, top row first.
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgba;

  Rgba At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    return Rgba{rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
  }
  bool Lit(int x, int y) const {
    const Rgba p = At(x, y);
    return p.r != 0 || p.g != 0 || p.b != 0;
  }
};

// The bounding box [x0, x1) × [y0, y1) of lit pixels, and their count.
struct Ink {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  long count = 0;
  long sum = 0;  // summed red+green+blue of lit pixels
};

inline Ink FindInk(const Frame& frame) {
  Ink ink;
  ink.x0 = frame.width;
  ink.y0 = frame.height;
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      if (!frame.Lit(x, y)) continue;
      const Rgba p = frame.At(x, y);
      ++ink.count;
      ink.sum += p.r + p.g + p.b;
      if (x < ink.x0) ink.x0 = x;
      if (y < ink.y0) ink.y0 = y;
      if (x + 1 > ink.x1) ink.x1 = x + 1;
      if (y + 1 > ink.y1) ink.y1 = y + 1;
    }
  }
  if (ink.count == 0) ink.x0 = ink.y0 = 0;
  return ink;
}

class GlFixture : public ::testing::Test {
 public:
  static constexpr int kWidth = 256;
  static constexpr int kHeight = 192;

  static void SetUpTestSuite() {
    sError.clear();
    sSurface = KSurface_CreateHeadless(kWidth, kHeight, &sError);
    if (!sSurface) return;
    sGraphic = KtGraphic_CreateGL(kWidth, kHeight, &sError);
  }

  static void TearDownTestSuite() {
    if (sGraphic) {
      sSurface->MakeCurrent();
      sGraphic->Destroy(0);
      sGraphic = nullptr;
    }
    sSurface.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_NE(sSurface, nullptr) << sError;
    ASSERT_NE(sGraphic, nullptr) << sError;
    ASSERT_TRUE(sSurface->MakeCurrent());
    Clear();
  }

  void TearDown() override {
    if (!sSurface) return;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    int x = -1;
    int y = -1;
    sGraphic->GetViewOrigin(x, y);
    EXPECT_EQ(x, 0) << "the test left a view pushed";
    EXPECT_EQ(y, 0);
  }

  // Black frame, the whole window set up, no blending or texturing.
  static void Clear() {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    sGraphic->SetViewport(0, 0, sSurface->Width(), sSurface->Height());
  }

  static Frame Read() {
    Frame frame;
    frame.width = sSurface->Width();
    frame.height = sSurface->Height();
    EXPECT_TRUE(sSurface->ReadPixels(frame.rgba));
    return frame;
  }

  static inline std::unique_ptr<KSurface> sSurface;
  static inline IKtGraphic* sGraphic = nullptr;
  static inline std::string sError;
};
