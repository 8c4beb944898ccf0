// The runtime functions on Linux: the C library's, with the runtime's
// behaviour (bounded formatting, ASCII case folding, atoi's reading).
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/runtime.h"

namespace kp {

int FormatText(char* buffer, int size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(buffer, static_cast<size_t>(size), format, arguments);
  va_end(arguments);
  if (length < 0) buffer[0] = '\0';
  return length;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  const auto lower = [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (;; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
    if (*a == '\0') return true;
  }
}

int ReadInteger(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace kp
