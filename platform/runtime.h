// What the module takes from the platform it runs on: the load-time entry's
// hook into the operating system's loader, and the runtime library's bounded
// formatting, case-insensitive comparison and integer reading.
//
// Two implementations, one per platform, and nothing else of the module
// knows which one it is built with:
//   - load_entry_windows.cpp and runtime_windows.cpp: DllMain, and the C
//     runtime's vsprintf_s, _stricmp and atoi;
//   - load_entry_linux.cpp and runtime_linux.cpp: an ELF load-time
//     constructor, and the same behaviour built on the C library.
//
// Threads: every function may be called on any thread; none keeps state.
#pragma once

#if defined(__GNUC__)
#define KP_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KP_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace kp {

// Runs the module's load-time work (defined by the entry, called by the
// platform's loader hook) with the loader's reason code: 1 is process
// attach. Returns what the loader is answered; never throws.
int ModuleLoaded(unsigned long reason);

// Formats into `buffer` (`size` bytes, at least 1) as sprintf does. Never
// writes past the buffer: a longer text is cut to size - 1 bytes and ends in
// a NUL. Returns the length of the whole text (as snprintf does), or a
// negative value when the format fails (the buffer then holds "").
// Allocates nothing.
int FormatText(char* buffer, int size, const char* format, ...) KP_PRINTF_FORMAT(3, 4);

// Whole-text comparison ignoring ASCII case only: true when equal.
bool EqualsIgnoringCase(const char* a, const char* b);

// An integer as atoi reads it: leading blanks, an optional sign, the digits
// that follow; 0 when there are none. A value beyond the int range gives the
// nearest int.
int ReadInteger(const char* text);

}  // namespace kp
