// The headless surface (read-back orientation, resizing, several surfaces at
// once) and, where a display exists, the window.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "ksurface.h"

namespace {

class HeadlessSurfaceTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { sSurface = KSurface_CreateHeadless(64, 48, &sError); }
  static void TearDownTestSuite() { sSurface.reset(); }

 protected:
  void SetUp() override {
    ASSERT_NE(sSurface, nullptr) << sError;
    ASSERT_TRUE(sSurface->MakeCurrent());
  }

  // Clears the whole surface to black, then rows [top, top + rows) of the
  // top-down picture to `red`, through OpenGL's bottom-up scissor.
  static void PaintRows(int top, int rows, unsigned char red) {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, sSurface->Height() - top - rows, sSurface->Width(), rows);
    glClearColor(red / 255.0f, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
  }

  static inline std::unique_ptr<KSurface> sSurface;
  static inline std::string sError;
};

TEST_F(HeadlessSurfaceTest, ReadsTheTopRowFirst) {
  EXPECT_FALSE(sSurface->IsWindow());
  EXPECT_EQ(sSurface->Width(), 64);
  EXPECT_EQ(sSurface->Height(), 48);
  PaintRows(0, 3, 255);
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(sSurface->ReadPixels(rgba));
  ASSERT_EQ(rgba.size(), 64u * 48u * 4u);
  const auto red = [&](int x, int y) { return rgba[(static_cast<size_t>(y) * 64 + x) * 4]; };
  for (int x = 0; x < 64; ++x) {
    EXPECT_EQ(red(x, 0), 255);
    EXPECT_EQ(red(x, 2), 255);
    EXPECT_EQ(red(x, 3), 0);
    EXPECT_EQ(red(x, 47), 0);
  }
  EXPECT_EQ(rgba[3], 255) << "alpha is read back too";
}

TEST_F(HeadlessSurfaceTest, PresentKeepsTheFrameAndThereAreNoEvents) {
  PaintRows(47, 1, 200);
  sSurface->Present();
  sSurface->PollEvents(nullptr);
  EXPECT_FALSE(sSurface->ShouldClose());
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(sSurface->ReadPixels(rgba));
  EXPECT_EQ(rgba[(47u * 64u) * 4u], 200);
  EXPECT_EQ(rgba[(46u * 64u) * 4u], 0);
}

TEST_F(HeadlessSurfaceTest, ResizeReallocatesAndRefusesBadSizes) {
  std::string error;
  ASSERT_TRUE(sSurface->Resize(33, 17, &error)) << error;
  EXPECT_EQ(sSurface->Width(), 33);
  EXPECT_EQ(sSurface->Height(), 17);
  PaintRows(0, 1, 255);
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(sSurface->ReadPixels(rgba));
  ASSERT_EQ(rgba.size(), 33u * 17u * 4u);
  EXPECT_EQ(rgba[32 * 4], 255);  // odd widths: rows are not padded
  EXPECT_EQ(rgba[33 * 4], 0);

  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{20000, 10}}) {
    error.clear();
    EXPECT_FALSE(sSurface->Resize(w, h, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(sSurface->Width(), 33) << "a refused resize keeps the old size";
  }
  ASSERT_TRUE(sSurface->Resize(64, 48, &error)) << error;
}

TEST_F(HeadlessSurfaceTest, SurfacesCoexistAndOutliveEachOther) {
  std::string error;
  auto second = KSurface_CreateHeadless(16, 16, &error);
  ASSERT_NE(second, nullptr) << error;
  ASSERT_TRUE(second->MakeCurrent());
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // Each surface keeps its own pixels.
  ASSERT_TRUE(sSurface->MakeCurrent());
  PaintRows(0, 48, 255);
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(second->ReadPixels(rgba));
  EXPECT_EQ(rgba[0], 0);
  EXPECT_EQ(rgba[1], 255);
  // Ending the second must not take the display away from the first.
  second.reset();
  ASSERT_TRUE(sSurface->MakeCurrent());
  ASSERT_TRUE(sSurface->ReadPixels(rgba));
  EXPECT_EQ(rgba[0], 255);
  PaintRows(0, 1, 99);
  ASSERT_TRUE(sSurface->ReadPixels(rgba));
  EXPECT_EQ(rgba[0], 99);
}

TEST(HeadlessSurfaceCreate, RefusesBadSizesWithAMessage) {
  for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-5, 5}, std::pair{16385, 1}}) {
    std::string error;
    EXPECT_EQ(KSurface_CreateHeadless(w, h, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(KSurface_CreateHeadless(0, 0, nullptr), nullptr);  // no error slot: no crash
}

// Restores an environment variable when it goes out of scope.
class ScopedUnsetEnv {
 public:
  explicit ScopedUnsetEnv(const char* name) : mName(name) {
    if (const char* value = std::getenv(name)) {
      mHad = true;
      mValue = value;
    }
    unsetenv(name);
  }
  ~ScopedUnsetEnv() {
    if (mHad) setenv(mName, mValue.c_str(), 1);
  }

 private:
  const char* mName;
  bool mHad = false;
  std::string mValue;
};

TEST(WindowSurface, WithoutADisplayCreationFailsWithAMessage) {
  ScopedUnsetEnv display("DISPLAY");
  ScopedUnsetEnv wayland("WAYLAND_DISPLAY");
  EXPECT_FALSE(KSurface_DisplayAvailable());
  std::string error;
  EXPECT_EQ(KSurface_CreateWindow(100, 100, "test", &error), nullptr);
  EXPECT_NE(error.find("display"), std::string::npos) << error;
}

class RecordingSink : public KSurfaceSink {
 public:
  void SurfaceInput(int, int, int, int, int) override { ++inputs; }
  void SurfaceResized(int width, int height) override {
    lastWidth = width;
    lastHeight = height;
    ++resizes;
  }
  int inputs = 0;
  int resizes = 0;
  int lastWidth = 0;
  int lastHeight = 0;
};

TEST(WindowSurface, DrawsReadsBackAndReportsResizes) {
  if (!KSurface_DisplayAvailable()) GTEST_SKIP() << "no display";
  std::string error;
  auto window = KSurface_CreateWindow(160, 120, "render test", &error);
  ASSERT_NE(window, nullptr) << error;
  EXPECT_TRUE(window->IsWindow());
  EXPECT_GT(window->Width(), 0);
  EXPECT_GT(window->Height(), 0);
  ASSERT_TRUE(window->MakeCurrent());
  // Immediate mode works: the context is a compatibility one.
  glViewport(0, 0, window->Width(), window->Height());
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, window->Width(), window->Height(), 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3ub(0, 0, 255);
  glRecti(0, 0, 10, 5);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(window->ReadPixels(rgba));
  ASSERT_EQ(rgba.size(), static_cast<size_t>(window->Width()) * window->Height() * 4);
  EXPECT_EQ(rgba[2], 255) << "top-left pixel, read top row first";
  EXPECT_EQ(rgba[(static_cast<size_t>(window->Width()) * 5) * 4 + 2], 0);
  window->Present();

  RecordingSink sink;
  ASSERT_TRUE(window->Resize(200, 150, &error)) << error;
  for (int i = 0; i < 100 && sink.resizes == 0; ++i) {
    window->PollEvents(&sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GT(sink.resizes, 0);
  EXPECT_EQ(sink.lastWidth, window->Width());
  EXPECT_EQ(sink.lastHeight, window->Height());
  EXPECT_FALSE(window->ShouldClose());
}

}  // namespace
