// khost's standard output, the file-size limit, outputs on khost's own
// descriptors and how outside text is echoed, through real runs.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "khost/e2e_support.h"

namespace {

using namespace khost_e2e;

// Text that would act on a terminal or reorder what it shows: a title
// sequence, a stray 8-bit CSI, a right-to-left override and an isolate.
const std::string kHostile =
    "\x1b]0;x\x07\x9b"
    "2J\xe2\x80\xae"
    "R\xe2\x81\xa6";

// No byte of it reaches a message raw.
void ExpectNoRawHostileBytes(const std::string& text) {
  for (const char* raw : {"\x1b", "\x07", "\x9b", "\xe2\x80\xae", "\xe2\x81\xa6"}) {
    EXPECT_EQ(text.find(raw), std::string::npos) << text;
  }
}

TEST(KhostStreams, StandardOutputIsCheckedAndAClosedPipeEndsTheRunQuietly) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  if (access("/dev/full", W_OK) == 0) {
    const auto full = [] {
      const int fd = open("/dev/full", O_WRONLY);
      dup2(fd, 1);
      close(fd);
    };
    for (const std::vector<std::string>& args :
         {w.Headless(3, config, {"--scene", "builtin", "--print-settings"}),
          std::vector<std::string>{"--help"}}) {
      const RunResult r = w.Run(args, {}, 60, full);
      EXPECT_EQ(r.Status, 1) << args[0] << ": " << r.Err;
      EXPECT_NE(r.Err.find("khost: cannot write to standard output: writing failed (No space"),
                std::string::npos)
          << r.Err;
    }
  }
  // Standard output a pipe nobody reads any more (`| head -1`), for the
  // printed settings and a recording to "-": the run ends at once, without a
  // word, with the status of a tool ended by SIGPIPE.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const RunResult r = w.Run(
      w.Headless(1000000, config, {"--scene", "builtin", "--print-settings", "--record", "-"}), {},
      60, [&] { dup2(ends[1], 1); });
  close(ends[1]);
  EXPECT_EQ(r.Status, 128 + SIGPIPE) << r.Err;
  EXPECT_EQ(r.Err, "");
}

// Standard output redirected into a file that is also an output would lose
// the printed text when the output replaces the file: refused before
// anything is written. Naming the stream itself ("-") writes through it.
TEST(KhostStreams, AnOutputThatIsTheRedirectedStandardOutputIsRefusedUnlessNamedAsIt) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path shared = w.Path("r.txt");
  const auto into = [&] {
    const int fd = open(shared.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
  };
  const RunResult refused =
      w.Run(w.Headless(3, config,
                       {"--scene", "builtin", "--record", shared.string(), "--print-settings"}),
            {}, 60, into);
  EXPECT_EQ(refused.Status, 2) << refused.Err;
  EXPECT_NE(
      refused.Err.find("--record '" + shared.string() + "' is the file standard output goes to"),
      std::string::npos)
      << refused.Err;
  EXPECT_EQ(fs::file_size(shared), 0u);

  const RunResult through =
      w.Run(w.Headless(3, config, {"--scene", "builtin", "--record", "-"}), {}, 60, into);
  EXPECT_EQ(through.Status, 0) << through.Err;
  EXPECT_GT(fs::file_size(shared), 0u);
}

TEST(KhostStreams, TheFileSizeLimitIsANamedFailureAndTheRecordingEndsAtAWholeRow) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("r.csv");
  constexpr rlim_t kLimit = 64 * 1024;
  const RunResult r = w.Run(
      w.Headless(100000, config, {"--scene", "builtin", "--record", record.string()}), {}, 120, [] {
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
      });
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("khost: --record: cannot write '" + record.string() +
                       "': it reached the file-size limit"),
            std::string::npos)
      << r.Err;
  // As much as fits, in whole rows of five fields.
  const std::string text = ReadAll(record);
  EXPECT_GT(text.size(), kLimit - 200);
  EXPECT_LE(text.size(), kLimit);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 5) << line;  // six fields
  }
}

TEST(KhostStreams, AnOutputOnOneOfKhostsOwnDescriptorsIsRefused) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path mine = w.Path("mine.csv");
  const fs::path shot = w.Path("s.png");
  // khost starts with descriptors 0 to 2 and the caller's 7 (as after
  // 7>mine.csv); the first it opens itself, 3, is its X connection.
  const auto handOver = [&] {
    close_range(3, ~0U, 0);
    const int fd = open(mine.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 7);
    if (fd != 7) close(fd);
  };
  const auto live = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--frames", "20",      "--config-dir", config.string(),
                                     "--scene",  "builtin", "--screenshot", shot.string()};
    args.insert(args.end(), more.begin(), more.end());
    return w.Run(args, {{"DISPLAY", server.Display()}, {"WAYLAND_DISPLAY", ""}}, 60, handOver);
  };
  for (const char* own : {"/dev/fd/3", "/proc/self/fd/3"}) {
    const RunResult r = live({"--stats", "/dev/fd/7", "--record", own});
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_NE(r.Err.find("--record '" + std::string(own) + "' is a socket khost itself holds open"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(ReadAll(mine), "");
    EXPECT_FALSE(fs::exists(shot));
  }
  // The caller's descriptor is the caller's to give.
  const RunResult r = live({"--stats", "/dev/fd/7"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(mine).rfind("name,depth,", 0), 0u) << ReadAll(mine);
}

TEST(KhostMessages, OutsideTextIsEchoedEscapedAndCut) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // A scene path: escaped, and cut well before its 5000 bytes.
  const std::string path = w.Path(kHostile + std::string(5000, 'p')).string();
  const RunResult scene = w.Run(w.Headless(2, config, {"--scene", path}));
  EXPECT_EQ(scene.Status, 2) << scene.Err;
  EXPECT_NE(scene.Err.find("\\e]0;x\\a\\x9b2J\\u202eR\\u2066ppp"), std::string::npos) << scene.Err;
  EXPECT_NE(scene.Err.find("...' (" + std::to_string(path.size()) + " bytes)"), std::string::npos)
      << scene.Err;
  EXPECT_LT(scene.Err.size(), 1000u);
  ExpectNoRawHostileBytes(scene.Err);
  // A --set value.
  const RunResult set = w.Run(w.Headless(2, config, {"--set", "Frustum Culling=" + kHostile}));
  EXPECT_EQ(set.Status, 2) << set.Err;
  EXPECT_NE(set.Err.find("\\x9b2J\\u202eR\\u2066"), std::string::npos) << set.Err;
  ExpectNoRawHostileBytes(set.Err);
  // A clip name read from a model file, in the note about its repaired
  // keys: one line, escaped and cut, so the file cannot forge a line of
  // khost's own.
  const fs::path model = w.Path("m.gltf");
  std::ofstream(model) << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
                       << R"("nodes":[{"name":"root","children":[1]},)"
                       << R"({"name":"arm","translation":[0,1,0]}],)"
                       // times 0 and 1; translations (NaN, 0, 0) and (1, 1, 1)
                       << R"("buffers":[{"byteLength":32,"uri":"data:application/octet-stream;)"
                       << R"(base64,AAAAAAAAgD8AAMB/AAAAAAAAAAAAAIA/AACAPwAAgD8="}],)"
                       << R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":8},)"
                       << R"({"buffer":0,"byteOffset":8,"byteLength":24}],)"
                       << R"("accessors":[{"bufferView":0,"componentType":5126,"count":2,)"
                       << R"("type":"SCALAR","min":[0],"max":[1]},)"
                       << R"({"bufferView":1,"componentType":5126,"count":2,"type":"VEC3"}],)"
                       << R"("animations":[{"name":"\u001b]0;x\u0007\u009b2J\u202eR\u2066\n)"
                       << R"(khost: forged)" << std::string(300, 'z') << R"(",)"
                       << R"("channels":[{"sampler":0,"target":{"node":1,"path":"translation"}}],)"
                       << R"("samplers":[{"input":0,"output":1}]}]})";
  const RunResult clip = w.Run(w.Headless(2, config, {"--scene", model.string()}));
  EXPECT_EQ(clip.Status, 0) << clip.Err;
  EXPECT_NE(clip.Err.find("clip '\\e]0;x\\a\\u009b2J\\u202eR\\u2066\\nkhost: forgedzzz"),
            std::string::npos)
      << clip.Err;
  EXPECT_NE(clip.Err.find("...' (331 bytes): 1 non-finite keys dropped\n"), std::string::npos)
      << clip.Err;
  EXPECT_EQ(clip.Err.find("\nkhost: forged"), std::string::npos) << clip.Err;
  ExpectNoRawHostileBytes(clip.Err);
}

TEST(KhostTune, ASignalDuringTheRaceNamesNoBestAndSaysWhatItCouldNotDecide) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("r.csv");
  const fs::path csv = w.Path("t.csv");
  const pid_t pid = w.Start(w.Headless(
      100000, config,
      {"--scene", "builtin", "--tune", "--tune-csv", csv.string(), "--record", record.string()}));
  // Some blocks into the race (32 combinations), then Ctrl-C.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (std::error_code ec; std::chrono::steady_clock::now() < deadline;) {
    const std::uintmax_t size = fs::file_size(record, ec);
    if (!ec && size >= 64 * 1024) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGINT);
  const RunResult r = w.Wait(pid, 60);
  EXPECT_EQ(r.Status, 128 + SIGINT) << r.Err;
  EXPECT_NE(r.Out.find("Best:  not decided (the run ended during the race, before a best was "
                       "chosen)"),
            std::string::npos)
      << r.Out;
  EXPECT_EQ(r.Out.find("Best / start"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("best\n"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("inf"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Verdict: Not decided: "), std::string::npos) << r.Out;
  const std::string table = ReadAll(csv);
  EXPECT_NE(table.find("\nbest,,,,,,,,,,\"not decided: the run ended during the race"),
            std::string::npos)
      << table;
  EXPECT_EQ(table.find("inf"), std::string::npos) << table;
}

}  // namespace
