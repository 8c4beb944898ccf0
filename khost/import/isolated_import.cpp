#include "khost/import/isolated_import.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "khost/base/quoting.h"
#include "khost/import/model_import.h"
#include "khost/runtime/model_encoding.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KHOST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KHOST_SANITIZED 1
#endif
#endif

namespace khost {

namespace {

constexpr char kModelTag = 'M';
constexpr char kErrorTag = 'E';
constexpr std::size_t kMaxReply = std::size_t{1} << 31;
constexpr int kPollMilliseconds = 100;  // how long a signal may go unnoticed at most

// The reply to a model: the files the import read, each led by its length,
// then the model's bytes.
void AppendCount(std::string& out, uint64_t n) {
  out.append(reinterpret_cast<const char*>(&n), sizeof n);
}
std::string EncodeFiles(const std::vector<std::string>& files) {
  std::string out;
  AppendCount(out, files.size());
  for (const std::string& file : files) {
    AppendCount(out, file.size());
    out += file;
  }
  return out;
}
bool ReadCount(const std::string& in, std::size_t& at, uint64_t& n) {
  if (in.size() - at < sizeof n) return false;
  std::memcpy(&n, in.data() + at, sizeof n);
  at += sizeof n;
  return true;
}
bool DecodeFiles(const std::string& in, std::size_t& at, std::vector<std::string>& files) {
  uint64_t count = 0;
  if (!ReadCount(in, at, count) || count > (in.size() - at) / sizeof count) return false;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t length = 0;
    if (!ReadCount(in, at, length) || length > in.size() - at) return false;
    files.emplace_back(in, at, length);
    at += length;
  }
  return true;
}

// The child's signals as a new process has them: default handling and
// nothing blocked, whatever the host had installed (a handler that only
// notes the signal would keep the child running), and a kill when the host
// ends.
void ResetSignals(pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The host may have ended before the line above took effect.
  if (::getppid() != parent) ::_exit(4);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &defaults, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

[[noreturn]] void RunChild(const std::string& path, const ImportLimits& limits,
                           const ImportOptions& options, pid_t parent, int out) {
  ResetSignals(parent);
  // Library noise and crash reports stay out of the host's output.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  const rlim_t cpu = static_cast<rlim_t>(limits.Seconds) + 2;
  const rlimit cpuLimit{cpu, cpu};
  setrlimit(RLIMIT_CPU, &cpuLimit);
#ifndef KHOST_SANITIZED
  // The sanitizers reserve far more address space than this up front.
  const rlimit memory{limits.MemoryBytes, limits.MemoryBytes};
  setrlimit(RLIMIT_AS, &memory);
#endif
  // The reply in two pieces: the model's bytes (its images may be
  // hundreds of megabytes) are not copied behind the list of files.
  std::string head;
  std::string body;
  try {
    Result<Model> model = ImportModel(path, options.Up, options.Textures);
    if (model) {
      head = kModelTag + EncodeFiles(model->ReadFiles);
      body = SerializeModel(*model);
    } else {
      head = kErrorTag + model.GetError().Message;
    }
  } catch (const std::exception& e) {
    head = kErrorTag +
           ("scene file " + QuoteArgument(path) + ": the import failed: " + EchoText(e.what()));
    body.clear();
  }
  const bool sent =
      WriteAll(out, head.data(), head.size()) && WriteAll(out, body.data(), body.size());
  _exit(sent ? 0 : 3);
}

std::string Describe(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGXCPU) return "the import ran past its time limit";
    return std::string("the import library crashed or ran out of memory on it (signal ") +
           std::to_string(signal) + ", " + strsignal(signal) + ")";
  }
  if (WIFEXITED(status))
    return "the import ended with status " + std::to_string(WEXITSTATUS(status)) +
           " without a result (out of memory?)";
  return "the import ended abnormally";
}

}  // namespace

Result<Model> ImportIsolated(const std::string& path, const ImportLimits& limits,
                             const ImportOptions& options) {
  const std::string name = "scene file " + QuoteArgument(path);
  struct stat info {};
  if (path.empty()) return BadInput("--scene: empty file name");
  if (stat(path.c_str(), &info) != 0) return BadInput(name + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return BadInput(name + " is a folder, not a scene file");
  if (!S_ISREG(info.st_mode)) return BadInput(name + " is not a regular file");
  if (access(path.c_str(), R_OK) != 0) return Failure(name + ": " + std::strerror(errno));

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return Failure(name + ": no pipe for the import: " + std::strerror(errno));
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return Failure(name + ": cannot start the import: " + std::strerror(errno));
  }
  if (child == 0) {
    close(fds[0]);
    RunChild(path, limits, options, parent, fds[1]);
  }
  close(fds[1]);

  // Read until the child closes its end, the time is up or the run is
  // asked to stop. A signal interrupts poll (it is never restarted).
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limits.Seconds));
  std::string reply;
  bool timedOut = false;
  bool tooLarge = false;
  bool abandoned = false;
  char buffer[1 << 16];
  for (;;) {
    if (options.Interrupted && options.Interrupted() != 0) {
      abandoned = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int ready =
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kPollMilliseconds)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (reply.size() + static_cast<std::size_t>(n) > kMaxReply) {
      tooLarge = true;
      break;
    }
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (timedOut || tooLarge || abandoned) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A stop asked while the child ended (a terminal's Ctrl-C reaches both)
  // is the reason, not the file.
  if (abandoned || (options.Interrupted && options.Interrupted() != 0))
    return Failure("reading " + name + " was abandoned");
  if (timedOut)
    return Failure(name + ": the import ran past its time limit of " +
                   std::to_string(static_cast<int>(limits.Seconds)) + " s");
  if (tooLarge) return Failure(name + ": the imported scene is too large");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || reply.empty())
    return Failure(name + ": " + Describe(status));
  if (reply[0] == kErrorTag) return Failure(reply.substr(1));
  Model model;
  std::vector<std::string> files;
  std::size_t at = 1;
  if (reply[0] != kModelTag || !DecodeFiles(reply, at, files) ||
      !DeserializeModel(std::string_view(reply).substr(at), model))
    return Failure(name + ": the import sent back a damaged scene");
  // The scene file is read whatever the library reports.
  if (std::find(files.begin(), files.end(), path) == files.end()) files.insert(files.begin(), path);
  model.ReadFiles = std::move(files);
  std::string notes;
  if (!SanitizeModel(model, &notes)) {
    // The last note says why nothing is left.
    notes.pop_back();
    return Failure(name + ": " + notes.substr(notes.find_last_of('\n') + 1));
  }
  model.Notes += notes;
  return model;
}

}  // namespace khost
