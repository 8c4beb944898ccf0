// Reads a fuzz input as a stream of choices. Past the end every read gives
// zero, so any input, the empty one included, decodes to something.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kp_fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : mData(data), mSize(size) {}

  uint8_t Byte() { return mPos < mSize ? mData[mPos++] : 0; }
  bool Bit() { return (Byte() & 1) != 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  int Below(int bound) { return bound <= 0 ? 0 : static_cast<int>(U32() % unsigned(bound)); }

  // An int, often one of the values where arithmetic goes wrong.
  int Int() {
    static constexpr int kEdges[] = {0,
                                     1,
                                     -1,
                                     2,
                                     15,
                                     100,
                                     255,
                                     -255,
                                     16384,
                                     -16384,
                                     std::numeric_limits<int>::max(),
                                     std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max() - 1,
                                     std::numeric_limits<int>::min() + 1};
    const uint8_t pick = Byte();
    if (pick < 128) return kEdges[pick % (sizeof kEdges / sizeof kEdges[0])];
    return static_cast<int>(U32());
  }

  // A double, often NaN, an infinity, zero of either sign, a huge or a tiny
  // value, or a negative one.
  double Double() {
    static constexpr double kEdges[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        1000.0,
                                        16666.7,
                                        1e300,
                                        -1e300,
                                        1e-300,
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN()};
    const uint8_t pick = Byte();
    if (pick < 160) return kEdges[pick % (sizeof kEdges / sizeof kEdges[0])];
    uint64_t bits = (static_cast<uint64_t>(U32()) << 32) | U32();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  float Float() { return static_cast<float>(Double()); }

 private:
  const uint8_t* mData;
  size_t mSize;
  size_t mPos = 0;
};

// A failed property: says which and aborts, so both drivers stop on it.
inline void Check(bool condition, const char* target, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "%s fuzz: %s\n", target, what);
    std::abort();
  }
}

}  // namespace kp_fuzz
