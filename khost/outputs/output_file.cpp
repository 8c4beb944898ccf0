#include "khost/outputs/output_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "khost/base/standard_output.h"
#include "khost/cli/cli.h"

namespace khost {

namespace {

// Links followed at most, as the kernel does.
constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A short name for a temporary beside the target: the target's own name may
// be as long as the system allows, so the temporary's is not derived from it.
std::string TemporaryName(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const unsigned long long mix = static_cast<unsigned long long>(now) * 0x9E3779B97F4A7C15ull ^
                                 (static_cast<unsigned long long>(::getpid()) << 20) ^
                                 counter.fetch_add(1);
  char name[32];
  std::snprintf(name, sizeof name, ".khost-%010llx", mix & 0xFFFFFFFFFFull);
  return folder + "/" + name;
}

// Whether writes to `fd` may wait on a reader (a pipe, a socket, a device),
// as writes to a regular file never do.
bool MayStall(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode);
}

}  // namespace

int DescriptorNamed(const std::string& path) {
  if (path == kStandardOutputName) return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t length = std::strlen(prefix);
    if (path.compare(0, length, prefix) != 0 || path.size() == length) continue;
    int value = 0;
    if (ParseCount(path.substr(length), 0, INT_MAX, value)) return value;
  }
  return -1;
}

OutputFile::~OutputFile() {
  Abandon();
}

OutputFile::Buffer::Buffer(OutputFile& owner) : mOwner(owner) {
  setp(mData, mData + sizeof mData);
}

bool OutputFile::Buffer::Drain(bool wholeLines) {
  const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
  std::size_t passed = size;
  if (wholeLines) {
    // Up to the last line end; a line longer than the buffer goes as it is.
    const char* end = pptr();
    while (end != pbase() && end[-1] != '\n') --end;
    if (end != pbase()) passed = static_cast<std::size_t>(end - pbase());
  }
  if (passed != 0 && FirstFailure.Ok()) FirstFailure = mOwner.Write(mData, passed);
  std::memmove(mData, mData + passed, size - passed);
  setp(mData, mData + sizeof mData);
  pbump(static_cast<int>(size - passed));
  return FirstFailure.Ok();
}

OutputFile::Buffer::int_type OutputFile::Buffer::overflow(int_type c) {
  if (!Drain(true)) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int OutputFile::Buffer::sync() {
  return Drain(false) ? 0 : -1;
}

std::ostream& OutputFile::Stream() {
  if (!mStream) {
    mBuffer = std::make_unique<Buffer>(*this);
    mStream = std::make_unique<std::ostream>(mBuffer.get());
  }
  return *mStream;
}

Error OutputFile::Fail(const std::string& reason, int code) const {
  std::string message = "cannot write " + QuoteArgument(mPath) + ": " + reason;
  if (code != 0) message += std::string(" (") + std::strerror(code) + ")";
  return Failure(std::move(message));
}

void OutputFile::Abandon() {
  if (mFd >= 0) ::close(mFd);  // an unnamed temporary goes with its descriptor
  mFd = -1;
  if (!mTemporary.empty()) ::unlink(mTemporary.c_str());
  ForgetTemporary();
  mKind = Kind::kNone;
  mPrepared = false;
}

Status OutputFile::Open(const std::string& path) {
  Abandon();
  mStream.reset();
  mBuffer.reset();
  mPath = path;
  mTarget.clear();
  mFailed = false;
  mLoss = {};
  mWaitForReader = false;
  mStandardOutput = false;
  mReaderGone = false;
  mKeepOwner = false;
  mPrepared = false;
  if (path.empty()) return Fail("empty file name", 0);

  if (const int named = DescriptorNamed(path); named >= 0) {
    const int flags = ::fcntl(named, F_GETFL);
    if (flags < 0) return Fail("that descriptor is not open", 0);
    if ((flags & O_ACCMODE) == O_RDONLY) return Fail("that descriptor is read-only", 0);
    mFd = ::fcntl(named, F_DUPFD_CLOEXEC, 3);
    if (mFd < 0) return Fail("cannot use that descriptor", errno);
    mWaitForReader = MayStall(mFd);
    mStandardOutput = named == STDOUT_FILENO;
    mKind = Kind::kStream;
    return {};
  }

  std::string current = path;
  for (int hop = 0;; ++hop) {
    if (hop > kMaxLinkHops) return Fail("too many symbolic links", 0);
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) return Fail("cannot inspect it", errno);
      break;  // nothing there yet: a new file
    }
    if (S_ISLNK(info.st_mode)) {
      char buffer[PATH_MAX];
      const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
      if (length <= 0) return Fail("cannot read the symbolic link", errno);
      std::string link(buffer, static_cast<std::size_t>(length));
      current = link[0] == '/' ? link : FolderOf(current) + "/" + link;
      continue;
    }
    if (S_ISREG(info.st_mode)) break;
    if (S_ISDIR(info.st_mode)) return Fail("it is a folder", 0);
    if (S_ISSOCK(info.st_mode)) return Fail("it is a socket", 0);
    // A FIFO or a device: written in place, never waited on while opening.
    mFd = ::open(current.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (mFd < 0) {
      if (errno == ENXIO && S_ISFIFO(info.st_mode)) {
        return Fail("it is a FIFO that nobody reads", 0);
      }
      return Fail("cannot open it", errno);
    }
    struct stat opened {};
    if (::fstat(mFd, &opened) != 0 || S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode)) {
      Abandon();
      return Fail("it changed while being opened", 0);
    }
    // Writes may wait for a slow reader; only the opening must not.
    const int flags = ::fcntl(mFd, F_GETFL);
    if (flags >= 0) ::fcntl(mFd, F_SETFL, flags & ~O_NONBLOCK);
    mWaitForReader = MayStall(mFd);
    mKind = Kind::kStream;
    return {};
  }

  if (NameOf(current).empty()) return Fail("it names a folder", 0);
  const std::string folder = FolderOf(current);
  struct stat folderInfo {};
  if (::stat(folder.c_str(), &folderInfo) != 0) {
    return Fail("its folder " + QuoteArgument(folder) + " cannot be reached", errno);
  }
  if (!S_ISDIR(folderInfo.st_mode)) {
    return Fail(QuoteArgument(folder) + " is not a folder", 0);
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return Fail("its folder " + QuoteArgument(folder) + " is not writable", errno);
  }
  mTarget = current;
  mKind = Kind::kReplace;
  return {};
}

Status OutputFile::CreateTemporary() {
  const std::string folder = FolderOf(mTarget);
  // Unnamed until Commit: a run that ends early, or a folder removed or made
  // read-only meanwhile, leaves nothing behind.
  mFd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (mFd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a named temporary, listed in the
    // table of named temporaries before it exists, so that a second signal
    // removes it whenever it comes.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = TemporaryName(folder);
      SetTemporary(name);
      mFd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (mFd >= 0) break;
      const int code = errno;
      ForgetTemporary();
      errno = code;
      if (code != EEXIST) break;
    }
  }
  if (mFd < 0) {
    const int code = errno;
    mFailed = true;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      return Fail("its folder " + QuoteArgument(folder) + " is gone", 0);
    }
    return Fail("cannot create a temporary file beside it", code);
  }
  // The new content keeps the old file's permissions and owner; a new file
  // gets the usual ones.
  struct stat info {};
  if (::stat(mTarget.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    // Owner first: a change of owner may clear the set-user and set-group
    // bits, which the mode then puts back.
    const bool owned = ::fchown(mFd, info.st_uid, info.st_gid) == 0;
    const int ownerCode = errno;
    const bool moded = ::fchmod(mFd, info.st_mode & 07777) == 0;
    const int modeCode = errno;
    if (mKeepOwner && (!owned || !moded)) {
      // Not ours to give away: the file would change hands or permissions.
      mFailed = true;
      ::close(mFd);
      mFd = -1;
      if (!mTemporary.empty()) ::unlink(mTemporary.c_str());
      ForgetTemporary();
      return Fail(!owned ? "cannot keep its owner and group" : "cannot keep its permissions",
                  !owned ? ownerCode : modeCode);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(mFd, 0666 & ~mask);
  }
  return {};
}

Status OutputFile::NameTemporary() {
  if (!mTemporary.empty()) return {};
  const std::string folder = FolderOf(mTarget);
  const std::string self = "/proc/self/fd/" + std::to_string(mFd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(folder);
    SetTemporary(name);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        ::linkat(mFd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
      return {};
    }
    const int code = errno;
    ForgetTemporary();
    errno = code;
    if (code != EEXIST) break;
  }
  const int code = errno;
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return Fail("its folder " + QuoteArgument(folder) + " is gone", 0);
  }
  return Fail("cannot move the new content into place", code);
}

Status OutputFile::MoveIntoPlace() {
  if (Status named = NameTemporary(); !named) return named;
  if (::rename(mTemporary.c_str(), mTarget.c_str()) != 0) {
    const int code = errno;
    struct stat info {};
    if (::stat(FolderOf(mTarget).c_str(), &info) != 0) {
      return Fail("its folder " + QuoteArgument(FolderOf(mTarget)) + " is gone", 0);
    }
    return Fail("cannot move the new content into place", code);
  }
  ForgetTemporary();
  return {};
}

void OutputFile::SetTemporary(const std::string& name) {
  ForgetTemporary();
  mTemporary = name;
  mTemporaryEntry = RegisterTemporaryName(name);
}

void OutputFile::ForgetTemporary() {
  ForgetTemporaryName(mTemporaryEntry);
  mTemporaryEntry = -1;
  mTemporary.clear();
}

Status OutputFile::WriteAll(const char* bytes, std::size_t size, std::size_t& written) {
  written = 0;
  while (written < size) {
    std::size_t chunk = size - written;
    if (mWaitForReader) {
      // A reader that takes nothing for a while is given up on. Once the
      // descriptor is ready, a write of at most PIPE_BUF bytes does not wait.
      pollfd ready{mFd, POLLOUT, 0};
      const int polled = ::poll(&ready, 1, kStalledSeconds * 1000);
      if (polled < 0 && errno == EINTR) continue;
      if (polled == 0) {
        return Fail("its reader took nothing for " + std::to_string(kStalledSeconds) + " seconds",
                    0);
      }
      chunk = std::min<std::size_t>(chunk, PIPE_BUF);
    }
    const ssize_t put = ::write(mFd, bytes + written, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EPIPE && mStandardOutput) {
      mReaderGone = true;
      NoteStandardOutputClosed();
    }
    if (put < 0 && errno == EFBIG) {
      return Fail("it reached the file-size limit", EFBIG);
    }
    if (put <= 0) return Fail("writing failed", put < 0 ? errno : EIO);
    written += static_cast<std::size_t>(put);
  }
  return {};
}

Status OutputFile::Write(const void* data, std::size_t size) {
  if (mKind == Kind::kNone) return Fail("it is not open", 0);
  if (mReaderGone) return {};
  if (!mLoss) return mLoss;
  if (mFailed) return Fail("an earlier write failed", 0);
  if (mKind == Kind::kReplace && mFd < 0) {
    if (Status created = CreateTemporary(); !created) return created;
  }
  // A file of ours that a write fails on (the disk full, the file-size
  // limit reached part way) is cut back to the end of the last whole line
  // that reached it, or to what it held before when none did, so that it
  // never ends inside a line.
  const off_t before = mKind == Kind::kStream ? -1 : ::lseek(mFd, 0, SEEK_CUR);
  const char* bytes = static_cast<const char*>(data);
  std::size_t written = 0;
  if (Status all = WriteAll(bytes, size, written); !all) {
    mFailed = true;
    if (mReaderGone) return {};
    if (before >= 0) {
      std::size_t kept = written;
      while (kept > 0 && bytes[kept - 1] != '\n') --kept;
      const off_t end = before + static_cast<off_t>(kept);
      if (::ftruncate(mFd, end) == 0) ::lseek(mFd, end, SEEK_SET);
    }
    return all;
  }
  return {};
}

Status OutputFile::PlaceNow() {
  if (mKind == Kind::kNone) return Fail("it is not open", 0);
  if (mStream) mStream->flush();
  if (mBuffer && !mBuffer->FirstFailure) return mBuffer->FirstFailure;
  if (mReaderGone) return {};
  if (mFailed) return Fail("an earlier write failed", 0);
  if (mKind != Kind::kReplace) return {};
  if (mFd < 0) {
    if (Status created = CreateTemporary(); !created) return created;
  }
  if (Status moved = MoveIntoPlace(); !moved) {
    Abandon();
    return moved;
  }
  // The descriptor still names the file, now at the target.
  mKind = Kind::kPlaced;
  return {};
}

Status OutputFile::Commit() {
  if (!mPrepared) {
    if (Status prepared = Prepare(); !prepared) return prepared;
    if (!mPrepared) return {};  // nothing left to move
  }
  mPrepared = false;
  if (Status moved = MoveIntoPlace(); !moved) {
    Abandon();
    return moved;
  }
  mKind = Kind::kNone;
  return {};
}

Status OutputFile::Prepare() {
  if (mKind == Kind::kNone) return Fail("it is not open", 0);
  if (mPrepared) return {};
  if (mStream) {
    mStream->flush();
    if (!mBuffer->FirstFailure) {
      Abandon();
      return mBuffer->FirstFailure;
    }
  }
  if (mFailed) {
    Abandon();
    if (mReaderGone) return {};
    if (!mLoss) return mLoss;
    return Fail("an earlier write failed", 0);
  }
  // A file whose place was lost since the last check (its folder removed;
  // written in place, the file removed or replaced) is reported as the
  // check would have, however late the loss came.
  if (mKind != Kind::kStream) {
    if (Status lost = WhyLost(); !lost) {
      Abandon();
      return lost;
    }
  }
  if (mKind == Kind::kReplace && mFd < 0) {
    if (Status created = CreateTemporary(); !created) {
      Abandon();
      return created;
    }
  }
  if (mKind == Kind::kReplace) {
    if (Status named = NameTemporary(); !named) {
      Abandon();
      return named;
    }
  }
  const int fd = mFd;
  mFd = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    const int code = errno;
    Abandon();
    return Fail("writing failed", code);
  }
  if (mKind == Kind::kReplace) {
    mPrepared = true;
    return {};
  }
  mKind = Kind::kNone;
  return {};
}

Status OutputFile::WhyLost() const {
  const std::string folder = FolderOf(mTarget);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return Fail("its folder " + QuoteArgument(folder) + " was removed during the run", 0);
    }
    return Fail("its folder " + QuoteArgument(folder) + " can no longer be reached", errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    return Fail("its folder " + QuoteArgument(folder) + " was replaced during the run", 0);
  }
  // A folder removed while it is the current one still answers for ".".
  if (info.st_nlink == 0) {
    return Fail("its folder " + QuoteArgument(folder) + " was removed during the run", 0);
  }
  // The file being written, where it was put: the placed file at the path,
  // a named temporary at its name. An unnamed temporary has no name to lose.
  const std::string& standing = mKind == Kind::kPlaced ? mTarget : mTemporary;
  const char* what = mKind == Kind::kPlaced ? "it" : "its temporary";
  if (mFd >= 0 && !standing.empty()) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(mFd, &opened) != 0) return Fail("it can no longer be written", errno);
    if (::stat(standing.c_str(), &named) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) {
        return Fail(std::string(what) + " was removed or moved away during the run", 0);
      }
      return Fail(std::string(what) + " can no longer be reached", errno);
    }
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
      return Fail(std::string(what) + " was replaced during the run", 0);
    }
  }
  // What is still to be put in place needs a folder that takes files.
  if (mKind == Kind::kReplace && ::access(folder.c_str(), W_OK | X_OK) != 0) {
    return Fail("its folder " + QuoteArgument(folder) + " is no longer writable", errno);
  }
  return {};
}

void OutputFile::CheckPlace() {
  if (mFailed || (mKind != Kind::kReplace && mKind != Kind::kPlaced)) return;
  if (Status lost = WhyLost(); !lost) {
    mFailed = true;
    mLoss = std::move(lost);
  }
}

Status OpenOutputFile(OutputFile& file, const std::string& path, const char* flag) {
  return Prefixed(std::string(flag) + ": ", file.Open(path));
}

}  // namespace khost
