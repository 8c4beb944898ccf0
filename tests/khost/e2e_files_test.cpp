// End-to-end: the files and streams a run writes, replaced whole or refused
// before the run, and what happens when one cannot be finished or loses its
// place during the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "khost/e2e_pictures.h"
#include "khost/e2e_support.h"
#include "khost/scene/scene.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

// Reads a FIFO from a thread until its writer has written and closed it (or
// 60 seconds pass).
class FifoReader {
 public:
  explicit FifoReader(const fs::path& path) {
    mFd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    mThread = std::thread([this] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      char buffer[4096];
      while (std::chrono::steady_clock::now() < deadline && !mStop) {
        const ssize_t got = read(mFd, buffer, sizeof buffer);
        if (got > 0) {
          mText.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 && !mText.empty()) {
          break;  // the writer closed it
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    });
  }
  ~FifoReader() { Finish(); }
  std::string Finish() {
    if (mThread.joinable()) mThread.join();
    if (mFd >= 0) close(mFd);
    mFd = -1;
    return mText;
  }
  void Stop() { mStop = true; }

 private:
  int mFd = -1;
  std::atomic<bool> mStop{false};
  std::string mText;
  std::thread mThread;
};

TEST(KhostOutputs, FilesAndLinksAreReplacedWholeAndNothingElseIsTouched) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path out = w.Path("out");
  fs::create_directories(out);
  std::ofstream(out / "shot.png") << "old picture";
  std::ofstream(out / "shot.png.part") << "someone else's";
  std::ofstream(out / "real.csv") << "old table";
  fs::create_symlink("real.csv", out / "link.csv");
  const RunResult r =
      w.Run({"--headless", "--frames", "2", "--config-dir", config.string(), "--screenshot",
             (out / "shot.png").string(), "--stats", (out / "link.csv").string()});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Load(out / "shot.png").Width, 800);
  EXPECT_EQ(ReadAll(out / "shot.png.part"), "someone else's");
  EXPECT_TRUE(fs::is_symlink(out / "link.csv"));
  EXPECT_EQ(ReadAll(out / "real.csv").rfind("name,depth,", 0), 0u);
  // No temporary is left behind.
  EXPECT_EQ(FolderEntries(out),
            (std::vector<std::string>{"link.csv", "real.csv", "shot.png", "shot.png.part"}));

  // A failed write keeps the old content and leaves no temporary.
  if (access("/dev/full", W_OK) == 0) {
    const RunResult full = w.Run({"--headless", "--frames", "2", "--config-dir", config.string(),
                                  "--screenshot", "/dev/full"});
    EXPECT_EQ(full.Status, 1) << full.Err;
    EXPECT_NE(full.Err.find("/dev/full"), std::string::npos) << full.Err;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

TEST(KhostOutputs, StreamsAreWrittenInPlaceAndUnopenableOutputsAreRefusedUpFront) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path fifo = w.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  {
    FifoReader reader(fifo);
    const RunResult r = w.Run({"--headless", "--frames", "2", "--config-dir", config.string(),
                               "--screenshot", "/dev/null", "--stats", fifo.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    if (r.Status != 0) reader.Stop();
    EXPECT_EQ(reader.Finish().rfind("name,depth,", 0), 0u);
  }
  // Standard output takes the statistics after what khost printed before;
  // "-" names it (not a file of that name).
  for (const char* stdoutName : {"/dev/stdout", "-"}) {
    const RunResult out = w.Run(w.Headless(2, config, {"--stats", stdoutName, "--print-settings"}));
    ASSERT_EQ(out.Status, 0) << out.Err;
    EXPECT_EQ(out.Out.rfind("name,depth,", 0), 0u) << out.Out;
    EXPECT_NE(out.Out.find("\nBufferSize=20\n"), std::string::npos) << out.Out;
    EXPECT_FALSE(fs::exists(w.Path("-")));
  }

  // A FIFO nobody reads, a folder and a socket are refused before the run
  // (a million frames would not end within the test's time).
  const fs::path socketPath = w.Path("sock");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_directories(w.Path("folder"));
  for (const std::string& flag : {std::string("--screenshot"), std::string("--stats")}) {
    for (const fs::path& path : {fifo, w.Path("folder"), socketPath}) {
      std::vector<std::string> args = {"--headless",    "--frames", "1000000",    "--config-dir",
                                       config.string(), flag,       path.string()};
      if (flag == "--stats") args.insert(args.end(), {"--screenshot", "/dev/null"});
      const RunResult r = w.Run(args);
      EXPECT_EQ(r.Status, 1) << flag << " " << path << ": " << r.Err;
      EXPECT_NE(r.Err.find(path.filename().string()), std::string::npos) << r.Err;
    }
  }
  close(sock);
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
  EXPECT_EQ(fs::status(socketPath).type(), fs::file_type::socket);
  EXPECT_TRUE(fs::is_directory(w.Path("folder")));
}

// Every row of a recording has its six fields and ends with a line end.
void ExpectWholeRows(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    ASSERT_EQ(std::count(line.begin(), line.end(), ','), 5) << line;
  }
}

TEST(KhostOutputs, AnOutputThatCannotBeFinishedIsNamedAndTheOthersAreWritten) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // The output folder removed during the run: the recording (already in
  // place) and the trace (not yet) are both lost and named; the statistics
  // and the screenshot elsewhere are written all the same.
  const fs::path out = w.Path("out");
  fs::create_directories(out);
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(out / "r.csv") && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::error_code ec;
    removed = fs::remove_all(out, ec) > 0;
  });
  const RunResult r =
      w.Run(w.Headless(300, config,
                       {"--record", (out / "r.csv").string(), "--trace", (out / "t.json").string(),
                        "--stats", w.Path("s.csv").string()}));
  remover.join();
  ASSERT_TRUE(removed);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("--record: cannot write '" + (out / "r.csv").string()), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("--trace: cannot write '" + (out / "t.json").string()), std::string::npos)
      << r.Err;
  EXPECT_EQ(ReadAll(w.Path("s.csv")).rfind("name,depth,", 0), 0u);
  EXPECT_EQ(Load(w.Path("s.png")).Width, 800);

  // A name as long as the system allows is taken: the temporary's name is
  // not derived from it.
  const std::string longName(255, 'n');
  const RunResult longRun = w.Run(w.Headless(2, config, {"--stats", w.Path(longName).string()}));
  EXPECT_EQ(longRun.Status, 0) << longRun.Err;
  EXPECT_EQ(ReadAll(w.Path(longName)).rfind("name,depth,", 0), 0u);

  // A full file system (a tiny one, where this test may mount it): the
  // recording keeps its whole rows and nothing else is left behind.
  const fs::path tiny = w.Path("tiny");
  fs::create_directories(tiny);
  if (getuid() == 0 &&
      system(("mount -t tmpfs -o size=64k tmpfs '" + tiny.string() + "' 2>/dev/null").c_str()) ==
          0) {
    const RunResult full = w.Run(
        w.Headless(300, config,
                   {"--record", (tiny / "r.csv").string(), "--stats", (tiny / "s.csv").string()}));
    EXPECT_EQ(full.Status, 1) << full.Err;
    EXPECT_NE(full.Err.find("--record: cannot write"), std::string::npos) << full.Err;
    ExpectWholeRows(ReadAll(tiny / "r.csv"));
    // The statistics, written after the recording was cut back, may fit:
    // then they are whole, else named; either way no temporary is left.
    if (fs::exists(tiny / "s.csv")) {
      const std::string stats = ReadAll(tiny / "s.csv");
      EXPECT_EQ(stats.rfind("name,depth,", 0), 0u);
      EXPECT_EQ(stats.back(), '\n');
      EXPECT_EQ(FolderEntries(tiny), (std::vector<std::string>{"r.csv", "s.csv"}));
    } else {
      EXPECT_NE(full.Err.find("--stats: cannot write"), std::string::npos) << full.Err;
      EXPECT_EQ(FolderEntries(tiny), std::vector<std::string>{"r.csv"});
    }
    EXPECT_EQ(system(("umount '" + tiny.string() + "'").c_str()), 0);
  }
}

// A run far longer than the test waits for: only noticing the loss ends it.
TEST(KhostOutputs, AnOutputLostDuringTheRunEndsItAndTheOthersAreFinished) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path traces = w.Path("traces");
  fs::create_directories(traces);
  const fs::path record = w.Path("r.csv");
  const fs::path trace = traces / "t.json";
  const fs::path stats = w.Path("s.csv");
  const std::vector<std::string> args = w.Headless(
      1000000, config,
      {"--record", record.string(), "--trace", trace.string(), "--stats", stats.string()});

  // The recording removed while it grows, the trace's folder (its unnamed
  // temporary in it) removed too: both are named, the statistics and the
  // screenshot are still written.
  pid_t pid = w.Start(args);
  ASSERT_TRUE(WaitForGrowth(record, 4096));
  fs::remove(record);
  fs::remove_all(traces);
  RunResult r = w.Wait(pid, 30);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("--record: cannot write '" + record.string() +
                       "': it was removed or moved away during the run"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("--trace: cannot write '" + trace.string() + "': its folder '" +
                       traces.string() + "' was removed during the run"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(ReadAll(stats).rfind("name,depth,", 0), 0u);
  EXPECT_EQ(Load(w.Path("s.png")).Width, 800);
  EXPECT_FALSE(fs::exists(record));

  // The recording replaced by another file, then a stop asked at once: the
  // other file is left as it is, the trace is finished whole, and the run
  // fails (status 1, not the signal's) since what was recorded is lost.
  fs::create_directories(traces);
  fs::remove(stats);
  pid = w.Start(args);
  ASSERT_TRUE(WaitForGrowth(record, 4096));
  std::ofstream(w.Path("other.csv")) << "someone else's\n";
  fs::rename(w.Path("other.csv"), record);
  kill(pid, SIGTERM);
  r = w.Wait(pid, 30);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("--record: cannot write '" + record.string() +
                       "': it was replaced during the run"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("interrupted by SIGTERM"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(record), "someone else's\n");
  EXPECT_GT(nlohmann::json::parse(ReadAll(trace)).at("traceEvents").size(), 100u);
  EXPECT_EQ(ReadAll(stats).rfind("name,depth,", 0), 0u);
  for (const fs::path& folder : {w.Path("."), traces}) {
    for (const std::string& name : FolderEntries(folder)) {
      EXPECT_EQ(name.rfind(".khost-", 0), std::string::npos) << name;
    }
  }
}

TEST(KhostOutputs, AStreamWhoseReaderStopsReadingIsGivenUp) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path fifo = w.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opened for reading, never read: the pipe fills and stays full.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const auto start = std::chrono::steady_clock::now();
  // The run ends once the output fails, however many frames it was to run.
  const RunResult r = w.Run(w.Headless(1000000, config, {"--record", fifo.string()}), {}, 50);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(reader);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("--record: cannot write '" + fifo.string() + "': its reader took nothing"),
            std::string::npos)
      << r.Err;
  EXPECT_GE(seconds, 5.0);
  EXPECT_EQ(Load(w.Path("s.png")).Width, 800);
}

}  // namespace
