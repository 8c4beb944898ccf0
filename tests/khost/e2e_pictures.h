// What the end-to-end tests read in the tool's screenshots: the image, its
// pixels, and where the chart's separators cross the view.
//
// Positions follow from the tool's layout at its start size of 800 x 420:
// the drawing view spans window x 221..781 and y 46..411 (567 x 367); in
// the view, separators run from x 10 rightwards in grey 0.8 (204), where
// the view is otherwise the background grey 128, and the column x 15
// crosses nothing else below the header.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ksurface.h"

namespace khost_e2e {

inline constexpr int kViewLeft = 221;
inline constexpr int kViewTop = 46;
inline constexpr int kViewHeight = 367;
inline constexpr int kChartColumn = kViewLeft + 15;

struct Image {
  int Width = 0;
  int Height = 0;
  std::vector<unsigned char> Rgba;
  const unsigned char* At(int x, int y) const {
    return &Rgba[(static_cast<std::size_t>(y) * Width + x) * 4];
  }
};

inline Image Load(const std::filesystem::path& path) {
  Image image;
  std::string error;
  EXPECT_TRUE(KPng_Read(path.c_str(), image.Width, image.Height, image.Rgba, &error)) << error;
  return image;
}

inline bool IsGrey(const unsigned char* p, int level, int tolerance = 6) {
  return std::abs(p[0] - level) <= tolerance && std::abs(p[1] - level) <= tolerance &&
         std::abs(p[2] - level) <= tolerance;
}

// The view rows (view coordinates) where the chart's separators cross the
// column x 15, below the header (the header strip covers y 0..85).
inline std::vector<int> SeparatorRows(const Image& image) {
  std::vector<int> rows;
  for (int y = 86; y < kViewHeight; ++y) {
    if (IsGrey(image.At(kChartColumn, kViewTop + y), 204, 12)) {
      if (rows.empty() || y > rows.back() + 1) rows.push_back(y);
    }
  }
  return rows;
}

// Separator rows match within one pixel (line rasterisation may round
// either way).
inline void ExpectSeparators(const std::vector<int>& actual, const std::vector<int>& expected,
                             const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what << ": " << ::testing::PrintToString(actual);
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_LE(std::abs(actual[i] - expected[i]), 1)
        << what << ": separator " << i << " at " << actual[i] << ", expected " << expected[i];
  }
}

}  // namespace khost_e2e
