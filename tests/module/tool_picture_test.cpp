// The Linux build's picture of the tool window in the fixed state of
// tests/common/tool_picture.h: the reference the Windows build's picture is
// held to (tests/windows/reference). Its shapes (everything but glyphs) and
// its lines of text must stay as recorded there; after a change that moves
// what the window draws on purpose, run this test with KP_WRITE_REFERENCE=1
// to record the new reference.
#include "common/tool_picture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "host/kbaselib.h"
#include "ksurface.h"
#include "standin/kbaselib/registry.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ToolPicture, LinuxPaintIsTheRecordedReference) {
  void* module = dlopen(KP_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  kptest::PictureState state;
  IObject* window = Object_Create("UI/Tools", "ProfilingCenter", nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  kptest::ToolPicture picture;
  std::string error;
  const bool painted = kptest::PaintToolPicture(window, picture, &error);
  window->Destroy(0);
  ASSERT_TRUE(painted) << error;

  ASSERT_TRUE(KPng_Write(KP_OUTPUT_DIR "/tool-picture-linux.png", picture.Width, picture.Height,
                         picture.Full.data(), &error))
      << error;
  const std::string shapesPath = KP_REFERENCE_DIR "/tool-shapes.png";
  const std::string textsPath = KP_REFERENCE_DIR "/tool-texts.txt";
  if (std::getenv("KP_WRITE_REFERENCE")) {
    ASSERT_TRUE(KPng_Write(shapesPath.c_str(), picture.Width, picture.Height, picture.Shapes.data(),
                           &error))
        << error;
    std::ofstream(textsPath, std::ios::binary) << kptest::JoinLines(picture.Texts);
    GTEST_SKIP() << "reference written to " KP_REFERENCE_DIR;
  }

  int width = 0;
  int height = 0;
  std::vector<unsigned char> reference;
  ASSERT_TRUE(KPng_Read(shapesPath.c_str(), width, height, reference, &error)) << error;
  ASSERT_EQ(width, picture.Width);
  ASSERT_EQ(height, picture.Height);
  int x = 0;
  int y = 0;
  EXPECT_EQ(kptest::CountDifferentPixels(picture.Shapes, reference, width, x, y), 0)
      << "first at (" << x << ", " << y << "); the reference is recorded with "
      << "KP_WRITE_REFERENCE=1";
  EXPECT_EQ(kptest::FirstTextDifference(picture.Texts, kptest::SplitLines(ReadText(textsPath)), 0),
            "");
}

}  // namespace
