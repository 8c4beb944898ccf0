// End-to-end: the built khost executable, run as a user runs it.
//
// Screenshot checks look at pixel positions that follow from the tool's
// layout at its start size of 800 x 420:
//   - the tool puts its settings panel ("Adaptable") at (6, 37), 788 x 382;
//   - the panel puts the drawing view ("DrawingRegion") at (215, 9) inside
//     it, up to 6 pixels from its right and bottom edges: the view spans
//     window x 221..781 and y 46..411 (567 x 367);
//   - in the view, the chart's first separator is at y 90 (scrolled to the
//     top), the upper block holds two 15-pixel rows from y 95, the block
//     separator follows at 127, the lower block's rows start at 130 and its
//     closing separator lies 2 pixels below its last row. Separators run
//     from x = 20 - 10 = 10 rightwards in grey 0.8 (204), where the view is
//     otherwise the background grey 128; the column x 15 crosses nothing
//     else below the header.
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

#include "khost/e2e_support.h"
#include "khost/scene/scene.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

constexpr int kViewLeft = 221;
constexpr int kViewTop = 46;
constexpr int kViewHeight = 367;
constexpr int kChartColumn = kViewLeft + 15;

std::map<std::string, std::string> ParseSettings(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

struct Image {
  int Width = 0;
  int Height = 0;
  std::vector<unsigned char> Rgba;
  const unsigned char* At(int x, int y) const {
    return &Rgba[(static_cast<std::size_t>(y) * Width + x) * 4];
  }
};

Image Load(const fs::path& path) {
  Image image;
  std::string error;
  EXPECT_TRUE(KPng_Read(path.c_str(), image.Width, image.Height, image.Rgba, &error)) << error;
  return image;
}

bool IsGrey(const unsigned char* p, int level, int tolerance = 6) {
  return std::abs(p[0] - level) <= tolerance && std::abs(p[1] - level) <= tolerance &&
         std::abs(p[2] - level) <= tolerance;
}

// The view rows (view coordinates) where the chart's separators cross the
// column x 15, below the header (the header strip covers y 0..85).
std::vector<int> SeparatorRows(const Image& image) {
  std::vector<int> rows;
  for (int y = 86; y < kViewHeight; ++y) {
    if (IsGrey(image.At(kChartColumn, kViewTop + y), 204, 12)) {
      if (rows.empty() || y > rows.back() + 1) rows.push_back(y);
    }
  }
  return rows;
}

// Separator rows match within one pixel (line rasterisation may round
// either way).
void ExpectSeparators(const std::vector<int>& actual, const std::vector<int>& expected,
                      const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what << ": " << ::testing::PrintToString(actual);
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_LE(std::abs(actual[i] - expected[i]), 1)
        << what << ": separator " << i << " at " << actual[i] << ", expected " << expected[i];
  }
}

TEST(KhostCommandLine, HelpDocumentsTheFlags) {
  Workspace w;
  const RunResult r = w.Run({"--help"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* flag :
       {"--module",        "--config-dir",  "--headless", "--size",    "--frames",
        "--screenshot",    "--select",      "--click",    "--set",     "--print-settings",
        "--stats",         "--record",      "--trace",    "--compare", "--compare-block",
        "--compare-depth", "--compare-csv", "--viewport", "--ui-rate", "--window-screenshot"}) {
    EXPECT_NE(r.Out.find(flag), std::string::npos) << flag;
  }
}

TEST(KhostCommandLine, BadInputExitsWithStatus2AndNamesIt) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  struct Case {
    std::vector<std::string> Args;
    std::string Named;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, "--bogus"},
      {{"--size", "800"}, "800"},
      {{"--frames", "abc"}, "abc"},
      {{"--frames"}, "--frames"},
      {{"--set", "NoEquals"}, "NoEquals"},
      {{"stray"}, "stray"},
      {{"--config-dir", (w.Path("missing")).string()}, "missing"},
      {{"--frames", "+5"}, "+5"},
      {{"--size", "8193x8192"}, "8192x8192"},
      {{"--click", std::string(100000, 'q')}, std::string(190, 'q') + "..."},
      // Captions, items and values are checked against the open tool.
      {{"--click", "No Such Button"}, "No Such Button"},
      {{"--select", "Nowhere"}, "Nowhere"},
      {{"--set", "No Such Editor=1"}, "No Such Editor"},
      {{"--set", "Frustum Culling=2"}, "'2'"},
      {{"--set", "Buffer Size=abc"}, "abc"},
      {{"--set", "Buffer Size=0"}, "'0'"},
      // One rule for numbers: no '+', and a long number is out of range.
      {{"--set", "Buffer Size=+40"}, "'+40'"},
      {{"--set", "Buffer Size=99999999999"}, "out of range"},
      {{"--ui-rate", "+30"}, "'+30'"},
      // An option in a value's place, a repeat, a PNG to standard output.
      {{"--record", "--print-settings"}, "'--print-settings'"},
      {{"--stats", "a.csv", "--stats", "b.csv"}, "more than once"},
      {{"--window-screenshot", "-"}, "./-"},
      {{"--set", "Profiling Mode=Sometimes"}, "Sometimes"},
      {{"--click", "Display Details"}, "Display Details"},
      {{"--viewport", "0x10"}, "0x10"},
      {{"--viewport", "16000x100"}, "--viewport"},  // too wide beside the tool
      {{"--ui-rate", "often"}, "often"},
      // Both values of a comparison are tried before the first block.
      {{"--compare", "No Such Editor=1,2", "--frames", "29", "--compare-block", "7"},
       "No Such Editor"},
      {{"--compare", "Frustum Culling=1,7", "--frames", "29", "--compare-block", "7"}, "'7'"},
      {{"--compare", "Frustum Culling=0,1", "--compare-block", "200"}, "too few"},
  };
  for (const Case& c : cases) {
    const RunResult r = w.Run(w.Headless(2, config, c.Args));
    EXPECT_EQ(r.Status, 2) << c.Named << "\n" << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << c.Named << "\n" << r.Err;
  }
  // Nothing was written for a refused command line.
  for (const char* file : {"--print-settings", "-", "a.csv", "b.csv"}) {
    EXPECT_FALSE(fs::exists(w.Path(file))) << file;
  }
}

TEST(KhostCommandLine, MissingOrIncompleteModuleExitsWithStatus1) {
  Workspace w;
  const RunResult missing = w.Run({"--headless", "--module", w.Path("nothing.so").string()});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("nothing.so"), std::string::npos) << missing.Err;
  // A real shared library that is not a module: no entry points.
  const fs::path library = fs::path(KHOST_EXE).parent_path() / "libkbaselib.so";
  ASSERT_TRUE(fs::exists(library));
  const RunResult wrong = w.Run({"--headless", "--module", library.string()});
  EXPECT_EQ(wrong.Status, 1);
  EXPECT_NE(wrong.Err.find("EntryPointtoolprofiling"), std::string::npos) << wrong.Err;
  // Not a shared library at all.
  std::ofstream(w.Path("junk.so")) << "not an ELF file";
  const RunResult junk = w.Run({"--headless", "--module", w.Path("junk.so").string()});
  EXPECT_EQ(junk.Status, 1);
  EXPECT_NE(junk.Err.find("junk.so"), std::string::npos) << junk.Err;
}

TEST(KhostCommandLine, BrokenModulesGiveAMessageAndStatus1) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::vector<std::string> base = w.Headless(2, config);
  // Truncated copies of the real module: refused before the loader maps them.
  const std::string module = ReadAll(fs::path(KHOST_EXE).parent_path() / "libtoolprofiling.so");
  ASSERT_GT(module.size(), 20000u);
  for (const std::size_t size : {std::size_t{1000}, std::size_t{5000}, std::size_t{20000}}) {
    const fs::path cut = w.Path("cut.so");
    std::ofstream(cut, std::ios::binary) << module.substr(0, size);
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--module", cut.string()});
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 1) << size << " bytes: " << r.Err;
    EXPECT_NE(r.Err.find("cut.so"), std::string::npos) << r.Err;
  }
  // A module that throws from its entry points or its factory, an int as
  // well as a standard exception.
  for (const char* what : {"init", "entry", "factory", "tool"}) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--module", KHOST_THROWING_MODULE});
    const RunResult r = w.Run(args, {{"KHOST_TEST_THROW", what}});
    EXPECT_EQ(r.Status, 1) << what << ": " << r.Err;
    EXPECT_NE(r.Err.find("threw"), std::string::npos) << what << ": " << r.Err;
  }
  // A bare name is a file in the current folder, not a library the loader
  // would find elsewhere.
  std::ofstream(w.Path("libm.so.6")) << "not a library";
  std::vector<std::string> args = base;
  args.insert(args.end(), {"--module", "libm.so.6"});
  const RunResult bare = w.Run(args);
  EXPECT_EQ(bare.Status, 1) << bare.Err;
  EXPECT_NE(bare.Err.find("not an ELF"), std::string::npos) << bare.Err;
}

TEST(KhostCommandLine, ConfigurationFolderProblemsAreNamed) {
  Workspace w;
  std::ofstream(w.Path("plain.txt")) << "x";
  const RunResult file = w.Run({"--headless", "--config-dir", w.Path("plain.txt").string()});
  EXPECT_EQ(file.Status, 2);
  EXPECT_NE(file.Err.find("is not a folder"), std::string::npos) << file.Err;
  const RunResult env = w.Run({"--headless", "--screenshot", w.Path("s.png").string()},
                              {{"KHOST_CONFIG_DIR", w.Path("missing").string()}});
  EXPECT_EQ(env.Status, 2) << env.Err;
  EXPECT_NE(env.Err.find("KHOST_CONFIG_DIR"), std::string::npos) << env.Err;
  EXPECT_NE(env.Err.find("missing"), std::string::npos) << env.Err;
  EXPECT_FALSE(fs::exists(w.Path("s.png")));

  // Files in the folder that are there but cannot be read are named; the run
  // goes on with their defaults, and a reset leaves them as they are.
  const fs::path config = w.Config("", kSmallScene);
  fs::remove(config / "Application.txt");
  fs::create_directory(config / "Application.txt");
  fs::remove(config / "Task.txt");
  fs::create_symlink(config / "gone.txt", config / "Task.txt");
  const RunResult odd =
      w.Run(w.Headless(2, config, {"--print-settings", "--click", "Reset To Default"}));
  EXPECT_EQ(odd.Status, 0) << odd.Err;
  EXPECT_NE(odd.Err.find("Application.txt' is a folder"), std::string::npos) << odd.Err;
  EXPECT_NE(odd.Err.find("Task.txt' is a link that leads nowhere"), std::string::npos) << odd.Err;
  EXPECT_EQ(ParseSettings(odd.Out)["BufferSize"], "20") << odd.Out;
  EXPECT_TRUE(fs::is_directory(config / "Application.txt"));
  EXPECT_TRUE(fs::is_symlink(config / "Task.txt"));
}

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

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

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

TEST(KhostSettings, StartUpReadsTheConfigurationFolderAndResetRestoresIt) {
  Workspace w;
  const fs::path config = w.Config(
      "[Display]\nEarlyFrustumCulling = No\nUseGPUSkinDeform = yes\n"
      "[Benchmark]\nBufferSize = 37\nFrameReference = No\nEvaluationDepth = 2\nProfilingType = 1\n",
      "[Evaluation]\nPipeline = Parallel\nEvaluation = 1\nDeformation = Serial\n" +
          std::string(kSmallScene));
  const std::map<std::string, std::string> fromFiles = {
      {"FrustumCulling", "0"},      {"ParallelPipeline", "1"}, {"ParallelEvaluation", "1"},
      {"ParallelDeformation", "0"}, {"GPUSkinning", "1"},      {"ProfilingType", "1"},
      {"EvaluationDepth", "2"},     {"BufferSize", "37"},      {"FrameReference", "0"}};

  const std::vector<std::string> base = w.Headless(3, config, {"--print-settings"});
  const RunResult start = w.Run(base);
  ASSERT_EQ(start.Status, 0) << start.Err;
  std::map<std::string, std::string> printed = ParseSettings(start.Out);
  for (const auto& [key, value] : fromFiles) EXPECT_EQ(printed[key], value) << "start-up " << key;
  EXPECT_EQ(printed.size(), 10u) << start.Out;

  // Change settings through the window, then reset: the files' values return.
  std::vector<std::string> args = base;
  for (const char* a :
       {"--set", "Buffer Size=55", "--set", "Frustum Culling=1", "--set", "GPU Skinning=0", "--set",
        "Parallel Evaluation=Serial", "--click", "Reset To Default"}) {
    args.push_back(a);
  }
  const RunResult reset = w.Run(args);
  ASSERT_EQ(reset.Status, 0) << reset.Err;
  printed = ParseSettings(reset.Out);
  for (const auto& [key, value] : fromFiles) EXPECT_EQ(printed[key], value) << "reset " << key;
}

// The reset stores the evaluation depth into the profiler's value itself,
// past its property: the file's value stands as written there.
TEST(KhostSettings, RangedSettingsStayInRangeAtStartUpAndAfterReset) {
  Workspace w;
  struct Case {
    std::string BufferText;
    std::string DepthText;
    std::string Buffer;  // in effect, and shown
    std::string Depth;   // at start-up, through the property
  };
  for (const Case& c : {Case{"99999999999", "99", "100000", "16"}, Case{"-1", "-5", "1", "0"}}) {
    const fs::path config = w.Config(
        "[Benchmark]\nBufferSize = " + c.BufferText + "\nEvaluationDepth = " + c.DepthText + "\n",
        kSmallScene);
    const std::vector<std::string> base = w.Headless(2, config, {"--print-settings"});
    const RunResult start = w.Run(base);
    ASSERT_EQ(start.Status, 0) << start.Err;
    EXPECT_EQ(ParseSettings(start.Out)["BufferSize"], c.Buffer) << "start-up " << c.BufferText;
    EXPECT_EQ(ParseSettings(start.Out)["EvaluationDepth"], c.Depth) << "start-up " << c.DepthText;
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--set", "Buffer Size=7", "--set", "Evaluation Depth=3", "--click",
                             "Reset To Default"});
    const RunResult reset = w.Run(args);
    ASSERT_EQ(reset.Status, 0) << reset.Err;
    EXPECT_EQ(ParseSettings(reset.Out)["BufferSize"], c.Buffer) << "reset " << c.BufferText;
    EXPECT_EQ(ParseSettings(reset.Out)["EvaluationDepth"], c.DepthText) << "reset " << c.DepthText;
  }
}

TEST(KhostSettings, ResetToANegativeEvaluationDepthKeepsItAndTheChartShowsTheTree) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = -1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path csv = w.Path("stats.csv");
  const RunResult r =
      w.Run(w.Headless(6, config,
                       {"--scene", "builtin", "--print-settings", "--select", "Evaluation",
                        "--click", "Reset To Default", "--stats", csv.string()}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ParseSettings(r.Out)["EvaluationDepth"], "-1") << r.Out;
  // Frame, Present, Evaluation and its two characters with two children each.
  std::istringstream in(ReadAll(csv));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 2u + 7u) << ReadAll(csv);
  EXPECT_EQ(lines[4].rfind("Character 1,1,", 0), 0u) << lines[4];
}

TEST(KhostSettings, ShippedConfigurationGivesTheDocumentedDefaults) {
  Workspace w;
  const RunResult r = w.Run(w.Headless(2, KHOST_SHIPPED_CONFIG, {"--print-settings"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::map<std::string, std::string> printed = ParseSettings(r.Out);
  const std::map<std::string, std::string> expected = {
      {"FrustumCulling", "1"},      {"ParallelPipeline", "0"}, {"ParallelEvaluation", "0"},
      {"ParallelDeformation", "0"}, {"GPUSkinning", "0"},      {"ProfilingType", "1"},
      {"EvaluationDepth", "0"},     {"BufferSize", "20"},      {"FrameReference", "1"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(printed.at(key), value) << key;
  EXPECT_GT(std::stoi(printed.at("NodeCount")), 0);
}

TEST(KhostSettings, SetEditsBooleansIntegersAndDropDownsThroughTheWindow) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult r = w.Run(w.Headless(
      3, config,
      {"--print-settings", "--set", "Frustum Culling=0", "--set", "Parallel Deformation=1", "--set",
       "Buffer Size=33", "--set", "Parallel Evaluation=Parallel", "--set", "Evaluation Depth=4"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::map<std::string, std::string> printed = ParseSettings(r.Out);
  EXPECT_EQ(printed.at("FrustumCulling"), "0");
  EXPECT_EQ(printed.at("ParallelDeformation"), "1");
  EXPECT_EQ(printed.at("BufferSize"), "33");
  EXPECT_EQ(printed.at("ParallelEvaluation"), "1");
  EXPECT_EQ(printed.at("EvaluationDepth"), "4");
}

TEST(KhostSettings, EditingNodeCountRebuildsTheScene) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::vector<std::string> base =
      w.Headless(3, config, {"--print-settings", "--scene", "builtin"});
  const RunResult before = w.Run(base);
  ASSERT_EQ(before.Status, 0) << before.Err;
  const int twoCharacters = std::stoi(ParseSettings(before.Out).at("NodeCount"));
  EXPECT_GE(twoCharacters, 40);
  EXPECT_LE(twoCharacters, 80);

  std::vector<std::string> args = base;
  args.insert(args.end(), {"--set", "Node Count=300"});
  const RunResult after = w.Run(args);
  ASSERT_EQ(after.Status, 0) << after.Err;
  // The fewest characters reaching 300 nodes: at most one skeleton (35
  // joints) more than asked for.
  const int nodes = std::stoi(ParseSettings(after.Out).at("NodeCount"));
  EXPECT_GE(nodes, 300);
  EXPECT_LT(nodes, 300 + 36);

  // Going down (from 16 characters), the scene keeps at most the nodes
  // asked for.
  const fs::path bigger = w.Config(kQuietApplication, "[Scene]\nCharacters = 16\n");
  const RunResult smaller = w.Run(
      w.Headless(3, bigger, {"--print-settings", "--set", "Node Count=100", "--scene", "builtin"}));
  ASSERT_EQ(smaller.Status, 0) << smaller.Err;
  const int fewer = std::stoi(ParseSettings(smaller.Out).at("NodeCount"));
  EXPECT_LE(fewer, 100);
  EXPECT_GT(fewer, 100 - 36);
}

// One headless capture with the display selector on `item` (empty: left
// alone), an evaluation depth of 1 and two characters.
std::vector<int> ChartForSelection(Workspace& w, const std::string& item, const fs::path& config) {
  const fs::path png = w.Path("select_" + (item.empty() ? std::string("none") : item) + ".png");
  std::vector<std::string> args = {"--headless",   "--frames",      "4",
                                   "--config-dir", config.string(), "--screenshot",
                                   png.string(),   "--scene",       "builtin"};
  if (!item.empty()) args.insert(args.end(), {"--select", item});
  const RunResult r = w.Run(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  const Image image = Load(png);
  EXPECT_EQ(image.Width, 800);
  EXPECT_EQ(image.Height, 420);
  if (image.Rgba.empty()) return {};
  return SeparatorRows(image);
}

TEST(KhostChart, SelectingEachDisplayItemChangesWhatTheChartShows) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  // Evaluation: its row, two characters with Skeleton and Constraints each
  // (7 rows). Rendering: its row with Culling and Submission (3 rows).
  // Devices: one row. The full chart: 9 rows plus 6 + 2 children, whose
  // closing separator falls below the view.
  const int lowerTop = 130;
  ExpectSeparators(ChartForSelection(w, "Evaluation", config), {90, 127, lowerTop + 7 * 15 + 2},
                   "Evaluation");
  ExpectSeparators(ChartForSelection(w, "Rendering", config), {90, 127, lowerTop + 3 * 15 + 2},
                   "Rendering");
  ExpectSeparators(ChartForSelection(w, "Devices", config), {90, 127, lowerTop + 15 + 2},
                   "Devices");
  ExpectSeparators(ChartForSelection(w, "DisplayAll", config), {90, 127}, "DisplayAll");
  ExpectSeparators(ChartForSelection(w, "", config), {90, 127}, "no selection");
}

TEST(KhostChart, FullChartWithoutChildrenEndsBelowItsNineRows) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  ExpectSeparators(ChartForSelection(w, "", config), {90, 127, 130 + 9 * 15 + 2}, "full chart");
}

TEST(KhostChart, ProfilingTypeZeroDrawsNoChartButKeepsTheHeader) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 0\n"
      "ProfilingType = 0\n",
      kSmallScene);
  const fs::path png = w.Path("off.png");
  const RunResult r = w.Run({"--headless", "--frames", "3", "--config-dir", config.string(),
                             "--screenshot", png.string(), "--print-settings"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ParseSettings(r.Out).at("ProfilingType"), "0");
  const Image image = Load(png);
  ASSERT_FALSE(image.Rgba.empty());
  EXPECT_TRUE(SeparatorRows(image).empty()) << ::testing::PrintToString(SeparatorRows(image));
  // The header strip and the dark band below it are still painted.
  EXPECT_TRUE(IsGrey(image.At(kChartColumn, kViewTop + 10), 128, 2));
  EXPECT_TRUE(IsGrey(image.At(kChartColumn, kViewTop + 82), 68, 2));

  // Switching profiling off in the window makes the chart go away too.
  const fs::path config2 = w.Config(kQuietApplication, kSmallScene);
  const fs::path png2 = w.Path("off2.png");
  const RunResult r2 = w.Run({"--headless", "--frames", "3", "--config-dir", config2.string(),
                              "--screenshot", png2.string(), "--set", "Profiling Mode=Off"});
  ASSERT_EQ(r2.Status, 0) << r2.Err;
  EXPECT_TRUE(SeparatorRows(Load(png2)).empty());
}

TEST(KhostChart, StatsFileListsTheChartsRows) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path csv = w.Path("stats.csv");
  const RunResult r = w.Run(w.Headless(
      3, config, {"--select", "Evaluation", "--stats", csv.string(), "--scene", "builtin"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::istringstream in(ReadAll(csv));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 2u + 7u) << ReadAll(csv);
  EXPECT_EQ(lines[0], "name,depth,average_us,minimum_us,maximum_us,average_cpu_us");
  EXPECT_EQ(lines[1].rfind("Frame,0,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("Present,0,", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Evaluation,0,", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("Character 1,1,", 0), 0u) << lines[4];
  EXPECT_EQ(lines[5].rfind("Skeleton,2,", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("Constraints,2,", 0), 0u) << lines[6];
  // Every average lies between its minimum and maximum; a character's
  // cycles have no CPU time, every other cycle has one.
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::stringstream s(lines[i]);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    const bool character = i >= 4 && i <= 9;
    ASSERT_EQ(f.size(), character ? 5u : 6u) << lines[i];
    EXPECT_LE(std::stod(f[3]), std::stod(f[2]) + 1e-3) << lines[i];
    if (!character) {
      EXPECT_GE(std::stod(f[5]), 0.0) << lines[i];
    }
    EXPECT_LE(std::stod(f[2]), std::stod(f[4]) + 1e-3) << lines[i];
  }
}

TEST(KhostHeadless, WithoutAScreenshotFlagWritesTheDefaultCapture) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult r = w.Run({"--frames", "2", "--config-dir", config.string()},
                            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::exists(w.Path("profiling-center.png")));
  EXPECT_NE(r.Out.find("profiling-center.png"), std::string::npos) << r.Out;
}

TEST(KhostHeadless, ManyScriptedActionsCostNoMoreMemoryThanOne) {
#if defined(__SANITIZE_THREAD__)
  // The race detector's shadow memory, not the heap, sets the peak there,
  // and 200 actions run for minutes under it.
  GTEST_SKIP() << "memory peaks are not the program's own under ThreadSanitizer";
#endif
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  std::vector<std::string> args = w.Headless(2, config);
  std::vector<std::string> one = args;
  one.insert(one.end(), {"--select", "Evaluation"});
  for (int i = 0; i < 100; ++i) {
    args.insert(args.end(), {"--select", i % 2 ? "Evaluation" : "Rendering", "--set",
                             "Buffer Size=" + std::to_string(30 + i)});
  }
  // AddressSanitizer keeps freed memory in quarantine, which would count
  // every allocation a run ever made; without it the peak is the live heap.
  std::map<std::string, std::string> env;
  if (const char* asan = std::getenv("ASAN_OPTIONS")) {
    env["ASAN_OPTIONS"] = std::string(asan) + ":quarantine_size_mb=0";
  }
  const RunResult single = w.Run(one, env);
  const RunResult many = w.Run(args, env);
  ASSERT_EQ(single.Status, 0) << single.Err;
  ASSERT_EQ(many.Status, 0) << many.Err;
  EXPECT_LT(many.PeakKb, single.PeakKb * 3 / 2)
      << "200 actions: " << many.PeakKb << " KiB, one: " << single.PeakKb << " KiB";
}

TEST(KhostHeadless, SizeFlagSetsTheCaptureSize) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path png = w.Path("small.png");
  const RunResult r = w.Run({"--headless", "--frames", "2", "--size", "900x400", "--config-dir",
                             config.string(), "--screenshot", png.string()});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const Image image = Load(png);
  EXPECT_EQ(image.Width, 900);
  EXPECT_EQ(image.Height, 400);
}

std::vector<std::vector<std::string>> ReadCsv(const fs::path& path) {
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

TEST(KhostMeasure, ComparingNodeCountsFindsEvaluationAndDeformationSlower) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path csv = w.Path("compare.csv");
  // Four blocks of each value, 10 frames each (4 counted): few enough for
  // the sanitizer builds, enough for an interval that excludes 1.
  const RunResult r =
      w.Run({"--headless", "--frames", "81", "--config-dir", config.string(), "--screenshot",
             w.Path("c.png").string(), "--compare", "Node Count=400,1845", "--compare-block", "10",
             "--compare-csv", csv.string(), "--print-settings"},
            {}, 300);  // the thread sanitizer's build paints a frame in about 0.3 s
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("A = 400, B = 1845; 4 blocks of A and 4 of B"), std::string::npos) << r.Out;
  // The run ends in a block of B: the scene has B's node count.
  EXPECT_GE(std::stoi(ParseSettings(r.Out)["NodeCount"]), 1845) << r.Out;
  const auto rows = ReadCsv(csv);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"cycle", "depth", "median_a_us", "median_b_us",
                                               "ratio", "ci_low", "ci_high", "verdict"}));
  std::vector<std::string> cycles;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    ASSERT_EQ(row.size(), 8u);
    cycles.push_back(row[0]);
    EXPECT_EQ(row[1], "0");  // top level only by default
    const double a = std::stod(row[2]);
    const double b = std::stod(row[3]);
    const double ratio = std::stod(row[4]);
    // The medians are printed to 0.001 us: for cycles of a microsecond or
    // so that rounding alone moves b / a by more than a thousandth.
    EXPECT_NEAR(ratio, b / a, ratio * (1e-3 + 0.0005 / a + 0.0005 / b) + 1e-3) << row[0];
    EXPECT_LE(std::stod(row[5]), ratio + 1e-3) << row[0];
    EXPECT_GE(std::stod(row[6]), ratio - 1e-3) << row[0];
    if (row[0] == "Evaluation" || row[0] == "Deformation") {
      EXPECT_EQ(row[7], "slower") << row[0];
      EXPECT_GT(ratio, 2.0) << row[0];
      EXPECT_GT(std::stod(row[5]), 1.0) << row[0];
    }
  }
  EXPECT_EQ(cycles, (std::vector<std::string>{"Frame", "Present", "Devices", "Input", "Animation",
                                              "Evaluation", "Deformation", "Upload", "Rendering",
                                              "Tool Paint", "Scene Update"}));
  // The same table on standard output.
  EXPECT_NE(r.Out.find("Deformation"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("slower"), std::string::npos) << r.Out;
}

TEST(KhostMeasure, RecordingAndTraceHoldEveryCycleOfEveryFrame) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path record = w.Path("frames.csv");
  const fs::path trace = w.Path("trace.json");
  const fs::path stats = w.Path("stats.csv");
  constexpr int kFrames = 6;
  // Work on the pool too: parallel evaluation, deformation and the pipeline.
  const std::vector<std::string> args = {"--headless",
                                         "--scene",
                                         "builtin",
                                         "--frames",
                                         std::to_string(kFrames),
                                         "--ui-rate",
                                         "0",
                                         "--config-dir",
                                         config.string(),
                                         "--screenshot",
                                         w.Path("r.png").string(),
                                         "--set",
                                         "Parallel Evaluation=Parallel",
                                         "--set",
                                         "Parallel Deformation=1",
                                         "--set",
                                         "Parallel Pipeline=1",
                                         "--record",
                                         record.string(),
                                         "--trace",
                                         trace.string(),
                                         "--stats",
                                         stats.string()};
  const RunResult r = w.Run(args);
  ASSERT_EQ(r.Status, 0) << r.Err;

  // The chart's rows, as --stats lists them: name and depth.
  std::vector<std::pair<std::string, std::string>> chart;
  for (const auto& row : ReadCsv(stats)) {
    if (row[0] != "name") chart.emplace_back(row[0], row[1]);
  }
  ASSERT_EQ(chart.size(), 11u + 2u * 3u + 2u);  // two characters, rendering's two parts

  const auto rows = ReadCsv(record);
  ASSERT_EQ(rows.size(), 1u + kFrames * chart.size());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "time_ms", "cycle", "depth", "duration_us",
                                               "cpu_us"}));
  // The CPU clock's granularity, and the recording's rounding to 1 ns.
  timespec resolution{};
  clock_getres(CLOCK_THREAD_CPUTIME_ID, &resolution);
  const double granularity = static_cast<double>(resolution.tv_nsec) / 1000.0 + 0.002;
  // Per frame and cycle: the recording's times on both clocks.
  std::map<std::pair<long long, std::string>, std::pair<double, double>> recorded;
  double lastTime = -1.0;
  for (int frame = 0; frame < kFrames; ++frame) {
    std::vector<std::pair<std::string, std::string>> cycles;
    for (std::size_t k = 0; k < chart.size(); ++k) {
      const auto& row = rows[1 + frame * chart.size() + k];
      ASSERT_EQ(row.size(), 6u);
      const double wall = std::stod(row[4]);
      // A character's cycles are measured on the steady clock only.
      const bool character = row[2].rfind("Evaluation/Character ", 0) == 0;
      EXPECT_EQ(row[5].empty(), character) << row[2];
      const double cpu = character ? -1.0 : std::stod(row[5]);
      recorded[{frame, row[2]}] = {wall, cpu};
      // Every cycle but the period runs on one thread, whose CPU time
      // cannot exceed the wall time around it; the period's is the whole
      // process's, every thread's.
      if (row[2] != "Devices") {
        EXPECT_LE(cpu, wall + granularity) << "frame " << frame << " " << row[2];
      }
      EXPECT_EQ(row[0], std::to_string(frame));
      const double time = std::stod(row[1]);
      if (k == 0) {
        EXPECT_GT(time, lastTime);
        lastTime = time;
      }
      EXPECT_EQ(time, lastTime);
      EXPECT_GE(std::stod(row[4]), 0.0) << row[2];
      const std::size_t slash = row[2].rfind('/');
      cycles.emplace_back(slash == std::string::npos ? row[2] : row[2].substr(slash + 1), row[3]);
    }
    EXPECT_EQ(cycles, chart) << "frame " << frame;
  }
  EXPECT_EQ(rows[1 + 4][2], "Animation");
  EXPECT_EQ(rows[1 + 7][2], "Evaluation/Character 1/Skeleton");

  // The trace: complete events with name, ts and dur, each child inside
  // one of its parent's events of the same frame, pool work inside its
  // cycle, some of it off the loop's thread. Each cycle's events carry the
  // recording's times of that frame: its event's length, or the
  // measured_us of an event that is not its time alone, and its cpu_us.
  const nlohmann::json document = nlohmann::json::parse(ReadAll(trace));
  const nlohmann::json& events = document.at("traceEvents");
  std::set<std::pair<long long, std::string>> traced;
  for (const auto& e : events) {
    if (e.at("ph") != "X" || e.at("cat") != "cycle") continue;
    const auto key = std::make_pair(e.at("args").at("frame").get<long long>(),
                                    e.at("args").at("cycle").get<std::string>());
    const auto found = recorded.find(key);
    ASSERT_NE(found, recorded.end()) << e.dump();
    const nlohmann::json& carried = e.at("args");
    const double wall = carried.contains("measured_us") ? carried.at("measured_us").get<double>()
                                                        : e.at("dur").get<double>();
    EXPECT_NEAR(wall, found->second.first, 0.002) << e.dump();
    if (found->second.second < 0.0) {
      EXPECT_TRUE(carried.at("cpu_us").is_null()) << e.dump();
    } else {
      EXPECT_NEAR(carried.at("cpu_us").get<double>(), found->second.second, 0.002) << e.dump();
    }
    traced.insert(key);
  }
  EXPECT_EQ(traced.size(), recorded.size());
  std::map<std::pair<long long, std::string>, std::vector<std::pair<double, double>>> spans;
  int complete = 0;
  int loopThread = -1;
  for (const auto& e : events) {
    ASSERT_TRUE(e.contains("name") && e.contains("ts") && e.contains("dur")) << e.dump();
    if (e.at("ph") != "X") continue;
    ++complete;
    ASSERT_GE(e.at("dur").get<double>(), 0.0);
    if (e.at("args").at("cycle") == "Frame") loopThread = e.at("tid").get<int>();
    if (e.at("cat") == "cycle") {
      spans[{e.at("args").at("frame").get<long long>(), e.at("args").at("cycle")}].emplace_back(
          e.at("ts").get<double>(), e.at("ts").get<double>() + e.at("dur").get<double>());
    }
  }
  EXPECT_GE(complete, kFrames * static_cast<int>(chart.size()));
  bool offLoop = false;
  for (const auto& e : events) {
    if (e.at("ph") != "X") continue;
    const std::string path = e.at("args").at("cycle");
    const std::size_t slash = path.rfind('/');
    if (e.at("tid").get<int>() != loopThread) offLoop = true;
    const bool pool = e.at("cat") == "pool";
    if (slash == std::string::npos && !pool) continue;
    const std::string parent = pool ? path : path.substr(0, slash);
    const auto found = spans.find({e.at("args").at("frame").get<long long>(), parent});
    ASSERT_NE(found, spans.end()) << e.dump();
    const double begin = e.at("ts").get<double>();
    const double end = begin + e.at("dur").get<double>();
    bool inside = false;
    for (const auto& [b, x] : found->second) inside |= b <= begin + 1e-3 && end <= x + 1e-3;
    EXPECT_TRUE(inside) << e.dump();
  }
  EXPECT_TRUE(offLoop) << "no event on a pool thread";
}

TEST(KhostMeasure, AKilledRunKeepsItsRecordingAtThePath) {
  Workspace w;
  const fs::path record = w.Path("frames.csv");
  std::ofstream(record) << "an older recording\n";
  // Far more frames than the run gets through before it is killed.
  const RunResult r = w.Run({"--headless", "--frames", "1000000", "--config-dir",
                             KHOST_SHIPPED_CONFIG, "--record", record.string()},
                            {}, 8);
  ASSERT_EQ(r.Status, 128 + SIGKILL) << r.Err;
  const std::string text = ReadAll(record);
  EXPECT_EQ(text.rfind("frame,time_ms,cycle,depth,duration_us,cpu_us\n", 0), 0u)
      << text.substr(0, 200);
  EXPECT_EQ(text.find("older"), std::string::npos);
  // It is written in whole rows, so the kill leaves no torn last row.
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << text.substr(text.size() - std::min<std::size_t>(text.size(), 80));
  // Nothing is left beside it.
  for (const auto& entry : fs::directory_iterator(w.Path("."))) {
    EXPECT_EQ(entry.path().filename().string().rfind(".frames.csv", 0), std::string::npos);
    EXPECT_EQ(entry.path().filename().string().rfind(".khost-", 0), std::string::npos);
  }
}

TEST(KhostMeasure, ARefusedActionLeavesAnOlderRecordingAlone) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("frames.csv");
  // Actions and a comparison's values are checked against the tool as
  // built, before the first frame and before any output is opened.
  const std::vector<std::vector<std::string>> refused = {
      {"--set", "No Such Editor=1"},
      {"--select", "Nowhere"},
      {"--compare", "Frustum Culling=1,7", "--frames", "29", "--compare-block", "7"}};
  for (const std::vector<std::string>& extra : refused) {
    std::ofstream(record) << "an older recording\n";
    std::vector<std::string> args = {"--headless",   "--frames",      "3",
                                     "--config-dir", config.string(), "--record",
                                     record.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << extra[1] << ": " << r.Err;
    EXPECT_EQ(ReadAll(record), "an older recording\n") << extra[1];
    for (const auto& entry : fs::directory_iterator(w.Path("."))) {
      EXPECT_EQ(entry.path().filename().string().rfind(".frames.csv", 0), std::string::npos);
    }
  }
  // Before any output is opened: a FIFO nobody reads, which opening
  // refuses (status 1), is not reached.
  const fs::path fifo = w.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const RunResult r = w.Run({"--headless", "--frames", "3", "--config-dir", config.string(),
                             "--trace", fifo.string(), "--select", "Nowhere"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_NE(r.Err.find("'Nowhere'"), std::string::npos) << r.Err;
}

TEST(KhostMeasure, OutputsThatAreOneFileOrAnInputAreRefusedBeforeAnythingIsWritten) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path target = w.Path("out.csv");
  const fs::path link = w.Path("link.csv");
  const std::string application = (config / "Application.txt").string();
  const std::string before = ReadAll(application);
  const std::vector<std::vector<std::string>> refused = {
      {"--record", target.string(), "--trace", target.string()},
      {"--record", target.string(), "--stats", link.string()},  // a link to it
      {"--screenshot", target.string(), "--window-screenshot", target.string()},
      {"--trace", application}};
  for (const std::vector<std::string>& outputs : refused) {
    std::ofstream(target) << "older\n";
    fs::remove(link);
    fs::create_symlink(target, link);
    std::vector<std::string> args = {"--headless", "--frames", "3", "--config-dir",
                                     config.string()};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << outputs[0] << " " << outputs[1] << ": " << r.Err;
    EXPECT_NE(r.Err.find(outputs[0]), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(target), "older\n") << outputs[0];
    EXPECT_EQ(ReadAll(application), before);
    EXPECT_FALSE(fs::exists(w.Path("profiling-center.png")));
  }
}

TEST(KhostLive, WindowUnderXvfbShowsTheSamePictureAsHeadless) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path live = w.Path("live.png");
  const fs::path headless = w.Path("headless.png");
  const RunResult a = w.Run({"--frames", "4", "--config-dir", config.string(), "--screenshot",
                             live.string(), "--select", "Devices"},
                            {{"DISPLAY", server.Display()}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_EQ(a.Status, 0) << a.Err;
  EXPECT_EQ(a.Err.find("headless"), std::string::npos) << "no window was opened: " << a.Err;
  const RunResult b = w.Run({"--headless", "--frames", "4", "--config-dir", config.string(),
                             "--screenshot", headless.string(), "--select", "Devices"});
  ASSERT_EQ(b.Status, 0) << b.Err;

  const Image x = Load(live);
  const Image y = Load(headless);
  ASSERT_EQ(x.Width, y.Width);
  ASSERT_EQ(x.Height, y.Height);
  // The same chart layout...
  EXPECT_EQ(SeparatorRows(x), SeparatorRows(y));
  ExpectSeparators(SeparatorRows(x), {90, 127, 147}, "live");
  // ...and the same left column of controls, pixel for pixel (nearly: the
  // numbers in the chart and header differ from run to run, the controls
  // do not).
  int differing = 0;
  int total = 0;
  for (int row = 0; row < x.Height; ++row) {
    for (int col = 0; col < kViewLeft - 6; ++col) {
      const unsigned char* p = x.At(col, row);
      const unsigned char* q = y.At(col, row);
      ++total;
      if (std::abs(p[0] - q[0]) > 8 || std::abs(p[1] - q[1]) > 8 || std::abs(p[2] - q[2]) > 8) {
        ++differing;
      }
    }
  }
  EXPECT_LT(differing, total / 200) << differing << " of " << total << " pixels differ";
}

// ---------------------------------------------------------------------------
// The viewport: left of the tool, 640 wide and the tool's 420 tall unless
// --viewport says otherwise.

constexpr int kViewportWidth = 640;
constexpr int kToolHeight = 420;

// The window pixels of the characters' chests (midway along the tube from
// the first to the second spine joint) that the scene's camera sees at
// frame `frame` of a headless run, projected as a viewport of
// width x height does; ones near the border are left out.
std::vector<std::pair<int, int>> VisibleChests(int characters, long long frame, int width,
                                               int height) {
  khost::Scene scene(characters);
  scene.SetCameraAspect(static_cast<float>(width) / static_cast<float>(height));
  const double seconds = static_cast<double>(frame) / 60.0;
  const khost::Camera& camera = scene.GetCamera();
  const khost::Vec3 f = khost::Normalize(camera.Forward);
  const khost::Vec3 s = khost::Normalize(khost::Cross(f, camera.Up));
  const khost::Vec3 u = khost::Cross(s, f);
  const float focal = 1.0f / std::tan(camera.VerticalFovRadians * 0.5f);
  std::vector<std::pair<int, int>> points;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    khost::Character& c = scene.GetCharacter(i);
    scene.Animate(c, seconds, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    const khost::Vec3 chest =
        (khost::GetTranslation(c.Poses[0].World[2]) + khost::GetTranslation(c.Poses[0].World[3])) *
        0.5f;
    const khost::Vec3 d = chest - camera.Position;
    const float z = khost::Dot(d, f);
    if (z <= camera.Near) continue;
    const float nx = khost::Dot(d, s) * focal / camera.Aspect / z;
    const float ny = khost::Dot(d, u) * focal / z;
    if (std::fabs(nx) > 0.95f || std::fabs(ny) > 0.95f) continue;
    points.emplace_back(static_cast<int>((nx + 1.0f) * 0.5f * static_cast<float>(width)),
                        static_cast<int>((1.0f - ny) * 0.5f * static_cast<float>(height)));
  }
  return points;
}

bool IsColour(const unsigned char* p, int r, int g, int b, int tolerance = 10) {
  return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
         std::abs(p[2] - b) <= tolerance;
}
// The viewport's sky, ground and grid line colours.
bool IsBackdrop(const unsigned char* p) {
  return IsColour(p, 158, 184, 219) || IsColour(p, 102, 115, 102) || IsColour(p, 71, 82, 71);
}

int DifferingViewportPixels(const Image& a, const Image& b) {
  int differing = 0;
  for (int y = 0; y < a.Height; ++y) {
    for (int x = 0; x < kViewportWidth; ++x) {
      if (std::memcmp(a.At(x, y), b.At(x, y), 3) != 0) ++differing;
    }
  }
  return differing;
}

TEST(KhostViewport, WindowShowsTheCharactersWhereTheCameraSeesThemBesideTheTool) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "[Scene]\nCharacters = 12\n");
  const auto run = [&](int frames, const std::string& name) {
    const RunResult r =
        w.Run({"--headless", "--scene", "builtin", "--frames", std::to_string(frames),
               "--config-dir", config.string(), "--window-screenshot", w.Path(name).string(),
               "--screenshot", w.Path("tool-" + name).string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    return Load(w.Path(name));
  };
  const Image at30 = run(31, "a30.png");
  const Image again = run(31, "b30.png");
  const Image at90 = run(91, "a90.png");
  ASSERT_EQ(at30.Width, kViewportWidth + 800);
  ASSERT_EQ(at30.Height, kToolHeight);

  // Every chest in view is drawn where the camera puts it: some pixel of a
  // small patch around it is neither sky, ground nor grid.
  const auto chests = VisibleChests(12, 30, kViewportWidth, kToolHeight);
  ASSERT_GE(chests.size(), 2u);
  for (const auto& [cx, cy] : chests) {
    bool drawn = false;
    for (int y = cy - 2; y <= cy + 2; ++y) {
      for (int x = cx - 2; x <= cx + 2; ++x) drawn = drawn || !IsBackdrop(at30.At(x, y));
    }
    EXPECT_TRUE(drawn) << "no character at " << cx << "," << cy;
  }
  // Sky above, ground below the characters.
  EXPECT_TRUE(IsColour(at30.At(5, 5), 158, 184, 219));
  EXPECT_TRUE(IsBackdrop(at30.At(kViewportWidth / 2, kToolHeight - 3)));

  // The same flags draw the same pose; sixty frames later the characters
  // have moved.
  EXPECT_EQ(DifferingViewportPixels(at30, again), 0);
  EXPECT_GT(DifferingViewportPixels(at30, at90), kViewportWidth * kToolHeight / 100);

  // The tool's part of the window is the tool screenshot, pixel for pixel.
  const Image tool = Load(w.Path("tool-a30.png"));
  ASSERT_EQ(tool.Width, 800);
  ASSERT_EQ(tool.Height, kToolHeight);
  int differing = 0;
  for (int y = 0; y < tool.Height; ++y) {
    for (int x = 0; x < tool.Width; ++x) {
      if (std::memcmp(tool.At(x, y), at30.At(kViewportWidth + x, y), 4) != 0) ++differing;
    }
  }
  EXPECT_EQ(differing, 0);
}

TEST(KhostViewport, ViewportFlagSizesOrRemovesIt) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult tall =
      w.Run({"--headless", "--frames", "2", "--config-dir", config.string(), "--viewport",
             "300x500", "--window-screenshot", w.Path("tall.png").string()});
  ASSERT_EQ(tall.Status, 0) << tall.Err;
  const Image t = Load(w.Path("tall.png"));
  EXPECT_EQ(t.Width, 300 + 800);
  EXPECT_EQ(t.Height, 500);
  // Below the tool, the window's background.
  EXPECT_TRUE(IsGrey(t.At(300 + 400, 480), 64, 2));
  const RunResult none =
      w.Run({"--headless", "--frames", "2", "--config-dir", config.string(), "--viewport", "0x0",
             "--window-screenshot", w.Path("none.png").string()});
  ASSERT_EQ(none.Status, 0) << none.Err;
  const Image n = Load(w.Path("none.png"));
  EXPECT_EQ(n.Width, 800);
  EXPECT_EQ(n.Height, kToolHeight);
}

// The chart's rows from a --stats file: name -> {average, minimum, maximum}.
std::map<std::string, std::vector<double>> ReadStats(const fs::path& path) {
  std::map<std::string, std::vector<double>> rows;
  std::istringstream in(ReadAll(path));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, depth, average, minimum, maximum;
    std::getline(fields, name, ',');
    std::getline(fields, depth, ',');
    std::getline(fields, average, ',');
    std::getline(fields, minimum, ',');
    std::getline(fields, maximum, ',');
    rows[name] = {std::stod(average), std::stod(minimum), std::stod(maximum)};
  }
  return rows;
}

TEST(KhostUiRate, FramesBetweenRepaintsRecordNoToolPaint) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const auto stats = [&](const std::string& rate) {
    const fs::path csv = w.Path("rate" + rate + ".csv");
    const RunResult r =
        w.Run({"--headless", "--frames", "40", "--config-dir", config.string(), "--ui-rate", rate,
               "--stats", csv.string(), "--record", w.Path("frames" + rate + ".csv").string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ReadStats(csv);
  };
  // 10 Hz with 1/60 s steps: one frame in six paints the tool.
  const auto slow = stats("10");
  ASSERT_TRUE(slow.count("Tool Paint"));
  EXPECT_EQ(slow.at("Tool Paint")[1], 0.0);
  EXPECT_GT(slow.at("Tool Paint")[2], 0.0);
  // The profiler gets the 0s; a recording lists only the paints that ran
  // (about 40 / 6, plus the last frame's), each with a real duration.
  int paints = 0;
  for (const auto& row : ReadCsv(w.Path("frames10.csv"))) {
    if (row[2] != "Tool Paint") continue;
    ++paints;
    EXPECT_GT(std::stod(row[4]), 0.0);
  }
  EXPECT_GE(paints, 6);
  EXPECT_LE(paints, 9);
  const auto every = stats("0");
  EXPECT_GT(every.at("Tool Paint")[1], 0.0);
}

TEST(KhostStatistics, OnlyWholeFramesArePublished) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // One frame has no measured period: nothing is published. From two on,
  // every cycle of a published frame has its sample, the period included.
  for (const char* frames : {"1", "2"}) {
    const fs::path csv = w.Path(std::string("f") + frames + ".csv");
    const RunResult r = w.Run({"--headless", "--frames", frames, "--config-dir", config.string(),
                               "--stats", csv.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto rows = ReadStats(csv);
    ASSERT_TRUE(rows.count("Devices")) << frames;
    const bool published = rows.at("Devices")[0] > 0.0;
    EXPECT_EQ(published, std::string(frames) == "2") << frames;
    for (const char* name : {"Frame", "Input", "Evaluation", "Rendering", "Tool Paint"}) {
      ASSERT_TRUE(rows.count(name)) << name;
      EXPECT_EQ(rows.at(name)[0] > 0.0, published) << frames << " frames: " << name;
    }
  }
}

}  // namespace

namespace {

// A window manager would hold the window to its size limits; with none (as
// under a bare Xvfb) the surface itself grows a smaller window back.
TEST(KhostLive, TheToolsMinimumSizeHoldsLiveAndOnTheCommandLine) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::map<std::string, std::string> live = {{"DISPLAY", server.Display()},
                                                   {"WAYLAND_DISPLAY", ""}};
  const RunResult small =
      w.Run({"--frames", "2", "--config-dir", config.string(), "--size", "500x300"}, live);
  EXPECT_EQ(small.Status, 2) << small.Err;
  const std::string said = "below the tool's minimum size ";
  const std::size_t at = small.Err.find(said);
  ASSERT_NE(at, std::string::npos) << small.Err;
  int minWidth = 0, minHeight = 0;
  ASSERT_EQ(std::sscanf(small.Err.c_str() + at + said.size(), "%dx%d", &minWidth, &minHeight), 2);
  EXPECT_GT(minWidth, 500);
  EXPECT_GT(minHeight, 300);
  // Exactly the minimum is a size khost opens.
  const std::string exact = std::to_string(minWidth) + "x" + std::to_string(minHeight);
  const RunResult fits =
      w.Run({"--frames", "2", "--config-dir", config.string(), "--size", exact}, live);
  EXPECT_EQ(fits.Status, 0) << fits.Err;

  // A live window with that minimum cannot be made smaller.
  setenv("DISPLAY", server.Display().c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  std::string error;
  {
    auto window = KSurface_CreateWindow(minWidth, minHeight, "minimum", &error);
    ASSERT_NE(window, nullptr) << error;
    window->SetMinimumSize(minWidth, minHeight);
    ASSERT_TRUE(window->Resize(minWidth - 200, minHeight - 100, &error)) << error;
    for (int i = 0; i < 50; ++i) {
      window->PollEvents(nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(window->Width(), minWidth);
    EXPECT_GE(window->Height(), minHeight);
  }
  unsetenv("DISPLAY");
}

}  // namespace

namespace {

TEST(KhostMessages, TheSelectorsLabelPointsToSelectAndAnUnreachableDisplayIsNamed) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  for (const std::vector<std::string>& action :
       {std::vector<std::string>{"--click", "Display Details"},
        std::vector<std::string>{"--set", "Display Details=Evaluation"}}) {
    std::vector<std::string> args = {"--headless", "--frames", "2", "--config-dir",
                                     config.string()};
    args.insert(args.end(), action.begin(), action.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_NE(r.Err.find("--select"), std::string::npos) << r.Err;
  }
  // A display that is named but does not exist: said, then headless.
  const RunResult r = w.Run({"--frames", "2", "--config-dir", config.string(), "--screenshot",
                             w.Path("nodisplay.png").string()},
                            {{"DISPLAY", ":251"}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("cannot open the display DISPLAY=:251"), std::string::npos) << r.Err;
}

}  // namespace

namespace {

// Eight characters: deformation costs about 0.1 ms a frame on the CPU and
// next to nothing with GPU skinning, an effect far beyond any noise.
const char* kTuneScene = "[Scene]\nCharacters = 8\n";

}  // namespace

TEST(KhostTune, FindsGpuSkinningForDeformationAndRestoresTheStart) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kTuneScene);
  const fs::path csv = w.Path("tune.csv");
  // Forty blocks of 8 frames (2 counted): four configurations raced in
  // a few blocks each and three checked in four rounds.
  const RunResult r =
      w.Run(w.Headless(321, config,
                       {"--scene", "builtin", "--tune", "--tune-target", "Deformation",
                        "--tune-settings", "Frustum Culling,GPU Skinning", "--tune-block", "8",
                        "--tune-csv", csv.string(), "--print-settings"}),
            {}, 300);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("Tuning \"Deformation\" over 2 settings (4 configurations): "),
            std::string::npos)
      << r.Out;
  const std::size_t best = r.Out.find("Best:  ");
  ASSERT_NE(best, std::string::npos) << r.Out;
  EXPECT_NE(r.Out.substr(best, r.Out.find('\n', best) - best).find("GPU Skinning=1"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("Start: Frustum Culling=1, GPU Skinning=0"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Verdict: Measurably faster than the current configuration: "),
            std::string::npos)
      << r.Out;
  // The start is back once the search is done.
  EXPECT_EQ(ParseSettings(r.Out)["GPUSkinning"], "0") << r.Out;
  EXPECT_EQ(ParseSettings(r.Out)["FrustumCulling"], "1") << r.Out;

  const auto rows = ReadCsv(csv);
  ASSERT_GE(rows.size(), 8u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"kind", "configuration", "setting", "value",
                                               "blocks", "frames", "median_us", "ratio", "ci_low",
                                               "ci_high", "note"}));
  int measured = 0;
  int blocks = 0;
  int frames = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 11u);
    if (row[0] == "best") {
      EXPECT_NE(row[1].find("GPU Skinning=1"), std::string::npos) << row[1];
      // Faster than the start, by an interval that stays below one.
      EXPECT_LT(std::stod(row[7]), 0.5);
      EXPECT_LE(std::stod(row[8]), std::stod(row[7]));
      EXPECT_LT(std::stod(row[9]), 1.0);
      EXPECT_EQ(row[10], "faster");
    } else if (row[0] == "effect" && row[2] == "GPU Skinning") {
      // Switching GPU skinning off again from the best is slower.
      EXPECT_EQ(row[3], "0");
      EXPECT_GT(std::stod(row[8]), 1.0);
      EXPECT_EQ(row[10], "slower");
    } else if (row[0] == "measured") {
      ++measured;
      blocks += std::stoi(row[4]);
      frames += std::stoi(row[5]);
    }
  }
  // Every configuration ran; the blocks' counted frames are all used, and
  // the budget's blocks but for less than a check round (the best, the
  // start and the two one-switch neighbours: at most three left over).
  EXPECT_EQ(measured, 4);
  EXPECT_GE(blocks, 40 - 3);
  EXPECT_LE(blocks, 40);
  EXPECT_EQ(frames, 2 * blocks);
  EXPECT_EQ(rows.back()[0], "verdict");
}

TEST(KhostTune, WriteChangesOnlyTheTunedKeyAndResetReadsIt) {
  Workspace w;
  const std::string application =
      "; the host's settings\n[Display]\nEarlyFrustumCulling = Yes\n\n"
      "; deform on the GPU?\nUseGPUSkinDeform   =   No\n" +
      std::string(kQuietApplication);
  const std::string task =
      "[Evaluation]\r\nPipeline = Serial\r\nEvaluation = 0\r\n" + std::string(kTuneScene);
  const fs::path config = w.Config(application, task);
  const RunResult r =
      w.Run(w.Headless(193, config,
                       {"--scene", "builtin", "--tune", "--tune-target", "Deformation",
                        "--tune-settings", "GPU Skinning", "--tune-block", "8", "--tune-write",
                        "--tune-apply", "--print-settings"}),
            {}, 300);
  ASSERT_EQ(r.Status, 0) << r.Err;
  // Applied: the run ends with the recommended setting.
  EXPECT_EQ(ParseSettings(r.Out)["GPUSkinning"], "1") << r.Out;
  EXPECT_NE(r.Out.find("line 6: \"UseGPUSkinDeform   =   No\" -> \"UseGPUSkinDeform   =   Yes\""),
            std::string::npos)
      << r.Out;
  // One value changed; every other byte of both files stays.
  std::string expected = application;
  expected.replace(expected.find("No\n"), 2, "Yes");
  EXPECT_EQ(ReadAll(config / "Application.txt"), expected);
  EXPECT_EQ(ReadAll(config / "Task.txt"), task);
  EXPECT_EQ(FolderEntries(config), (std::vector<std::string>{"Application.txt", "Task.txt"}));

  // The tool's reset reads the tuned value back.
  const RunResult reset = w.Run(w.Headless(3, config,
                                           {"--scene", "builtin", "--set", "GPU Skinning=0",
                                            "--click", "Reset To Default", "--print-settings"}));
  ASSERT_EQ(reset.Status, 0) << reset.Err;
  EXPECT_EQ(ParseSettings(reset.Out)["GPUSkinning"], "1") << reset.Out;
  EXPECT_EQ(ParseSettings(reset.Out)["FrustumCulling"], "1") << reset.Out;
}

TEST(KhostTune, BadInputIsRefusedBeforeAnythingRunsOrIsWritten) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::string before = ReadAll(config / "Application.txt");
  struct Case {
    std::vector<std::string> Args;
    std::vector<std::string> Named;
  };
  const std::vector<Case> cases = {
      {{"--tune-settings", "GPU Skinning,Buffer Size"}, {"'Buffer Size'", "not an engine setting"}},
      {{"--tune-settings", "Node Count"}, {"'Node Count'", "never searched"}},
      {{"--tune-settings", "Frustum Culing"}, {"unknown caption 'Frustum Culing'"}},
      {{"--tune-target", "Deformations"}, {"unknown cycle 'Deformations'"}},
      {{"--tune-target", "Evaluation/Character 3"}, {"'Evaluation/Character 3'", "N from 1 to 2"}},
      // Two settings in 10-frame blocks need 1 + 10 * (8 + 8) frames.
      {{"--tune-settings", "Frustum Culling,GPU Skinning", "--tune-block", "10", "--frames", "160"},
       {"--frames", "161"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> more = {"--scene",
                                     "builtin",
                                     "--tune",
                                     "--tune-csv",
                                     w.Path("t.csv").string(),
                                     "--tune-write",
                                     "--record",
                                     w.Path("r.csv").string()};
    more.insert(more.end(), c.Args.begin(), c.Args.end());
    const RunResult r = w.Run(w.Headless(400, config, more));
    EXPECT_EQ(r.Status, 2) << c.Args[1] << ": " << r.Err;
    for (const std::string& part : c.Named) {
      EXPECT_NE(r.Err.find(part), std::string::npos) << c.Args[1] << ": " << r.Err;
    }
    for (const char* file : {"t.csv", "r.csv", "s.png"}) {
      EXPECT_FALSE(fs::exists(w.Path(file))) << c.Args[1] << ": " << file;
    }
  }
  EXPECT_EQ(ReadAll(config / "Application.txt"), before);
}

TEST(KhostTune, ARunCutShortGivesTheAnswerForWhatWasMeasuredAndWritesNothing) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kTuneScene);
  const std::string application = ReadAll(config / "Application.txt");
  const fs::path fifo = w.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A recording nobody reads fails after 5 s and ends the run long before
  // the search's budget is spent.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const fs::path csv = w.Path("tune.csv");
  const RunResult r = w.Run(
      w.Headless(1000001, config,
                 {"--scene", "builtin", "--tune", "--tune-target", "Deformation", "--tune-settings",
                  "GPU Skinning", "--tune-block", "8", "--tune-write", "--tune-apply", "--tune-csv",
                  csv.string(), "--record", fifo.string(), "--print-settings"}),
      {}, 120);
  close(reader);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("--record: "), std::string::npos) << r.Err;
  EXPECT_NE(r.Out.find("The run ended before the search did"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Verdict: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("--tune-write: the search was cut short; nothing written"),
            std::string::npos)
      << r.Out;
  // The configuration files are left alone, and the answer's CSV holds
  // both configurations' blocks.
  EXPECT_EQ(ReadAll(config / "Application.txt"), application);
  const auto rows = ReadCsv(csv);
  int measured = 0;
  for (const auto& row : rows) {
    if (row[0] == "measured") {
      ++measured;
      EXPECT_GE(std::stoi(row[4]), 1) << row[1];
    }
  }
  EXPECT_EQ(measured, 2);
}
