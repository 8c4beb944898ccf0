// Files on Windows: wide-character paths, handles opened for sharing, and a
// replacement by MoveFileEx (rename does not replace an existing file there).
#include "standin/platform/file_access.h"

#include <windows.h>

#include <string>

namespace kplatform {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

}  // namespace

FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content) {
  content.clear();
  const std::wstring wide = Widen(path);
  if (wide.empty()) return FileRead::kMissing;
  // Opening a folder without backup semantics fails: it counts as unreadable.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileRead::kMissing
                                                                            : FileRead::kUnreadable;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return FileRead::kUnreadable;
  }
  char buffer[65536];
  bool ok = true;
  while (content.size() <= limit) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    content.append(buffer, got);
  }
  CloseHandle(file);
  if (!ok) {
    content.clear();
    return FileRead::kUnreadable;
  }
  return FileRead::kRead;
}

bool ReplaceWholeFile(const std::string& path, const std::string& text) {
  const std::wstring target = Widen(path);
  if (target.empty()) return false;
  // A name no other writer uses: the process and a counter.
  static volatile LONG counter = 0;
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                 std::to_wstring(InterlockedIncrement(&counter)) + L".tmp";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t written = 0;
  while (ok && written < text.size()) {
    const size_t rest = text.size() - written;
    const DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
    DWORD put = 0;
    ok = ::WriteFile(file, text.data() + written, chunk, &put, nullptr) && put > 0;
    written += put;
  }
  ok = ::FlushFileBuffers(file) && ok;
  ok = CloseHandle(file) && ok;
  if (ok) {
    ok = MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
}

}  // namespace kplatform
