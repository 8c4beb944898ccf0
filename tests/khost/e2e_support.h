// What the end-to-end tests share: a workspace folder per test, and runs
// of the built khost executable in it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace khost_e2e {

namespace fs = std::filesystem;

struct RunResult {
  int Status = -1;  // exit status; 128 + signal when killed by one
  long PeakKb = 0;  // the largest resident set, in KiB
  std::string Out;
  std::string Err;
};

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Workspace {
 public:
  Workspace() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    mRoot =
        fs::temp_directory_path() / ("khost_e2e_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(mRoot);
    fs::create_directories(mRoot);
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(mRoot, ec);
  }
  fs::path Path(const std::string& name) const { return mRoot / name; }

  // The arguments of a headless run of `frames` frames on the configuration
  // folder `config` that writes the tool's picture to s.png here, then `more`.
  std::vector<std::string> Headless(int frames, const fs::path& config,
                                    const std::vector<std::string>& more = {}) const {
    // A flag is given once: a default that `more` gives itself is left out.
    std::vector<std::string> args = {"--headless"};
    const auto add = [&](const char* flag, const std::string& value) {
      if (std::find(more.begin(), more.end(), flag) == more.end())
        args.insert(args.end(), {flag, value});
    };
    add("--frames", std::to_string(frames));
    add("--config-dir", config.string());
    add("--screenshot", Path("s.png").string());
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // A configuration folder with the two files (either may be empty text).
  fs::path Config(const std::string& application, const std::string& task) {
    const fs::path dir = mRoot / ("config" + std::to_string(mConfigs++));
    fs::create_directories(dir);
    std::ofstream(dir / "Application.txt") << application;
    std::ofstream(dir / "Task.txt") << task;
    return dir;
  }

  // Starts khost with `args` (in this workspace as current folder), with
  // the given extra environment; Wait collects it. `prepare`, when given,
  // runs in the child just before khost starts (to set a limit or change
  // its descriptors).
  pid_t Start(const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {},
              const std::function<void()>& prepare = {}) const {
    const fs::path out = mRoot / "stdout.txt";
    const fs::path err = mRoot / "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      if (chdir(mRoot.c_str()) != 0) _exit(126);
      unsetenv("KHOST_CONFIG_DIR");
      for (const auto& [k, v] : env) {
        if (v.empty()) {
          unsetenv(k.c_str());
        } else {
          setenv(k.c_str(), v.c_str(), 1);
        }
      }
      if (prepare) prepare();
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(KHOST_EXE));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KHOST_EXE, argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits at most `seconds` seconds for the run `pid` to end (then kills
  // it) and collects what it gave.
  RunResult Wait(pid_t pid, int seconds = 60) const {
    RunResult result;
    int status = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.PeakKb = usage.ru_maxrss;
    result.Out = ReadAll(mRoot / "stdout.txt");
    result.Err = ReadAll(mRoot / "stderr.txt");
    return result;
  }

  // Runs khost with `args` for at most `seconds` seconds.
  RunResult Run(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {}, int seconds = 60,
                const std::function<void()>& prepare = {}) const {
    return Wait(Start(args, env, prepare), seconds);
  }

 private:
  fs::path mRoot;
  int mConfigs = 0;
};

inline const char* kQuietApplication =
    "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 0\nProfilingType = 1\n";
inline const char* kSmallScene = "[Scene]\nCharacters = 2\n";

// An X server of our own on a free display number, ended with the test.
class Xvfb {
 public:
  Xvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int n = 91; n < 160; ++n) {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
      const pid_t pid = fork();
      if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string display = ":" + std::to_string(n);
        execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
              "tcp", static_cast<char*>(nullptr));
        _exit(127);
      }
      mPid = pid;
      for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
          mPid = -1;  // it gave up (display taken meanwhile): try the next one
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (mPid > 0 && access(socket.c_str(), F_OK) == 0) {
        mDisplay = ":" + std::to_string(n);
        return;
      }
      Stop();
    }
  }
  ~Xvfb() { Stop(); }
  const std::string& Display() const { return mDisplay; }

  // Ends the server now (its clients lose their connection).
  void Stop() {
    if (mPid > 0) {
      kill(mPid, SIGTERM);
      waitpid(mPid, nullptr, 0);
      mPid = -1;
    }
  }

 private:
  pid_t mPid = -1;
  std::string mDisplay;
};

// key=value lines (the module's settings dump) as a map.
inline std::map<std::string, std::string> ParseSettings(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// A CSV file's rows and fields (quoted fields may hold commas).
inline std::vector<std::vector<std::string>> ReadCsv(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ReadAll(path));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        fields.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// Waits until `path` holds more than `bytes` bytes (at most 30 s).
inline bool WaitForGrowth(const fs::path& path, std::uintmax_t bytes) {
  for (int i = 0; i < 3000; ++i) {
    std::error_code ec;
    if (fs::file_size(path, ec) > bytes && !ec) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A recording's rows by frame, each row's cycle path in order (the header
// left out). Fails the test on a row without its six fields or on a text
// that does not end with a line end.
inline std::vector<std::vector<std::string>> RecordedFrames(const std::string& text) {
  std::vector<std::vector<std::string>> frames;
  EXPECT_TRUE(!text.empty() && text.back() == '\n') << "the recording ends inside a row";
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::string frame;
  while (std::getline(in, line)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 5) << line;
    const std::size_t first = line.find(',');
    const std::size_t second = line.find(',', first + 1);
    const std::size_t third = line.find(',', second + 1);
    if (third == std::string::npos) continue;
    if (frames.empty() || line.compare(0, first, frame) != 0) {
      frame = line.substr(0, first);
      frames.emplace_back();
    }
    frames.back().push_back(line.substr(second + 1, third - second - 1));
  }
  return frames;
}

// A folder's entries by name, sorted.
inline std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace khost_e2e
