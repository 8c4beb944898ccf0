// A file khost writes (a screenshot, statistics, any later output), chosen
// by the user on the command line.
//
// Nothing at the path is ever replaced by something of another kind:
//   - a regular file, a path where nothing is yet, or a symbolic link to
//     either, is replaced atomically: the content goes to a temporary in the
//     target's folder (unnamed where the file system allows, so that nothing
//     is left behind whatever happens to the folder), which is moved over the
//     target when Commit succeeds and dropped otherwise; a link stays a link
//     and its target gets the content;
//   - anything else that opens for writing without blocking (a FIFO with a
//     reader, a terminal, /dev/null, /dev/stdout and the other /dev/fd
//     names) is written in place as a stream; a stream whose reader takes
//     nothing for kStalledSeconds fails;
//   - what cannot (a FIFO with no reader, a folder, a socket) is refused by
//     Open.
// Nothing blocks on opening. Open early (before the run) so that a bad path
// is refused before any work is done.
//
// Text written through Stream() reaches the file in whole lines (but for a
// line longer than the buffer), and a file being placed or replaced that a
// write fails on is cut back to the last whole line that reached it, so an
// output that a kill, a full disk or the file-size limit interrupts ends at
// its last whole line.
//
// Standard output (/dev/stdout, "-") whose reader has gone (`| head -1`) is
// not a failure of the output: what is written from then on is dropped, the
// output counts as failed for the run's loop (Failed(), so a recording ends
// the run) but its writes and Commit succeed, and the run ends quietly with
// the closed pipe's status (standard_output.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "khost/base/status.h"
#include "khost/outputs/temporary_names.h"

namespace khost {

// The descriptor a name stands for when it names one of this process's open
// files (/dev/stdout, /dev/stderr, /dev/fd/3, /proc/self/fd/3); -1
// otherwise. Such a name is written through that descriptor, at its
// position, instead of being opened anew (which would restart at the start
// of a redirected file). [any thread]
int DescriptorNamed(const std::string& path);

// [loop thread] An OutputFile is used by one thread; what Stream() returns
// is owned by the file and lives until the next Open.
class OutputFile {
 public:
  // How long a stream's reader may take nothing before the output fails.
  static constexpr int kStalledSeconds = 5;

  OutputFile() = default;
  ~OutputFile();  // an uncommitted temporary is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks `path` and, for a stream, opens it. A failure's message names
  // the path and the reason it cannot be written.
  Status Open(const std::string& path);
  bool IsOpen() const { return mKind != Kind::kNone; }
  // A write failed: the output cannot be finished (Commit reports why).
  bool Failed() const { return mFailed; }
  const std::string& Path() const { return mPath; }
  // The file that gets the content, links followed (a replaced or placed
  // file; empty for a stream).
  const std::string& Target() const { return mTarget; }
  // A replaced file must keep its owner, group and permissions: a write
  // fails when they cannot be given to the new content (by default a file
  // that is not ours becomes ours, as any rewrite by us would). Call before
  // the first Write.
  void KeepOwnerStrictly() { mKeepOwner = true; }

  // Appends bytes; may be called any number of times before Commit.
  Status Write(const void* data, std::size_t size);
  Status Write(const std::string& text) { return Write(text.data(), text.size()); }
  // The output as a stream, for writers that take one: what goes in is
  // buffered and passed to Write (a flush passes it on at once). A failed
  // write sets the stream's badbit; Commit reports it.
  std::ostream& Stream();

  // For outputs that grow while the run goes (a recording): a replaced file
  // takes what was written so far in one step now, and later writes append
  // to it in place, so a run that is killed keeps what it wrote at the path.
  // A stream is unchanged.
  Status PlaceNow();

  // Whether the output can still reach its path: its folder is there and
  // takes files, and what is being written (the placed file, a named
  // temporary) still stands where it was put. A few stat calls, made at
  // most once per kPlaceCheckPeriod by the run's loop. A loss fails the
  // output (Failed() answers true, so a recording ends the run), and Write
  // and Commit report it. A stream has no place to lose.
  void CheckPlace();
  static constexpr std::chrono::seconds kPlaceCheckPeriod{1};

  // Ends the output (flushing the stream first): a replaced file takes its
  // new content in one step, a stream is closed. Fails when the content did
  // not reach the target whole (a replaced file then keeps its old content;
  // a placed file that was removed or replaced meanwhile is reported, as its
  // content is lost).
  Status Commit();
  // Commit in two steps, for files that must change together: Prepare does
  // all that can fail but the last step (a replaced file's content is
  // written, flushed and closed in a named temporary beside it; anything
  // else is committed whole), and Commit after it only moves the content
  // into place.
  Status Prepare();

 private:
  enum class Kind { kNone, kReplace, kPlaced, kStream };
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(OutputFile& owner);
    Status FirstFailure;  // for Commit

   protected:
    int_type overflow(int_type c) override;
    int sync() override;

   private:
    // Passes on the buffered text: all of it, or (`wholeLines`) up to its
    // last line end, keeping the rest for later.
    bool Drain(bool wholeLines);
    OutputFile& mOwner;
    char mData[16384];
  };
  // "cannot write PATH: REASON (the errno's text, unless `code` is 0)".
  Error Fail(const std::string& reason, int code) const;
  Status CreateTemporary();
  Status NameTemporary();
  Status MoveIntoPlace();
  // Why the output can no longer reach its path; Ok when it can.
  Status WhyLost() const;
  // Writes all of `bytes`; `written` says how many reached the file.
  Status WriteAll(const char* bytes, std::size_t size, std::size_t& written);
  void Abandon();
  // mTemporary and its entry in the table of named temporaries.
  void SetTemporary(const std::string& name);
  void ForgetTemporary();

  Kind mKind = Kind::kNone;
  std::string mPath;         // as the user gave it, for messages
  std::string mTarget;       // kReplace, kPlaced: the file that gets the content (links followed)
  std::string mTemporary;    // kReplace: the temporary's name, once it has one
  int mTemporaryEntry = -1;  // its entry in the table of named temporaries
  int mFd = -1;              // the temporary, the placed file or the stream
  bool mWaitForReader = false;   // kStream: a pipe, socket or device whose reader may stall
  bool mFailed = false;          // a write failed: Commit must not replace the target
  Status mLoss;                  // why the output lost its place, once CheckPlace found it
  bool mStandardOutput = false;  // kStream: the process's standard output
  bool mReaderGone = false;      // standard output's reader has gone: writes are dropped
  bool mKeepOwner = false;       // kReplace: the owner and mode must be kept, or the write fails
  bool mPrepared = false;        // kReplace: Prepare left the content in a named temporary
  std::unique_ptr<Buffer> mBuffer;
  std::unique_ptr<std::ostream> mStream;
};

// Opens `file` at `path` for the output flag `flag`; a failure names both.
Status OpenOutputFile(OutputFile& file, const std::string& path, const char* flag);

}  // namespace khost
