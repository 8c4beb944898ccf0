// PNG writing and reading: exact round trips, conversion of other PNG
// kinds to RGBA, and failures that report instead of crashing or clobbering.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ksurface.h"

namespace {

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kpng_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(mDir, ignored);
  }
  std::string Path(const char* name) const { return mDir + "/" + name; }

  static std::vector<unsigned char> Pattern(int w, int h) {
    std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<unsigned char>(i * 37 + i / 7);
    return rgba;
  }

  std::string mDir;
};

TEST_F(PngTest, RoundTripKeepsEveryByteAndTheRowOrder) {
  // Odd sizes and a one-pixel-high image: no padding or flipping slips in.
  for (auto [w, h] : {std::pair{17, 9}, std::pair{1, 1}, std::pair{300, 1}, std::pair{1, 40}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::vector<unsigned char> original = Pattern(w, h);
    std::string error;
    const std::string path = Path("round.png");
    ASSERT_TRUE(KPng_Write(path.c_str(), w, h, original.data(), &error)) << error;
    int rw = 0, rh = 0;
    std::vector<unsigned char> back;
    ASSERT_TRUE(KPng_Read(path.c_str(), rw, rh, back, &error)) << error;
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_EQ(back, original);
  }
  EXPECT_NE(access(Path("round.png.part").c_str(), F_OK), 0) << "no temporary left behind";
}

TEST_F(PngTest, GreyImagesAreReadAsOpaqueRgba) {
  const int w = 3, h = 2;
  const unsigned char grey[w * h] = {0, 50, 100, 150, 200, 255};
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_GRAY;
  const std::string path = Path("grey.png");
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, grey, w, nullptr));
  int rw = 0, rh = 0;
  std::vector<unsigned char> rgba;
  std::string error;
  ASSERT_TRUE(KPng_Read(path.c_str(), rw, rh, rgba, &error)) << error;
  ASSERT_EQ(rgba.size(), static_cast<size_t>(w * h * 4));
  for (int i = 0; i < w * h; ++i) {
    EXPECT_EQ(rgba[i * 4 + 0], grey[i]);
    EXPECT_EQ(rgba[i * 4 + 1], grey[i]);
    EXPECT_EQ(rgba[i * 4 + 2], grey[i]);
    EXPECT_EQ(rgba[i * 4 + 3], 255);
  }
}

TEST_F(PngTest, UnreadableFilesFailWithAMessageAndEmptyResults) {
  const std::vector<unsigned char> original = Pattern(40, 30);
  std::string error;
  const std::string good = Path("good.png");
  ASSERT_TRUE(KPng_Write(good.c_str(), 40, 30, original.data(), &error)) << error;
  std::string bytes(1 << 16, '\0');
  FILE* in = std::fopen(good.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
  std::fclose(in);
  ASSERT_GT(bytes.size(), 100u);

  const std::string truncated = Path("truncated.png");
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const std::string garbage = Path("garbage.png");
  std::ofstream(garbage, std::ios::binary) << "this is not a picture at all";
  const std::string empty = Path("empty.png");
  std::ofstream(empty, std::ios::binary).flush();

  for (const std::string& path : {Path("missing.png"), truncated, garbage, empty, mDir}) {
    SCOPED_TRACE(path);
    int w = 7, h = 7;
    std::vector<unsigned char> rgba(5, 1);
    error.clear();
    EXPECT_FALSE(KPng_Read(path.c_str(), w, h, rgba, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_TRUE(rgba.empty());
  }
  int w = 0, h = 0;
  std::vector<unsigned char> rgba;
  EXPECT_FALSE(KPng_Read(nullptr, w, h, rgba, &error));
  EXPECT_FALSE(KPng_Read("", w, h, rgba, nullptr));
}

TEST_F(PngTest, BadWritesFailWithAMessage) {
  const std::vector<unsigned char> rgba = Pattern(4, 4);
  std::string error;
  EXPECT_FALSE(KPng_Write(Path("no/such/dir.png").c_str(), 4, 4, rgba.data(), &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(KPng_Write(Path("a.png").c_str(), 0, 4, rgba.data(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(KPng_Write(Path("a.png").c_str(), 4, -4, rgba.data(), &error));
  EXPECT_FALSE(KPng_Write(Path("a.png").c_str(), 100000, 100000, rgba.data(), &error));
  EXPECT_FALSE(KPng_Write(Path("a.png").c_str(), 4, 4, nullptr, &error));
  EXPECT_FALSE(KPng_Write(nullptr, 4, 4, rgba.data(), &error));
  EXPECT_FALSE(KPng_Write("", 4, 4, rgba.data(), nullptr));
  EXPECT_NE(access(Path("a.png").c_str(), F_OK), 0);
}

TEST_F(PngTest, AFailedWriteLeavesTheExistingFileIntact) {
  const std::vector<unsigned char> first = Pattern(8, 8);
  // A name so long that no temporary beside it can be made: the second
  // write cannot even start.
  const std::string path = Path((std::string(250, 'k') + ".png").c_str());
  std::string error;
  ASSERT_TRUE(KPng_Write(Path("short.png").c_str(), 8, 8, first.data(), &error)) << error;
  ASSERT_EQ(std::rename(Path("short.png").c_str(), path.c_str()), 0);
  const std::vector<unsigned char> second(16 * 16 * 4, 9);
  EXPECT_FALSE(KPng_Write(path.c_str(), 16, 16, second.data(), &error));
  int w = 0, h = 0;
  std::vector<unsigned char> back;
  ASSERT_TRUE(KPng_Read(path.c_str(), w, h, back, &error)) << error;
  EXPECT_EQ(w, 8);
  EXPECT_EQ(back, first);

  // A file named like a temporary is someone else's: never touched.
  const std::string keep = Path("keep.png");
  std::ofstream(keep + ".part") << "other";
  ASSERT_TRUE(KPng_Write(keep.c_str(), 8, 8, first.data(), &error)) << error;
  std::ifstream other(keep + ".part");
  std::string text;
  other >> text;
  EXPECT_EQ(text, "other");
}

}  // namespace
