// Chart row labels are the text snprintf gives for the chart's two formats,
// byte for byte, at every value the chart can pass and cut at any buffer
// size.
#include "display/row_label.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kLabelSize = 200;

std::vector<std::string> Names() {
  return {"", "Evaluation", "Character 12/Skeleton", std::string(250, 'n'),
          // A name whose cut falls inside a multi-byte character.
          std::string(197, 'x') + "\xC3\xA9\xC3\xA9"};
}

TEST(RowLabel, PercentLabelsAreWhatSnprintfWrites) {
  std::mt19937 random(3);
  std::vector<int> values = {0, 1, -1, 9, 10, 99, 100, 12345, INT_MAX, INT_MIN};
  for (int i = 0; i < 200; ++i) values.push_back(static_cast<int>(random()));
  for (const std::string& name : Names()) {
    for (size_t i = 0; i < values.size(); ++i) {
      const int average = values[i];
      const int minimum = values[(i * 7 + 3) % values.size()];
      const int maximum = values[(i * 13 + 5) % values.size()];
      for (int size : {kLabelSize, 1, 5, 12}) {
        char want[kLabelSize];
        char got[kLabelSize];
        std::memset(got, '#', sizeof got);
        const int wantLength =
            std::snprintf(want, static_cast<size_t>(size), "%.*s (%d%%) [%d%%,%d%%]",
                          kLabelSize - 1, name.c_str(), average, minimum, maximum);
        const int gotLength = kp_display::FormatPercentLabel(
            got, size, name.c_str(), kLabelSize - 1, average, minimum, maximum);
        ASSERT_EQ(gotLength, wantLength) << name << " " << average;
        ASSERT_STREQ(got, want) << "size " << size;
      }
    }
  }
}

TEST(RowLabel, MillisecondLabelsAreWhatSnprintfWrites) {
  std::mt19937_64 random(5);
  std::vector<double> values = {0.0,
                                -0.0,
                                0.05,
                                0.15,
                                0.25,
                                0.35,
                                2.45,
                                16.6667,
                                0.04999999999999999,
                                999.95,
                                1e-300,
                                1e15,
                                1e300,
                                -3.25,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::quiet_NaN()};
  // Microsecond averages as the chart divides them: ties at the rounding
  // digit included.
  for (int us = 0; us < 3000; us += 7) values.push_back(us / 1000.0);
  for (int i = 0; i < 300; ++i) {
    values.push_back(std::ldexp(static_cast<double>(random() >> 11), -40));
  }
  for (const std::string& name : Names()) {
    for (double value : values) {
      for (int size : {kLabelSize, 1, 3, 14}) {
        char want[kLabelSize];
        char got[kLabelSize];
        const int wantLength = std::snprintf(want, static_cast<size_t>(size), "%.*s (%.1fms)",
                                             kLabelSize - 1, name.c_str(), value);
        const int gotLength =
            kp_display::FormatMillisecondLabel(got, size, name.c_str(), kLabelSize - 1, value);
        ASSERT_EQ(gotLength, wantLength) << value;
        ASSERT_STREQ(got, want) << value << " size " << size;
      }
    }
  }
}

}  // namespace
