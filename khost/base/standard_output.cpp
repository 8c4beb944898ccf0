#include "khost/base/standard_output.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

namespace khost {

namespace {

std::atomic<bool> gClosed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Whether fd 1's reader has gone: a pipe or socket whose other end is
// closed reports an error (or a hang-up) when polled for writing.
bool ReaderGone() {
  pollfd ready{STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&ready, 1, 0) == 1 && (ready.revents & (POLLERR | POLLHUP)) != 0;
}

// std::cout's buffer: writes to fd 1 and keeps the first write's failure
// with its reason, which a stream's state alone does not.
class StandardOutputBuffer : public std::streambuf {
 public:
  StandardOutputBuffer() { setp(mData, mData + sizeof mData); }
  int Error() const { return mError; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  // Passes on what is buffered; after a failure, drops it.
  bool Drain() {
    const char* next = pbase();
    while (mError == 0 && next < pptr()) {
      const ssize_t put = ::write(STDOUT_FILENO, next, static_cast<std::size_t>(pptr() - next));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        mError = put < 0 ? errno : EIO;
        if (mError == EPIPE) NoteStandardOutputClosed();
        break;
      }
      next += put;
    }
    setp(mData, mData + sizeof mData);
    return mError == 0;
  }

  char mData[65536];
  int mError = 0;
};

StandardOutputBuffer* gBuffer = nullptr;
std::streambuf* gOriginal = nullptr;

}  // namespace

void NoteStandardOutputClosed() {
  gClosed.store(true);
}

bool StandardOutputClosed() {
  return gClosed.load() || ReaderGone();
}

void InstallStandardOutput() {
  if (gBuffer) return;
  // Never freed: std::cout may be flushed at exit, after main.
  gBuffer = new StandardOutputBuffer();
  gOriginal = std::cout.rdbuf(gBuffer);
}

int FinishStandardOutput(std::ostream& out, int status, std::ostream& err) {
  out.flush();
  const int code = gBuffer && &out == &std::cout ? gBuffer->Error() : 0;
  if (out.good() && code == 0 && !gClosed.load()) return status;
  if (code == EPIPE || StandardOutputClosed()) return status == 0 ? ClosedPipeStatus() : status;
  std::string reason = "writing failed";
  if (code != 0) reason += std::string(" (") + std::strerror(code) + ")";
  err << "khost: cannot write to standard output: " << reason << "\n";
  return status == 0 ? 1 : status;
}

}  // namespace khost
