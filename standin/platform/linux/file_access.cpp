// Files on Linux: POSIX descriptors, a unique temporary and rename.
#include "standin/platform/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kplatform {

FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content) {
  content.clear();
  // Non-blocking open so that a pipe in the file's place cannot hang us; only
  // regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? FileRead::kMissing : FileRead::kUnreadable;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return FileRead::kUnreadable;
  }
  char buffer[65536];
  // Room for the whole file (up to the limit) and one more read, so the text
  // is never copied while it grows.
  content.reserve(std::min(static_cast<size_t>(std::max<off_t>(info.st_size, 0)), limit) +
                  sizeof buffer + 1);
  bool ok = true;
  while (content.size() <= limit) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (!ok) {
    content.clear();
    return FileRead::kUnreadable;
  }
  return FileRead::kRead;
}

bool ReplaceWholeFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat info {};
  const mode_t mode = (::stat(path.c_str(), &info) == 0) ? (info.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0;
  size_t written = 0;
  while (ok && written < text.size()) {
    const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    written += static_cast<size_t>(put);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace kplatform
