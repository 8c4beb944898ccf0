// The runtime functions on Windows: formatting, comparison and integer
// reading are the C runtime's own.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/runtime.h"

namespace kp {

// vsprintf_s ends the process through the runtime's invalid-parameter handler
// when the text does not fit, so the text's length is asked first
// (_vscprintf) and a text too long for the buffer is cut with _vsnprintf
// instead, as the Linux build's vsnprintf cuts it.
int FormatText(char* buffer, int size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = _vscprintf(format, measuring);
  va_end(measuring);
  if (length < 0) {
    buffer[0] = '\0';
  } else if (length < size) {
    vsprintf_s(buffer, static_cast<size_t>(size), format, arguments);
  } else {
    _vsnprintf(buffer, static_cast<size_t>(size - 1), format, arguments);
    buffer[size - 1] = '\0';
  }
  va_end(arguments);
  return length;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  return _stricmp(a, b) == 0;
}

int ReadInteger(const char* text) {
  return atoi(text);
}

}  // namespace kp
