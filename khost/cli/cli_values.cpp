#include "khost/cli/cli_values.h"

#include <climits>

#include "ksurface.h"

namespace khost {

namespace {

// Beyond any int: reading stops growing the magnitude here, so that a
// thousand digits are out of range without overflowing.
constexpr long long kBeyondInt = 1LL << 40;

}  // namespace

ValueRead ReadNumber(std::string_view text, int minimum, int maximum, int& value) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty()) return ValueRead::kMalformed;
  long long magnitude = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return ValueRead::kMalformed;
    if (magnitude < kBeyondInt) magnitude = magnitude * 10 + (c - '0');
  }
  // The sign is there only for a negative number.
  if (negative && magnitude == 0) return ValueRead::kMalformed;
  const long long number = negative ? -magnitude : magnitude;
  if (number < minimum || number > maximum) return ValueRead::kOutOfRange;
  value = static_cast<int>(number);
  return ValueRead::kOk;
}

ValueRead ReadSize(std::string_view text, int minimum, int maximum, int& width, int& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return ValueRead::kMalformed;
  int w = 0;
  int h = 0;
  const ValueRead first = ReadNumber(text.substr(0, x), minimum, maximum, w);
  const ValueRead second = ReadNumber(text.substr(x + 1), minimum, maximum, h);
  if (first == ValueRead::kMalformed || second == ValueRead::kMalformed) {
    return ValueRead::kMalformed;
  }
  if (first == ValueRead::kOutOfRange || second == ValueRead::kOutOfRange) {
    return ValueRead::kOutOfRange;
  }
  width = w;
  height = h;
  return ValueRead::kOk;
}

bool ParseInt(const std::string& text, int minimum, int maximum, int& value) {
  return ReadNumber(text, minimum, maximum, value) == ValueRead::kOk;
}

bool ParseCount(const std::string& text, int minimum, int maximum, int& value) {
  return ReadNumber(text, minimum, maximum, value) == ValueRead::kOk;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  return ReadSize(text, 0, INT_MAX, width, height) == ValueRead::kOk;
}

long long MaxWindowPixels() {
  return static_cast<long long>(kPngMaxRgbaBytes / 4);
}

int MaxWindowSquareSide() {
  return kPngMaxSide;
}

std::string SizeProblem(int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width < 1 || height < 1 || width > kSurfaceMaxSide || height > kSurfaceMaxSide) {
    return "size " + size + " is out of range (from 1 to " + std::to_string(kSurfaceMaxSide) +
           " pixels a side)";
  }
  if (static_cast<long long>(width) * height > MaxWindowPixels()) {
    const std::string side = std::to_string(MaxWindowSquareSide());
    return "size " + size + " has more than " + std::to_string(MaxWindowPixels()) + " pixels (" +
           side + "x" + side + "), the most a PNG capture takes";
  }
  return "";
}

}  // namespace khost
