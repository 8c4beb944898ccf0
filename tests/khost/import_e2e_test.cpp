// khost reading a scene file, as a user runs it: the files beside the
// scene that the import reads are inputs no output may replace; a stop or
// a kill during the import ends it and its child at once; no address-space
// limit makes khost die of a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace khost_e2e;

const fs::path kModels = "/usr/share/assimp/models";
const fs::path kGltf = kModels / "glTF2/BoxTextured-glTF";
const fs::path kObj = kModels / "OBJ";

#define REQUIRE_FILE(path) \
  if (!fs::exists(path)) GTEST_SKIP() << "needs the assimp-testmodels package (" << (path) << ")"

// The pids of the processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...: the command may hold spaces and parentheses.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) children.push_back(std::stoi(name));
  }
  return children;
}

// The import's child of khost `pid`, once it has started (at most 10 s).
pid_t ImportChildOf(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::vector<pid_t> children = ChildrenOf(pid);
    if (!children.empty()) return children.front();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

TEST(KhostImport, FilesTheSceneReadsAreInputsNoOutputMayReplace) {
  REQUIRE_FILE(kGltf / "BoxTextured0.bin");
  REQUIRE_FILE(kObj / "spider.mtl");
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "");
  for (const char* file : {"BoxTextured.gltf", "BoxTextured0.bin"})
    fs::copy_file(kGltf / file, w.Path(file));
  for (const char* file : {"spider.obj", "spider.mtl"}) fs::copy_file(kObj / file, w.Path(file));

  struct Case {
    std::string Scene;
    std::string Flag;
    std::string Output;  // a file the scene file names
  };
  for (const Case& c : {Case{"BoxTextured.gltf", "--record", "BoxTextured0.bin"},
                        Case{"spider.obj", "--stats", "spider.mtl"},
                        Case{"spider.obj", "--window-screenshot", "./spider.mtl"}}) {
    const std::string before = ReadAll(w.Path(c.Output));
    const RunResult r = w.Run(w.Headless(2, config, {"--scene", c.Scene, c.Flag, c.Output}));
    EXPECT_EQ(r.Status, 2) << c.Flag << " " << c.Output << ": " << r.Err;
    EXPECT_NE(r.Err.find("a file the scene file reads"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(w.Path(c.Output)), before) << c.Output << " was changed";
    EXPECT_FALSE(fs::exists(w.Path("s.png"))) << "an output was written before the check";
  }
  // The same scene with outputs of their own runs.
  const RunResult fine =
      w.Run(w.Headless(2, config, {"--scene", "BoxTextured.gltf", "--record", "r.csv"}));
  EXPECT_EQ(fine.Status, 0) << fine.Err;
}

// A glTF whose buffer is a FIFO no one writes: the import blocks opening it.
fs::path StalledScene(const Workspace& w) {
  fs::copy_file(kGltf / "BoxTextured.gltf", w.Path("stalled.gltf"));
  EXPECT_EQ(::mkfifo(w.Path("BoxTextured0.bin").c_str(), 0600), 0);
  return w.Path("stalled.gltf");
}

TEST(KhostImport, AStopDuringTheImportEndsItAtOnceAndSaysSo) {
  REQUIRE_FILE(kGltf / "BoxTextured.gltf");
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "");
  const fs::path scene = StalledScene(w);
  const pid_t pid = w.Start(w.Headless(2, config, {"--scene", scene.string()}));
  const pid_t child = ImportChildOf(pid);
  ASSERT_GT(child, 0);
  const auto asked = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  const RunResult r = w.Wait(pid, 30);
  // Well inside the import's 20 s time limit, with room for a loaded
  // machine: the stop did not wait for the limit.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(10));
  EXPECT_EQ(r.Status, 128 + SIGINT) << r.Err;
  EXPECT_NE(r.Err.find("was abandoned"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("interrupted by SIGINT"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("time limit"), std::string::npos) << r.Err;
  EXPECT_NE(::kill(child, 0), 0) << "the import's child outlived khost";
}

TEST(KhostImport, KillingKhostDuringTheImportKillsItsChild) {
  REQUIRE_FILE(kGltf / "BoxTextured.gltf");
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "");
  const fs::path scene = StalledScene(w);
  // Orphans come to this process, which can then tell how they ended.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const pid_t pid = w.Start(w.Headless(2, config, {"--scene", scene.string()}));
  const pid_t child = ImportChildOf(pid);
  ASSERT_GT(child, 0);
  ::kill(pid, SIGKILL);
  EXPECT_EQ(w.Wait(pid, 10).Status, 128 + SIGKILL);
  int status = 0;
  pid_t reaped = 0;
  // The child dies with khost; the wait only bounds how long a child that
  // outlived it is looked for.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((reaped = ::waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (reaped == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(reaped, child) << "the import's child was still running a second after khost died";
}

// khost headless on the procedural characters under an address-space limit
// of `kib` KiB: its exit status, 128 + N when signal N ended it.
int RunUnderLimit(const Workspace& w, const fs::path& config, long kib) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{static_cast<rlim_t>(kib) * 1024, static_cast<rlim_t>(kib) * 1024};
    ::setrlimit(RLIMIT_AS, &limit);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    const int err = ::open(w.Path("limit.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 2);
    const std::string frames = "3";
    const std::string png = w.Path("limit.png").string();
    const char* argv[] = {KHOST_EXE,      "--headless", "--frames",     frames.c_str(),
                          "--scene",      "builtin",    "--config-dir", config.c_str(),
                          "--screenshot", png.c_str(),  nullptr};
    ::execv(KHOST_EXE, const_cast<char* const*>(argv));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(KhostImport, NoAddressSpaceLimitMakesKhostDieOfASignal) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve terabytes of address space before khost starts";
#endif
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "");
  // From too little to load the libraries (the loader's 127) through too
  // little for the renderer (a message, 1) to enough.
  int refused = 0;
  for (long kib = 100'000; kib <= 1'300'000; kib += 75'000) {
    const int status = RunUnderLimit(w, config, kib);
    const std::string err = ReadAll(w.Path("limit.err"));
    EXPECT_TRUE(status == 0 || status == 1 || status == 127)
        << "ulimit -v " << kib << ": status " << status << "\n"
        << err;
    if (status == 1) {
      EXPECT_NE(err.find("khost: "), std::string::npos) << kib << ": no message";
      refused += err.find("ulimit -v") != std::string::npos;
    }
  }
  EXPECT_GT(refused, 0) << "no limit was refused by name";
}

}  // namespace
