// Chart row labels: plain copies and std::to_chars, which prints integers
// and fixed-point doubles exactly as printf does in the C locale.
#include "display/row_label.h"

#include <charconv>
#include <cstring>

namespace kp_display {
namespace {

// Appends to a bounded buffer and counts what would have been written.
class LabelWriter {
 public:
  LabelWriter(char* out, int size) : mOut(out), mCapacity(size > 0 ? size - 1 : 0) {}

  void Append(const char* text, int length) {
    if (mLength < mCapacity) {
      const int room = mCapacity - mLength;
      std::memcpy(mOut + mLength, text, static_cast<size_t>(length < room ? length : room));
    }
    mLength += length;
  }
  void Append(const char* text) { Append(text, static_cast<int>(std::strlen(text))); }
  void AppendName(const char* name, int limit) {
    if (!name || limit <= 0) return;
    Append(name, static_cast<int>(strnlen(name, static_cast<size_t>(limit))));
  }
  void AppendInt(int value) {
    char digits[16];
    const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    Append(digits, static_cast<int>(result.ptr - digits));
  }
  // A double with one decimal; the largest finite one takes 309 digits.
  void AppendFixed1(double value) {
    char digits[400];
    const std::to_chars_result result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
    Append(digits, static_cast<int>(result.ptr - digits));
  }
  int Finish() {
    if (mOut) mOut[mLength < mCapacity ? mLength : mCapacity] = '\0';
    return mLength;
  }

 private:
  char* mOut;
  int mCapacity;
  int mLength = 0;
};

}  // namespace

int FormatPercentLabel(char* out, int size, const char* name, int nameLimit, int average,
                       int minimum, int maximum) {
  LabelWriter writer(out, size);
  writer.AppendName(name, nameLimit);
  writer.Append(" (");
  writer.AppendInt(average);
  writer.Append("%) [");
  writer.AppendInt(minimum);
  writer.Append("%,");
  writer.AppendInt(maximum);
  writer.Append("%]");
  return writer.Finish();
}

int FormatMillisecondLabel(char* out, int size, const char* name, int nameLimit,
                           double milliseconds) {
  LabelWriter writer(out, size);
  writer.AppendName(name, nameLimit);
  writer.Append(" (");
  writer.AppendFixed1(milliseconds);
  writer.Append("ms)");
  return writer.Finish();
}

}  // namespace kp_display
