// End-to-end: --tune on a real scene.
#include <fcntl.h>
#include <grp.h>
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
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "khost/e2e_support.h"
#include "khost/outputs/report_charts.h"
#include "khost/scene/scene.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

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
  const fs::path report = w.Path("tune.html");
  // Forty blocks of 8 frames (2 counted): four configurations raced in
  // a few blocks each and three checked in four rounds.
  const RunResult r = w.Run(
      w.Headless(321, config,
                 {"--scene", "builtin", "--tune", "--tune-target", "Deformation", "--tune-settings",
                  "Frustum Culling,GPU Skinning", "--tune-block", "8", "--tune-csv", csv.string(),
                  "--print-settings", "--report", report.string()}),
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
  int startBlocks = 0;
  int bestBlocks = 0;
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
      if (row[10].find("start") != std::string::npos) startBlocks = std::stoi(row[4]);
      if (row[10].find("best") != std::string::npos) bestBlocks = std::stoi(row[4]);
    }
  }
  // The report shades each block by what it ran: as many of the start's
  // and of the best's as the search measured; its forest plot holds the
  // best against the start, faster.
  const std::string page = ReadAll(report);
  const auto shaded = [&](int label) {
    const std::string rect = std::string("fill=\"") + khost::SpanColour(label) + "\"/>";
    int count = 0;
    for (std::size_t at = page.find(rect); at != std::string::npos; at = page.find(rect, at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_EQ(shaded(0), startBlocks);
  EXPECT_EQ(shaded(1), bestBlocks);
  EXPECT_GT(bestBlocks, 0);
  const std::size_t bestLine = page.find("<p>Best: ");
  ASSERT_NE(bestLine, std::string::npos);
  EXPECT_NE(page.substr(bestLine, page.find("</p>", bestLine) - bestLine).find("GPU Skinning=1"),
            std::string::npos);
  // The row's name, then its verdict.
  const std::size_t versus = page.find(">best / start</text>");
  ASSERT_NE(versus, std::string::npos);
  const std::size_t verdictEnd = page.find("</text>", page.find("</text>", versus) + 1);
  ASSERT_NE(verdictEnd, std::string::npos);
  EXPECT_EQ(page.substr(verdictEnd - 7, 7), ">faster");
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
  // The replaced file keeps its owner, group and mode (root may give it any).
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((config / "Application.txt").c_str(), 1234, 1234), 0);
  }
  fs::permissions(config / "Application.txt", fs::perms(0640));
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
  struct stat info {};
  ASSERT_EQ(stat((config / "Application.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 1234u);
  }

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
      // The known targets: the recording's cycle paths.
      {{"--tune-target", "Deformations"},
       {"unknown cycle 'Deformations' (cycles: 'Frame', 'Present', 'Devices', 'Input', "
        "'Animation', 'Evaluation', 'Deformation', 'Upload', 'Rendering', 'Rendering/Culling', "
        "'Rendering/Submission', 'Tool Paint', 'Scene Update', 'Evaluation/Character N' and its "
        "'/Skeleton' and '/Constraints' for N from 1 to 2)"}},
      {{"--tune-target", "Evaluation/Character 3"}, {"'Evaluation/Character 3'", "N from 1 to 2"}},
      // A character's cycles have no CPU time to compare.
      {{"--tune-target", "Evaluation/Character 2/Skeleton", "--clock", "cpu"},
       {"'Evaluation/Character 2/Skeleton'", "steady clock only", "--clock wall"}},
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

// A configuration file --tune-write could not rewrite as it stands is
// refused before the run (status 2, naming it), and nothing is written.
TEST(KhostTune, WriteRefusesFilesItCannotRewriteBeforeTheRun) {
  Workspace w;
  const std::string application =
      "[Display]\nUseGPUSkinDeform = No\n" + std::string(kQuietApplication);
  const std::string task = "[Evaluation]\nPipeline = Serial\n" + std::string(kTuneScene);
  std::string utf16 = "\xFE\xFF";
  for (char c : application) utf16 += {'\0', c};
  struct Case {
    const char* What;
    std::function<void(const fs::path&)> Make;
    std::vector<std::string> Named;  // {} for the two names of one file
    bool AsUser = false;             // run as user 1234, who owns the folder (root only)
  };
  const auto replaceTask = [](const fs::path& config, bool hard) {
    fs::remove(config / "Task.txt");
    if (hard) {
      fs::create_hard_link(config / "Application.txt", config / "Task.txt");
    } else {
      fs::create_symlink("Application.txt", config / "Task.txt");
    }
  };
  const auto write = [](const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  };
  const std::vector<Case> cases = {
      {"a link", [&](const fs::path& c) { replaceTask(c, false); }, {}},
      {"a hard link", [&](const fs::path& c) { replaceTask(c, true); }, {}},
      {"UTF-16",
       [&](const fs::path& c) { write(c / "Application.txt", utf16); },
       {"Application.txt' is UTF-16 text", "it is not rewritten"}},
      {"CR line ends",
       [&](const fs::path& c) { write(c / "Task.txt", "[Evaluation]\rPipeline = Serial\r"); },
       {"Task.txt' ends its lines with a carriage return alone"}},
      {"read-only",
       [&](const fs::path& c) { fs::permissions(c / "Application.txt", fs::perms(0444)); },
       {"Application.txt' is read-only (mode 0444)"}},
      {"a note",
       [&](const fs::path& c) {
         write(c / "Application.txt", "[Display]\nUseGPUSkinDeform = No ; the CPU\n");
       },
       {"Application.txt': line 2: the value of \"Display/UseGPUSkinDeform\" is \"No ; the CPU\"",
        "starts no comment"}},
      // Whoever may write the folder may replace a file in it: the file's own
      // mode and owner decide.
      {"read-only, as its owner",
       [&](const fs::path& c) { fs::permissions(c / "Application.txt", fs::perms(0444)); },
       {"Application.txt' is read-only (mode 0444)"},
       true},
      {"a group not the user's",
       [&](const fs::path& c) {
         ASSERT_EQ(chown((c / "Task.txt").c_str(), 1234, 5678), 0);
         fs::permissions(c / "Task.txt", fs::perms(0664));
       },
       {"Task.txt' belongs to user 1234 and group 5678, which a rewrite by this user could not "
        "keep"},
       true},
  };
  for (const Case& c : cases) {
    if (c.AsUser && geteuid() != 0) continue;
    const fs::path config = w.Config(application, task);
    if (c.AsUser) {
      for (const char* name : {"", "Application.txt", "Task.txt"}) {
        ASSERT_EQ(chown((config / name).c_str(), 1234, 1234), 0);
      }
    }
    c.Make(config);
    const std::string before = ReadAll(config / "Application.txt") + ReadAll(config / "Task.txt");
    const auto asUser = [] {
      if (setgroups(0, nullptr) != 0 || setgid(1234) != 0 || setuid(1234) != 0) _exit(125);
    };
    const RunResult r = w.Run(
        w.Headless(400, config,
                   {"--scene", "builtin", "--tune", "--tune-settings", "GPU Skinning",
                    "--tune-block", "8", "--tune-write", "--tune-csv", (config / "t.csv").string(),
                    "--screenshot", (config / "s.png").string()}),
        {}, 60, c.AsUser ? std::function<void()>(asUser) : std::function<void()>());
    EXPECT_EQ(r.Status, 2) << c.What << ": " << r.Err;
    std::vector<std::string> named = c.Named;
    if (named.empty()) {
      named = {"'" + (config / "Application.txt").string() + "' and '" +
               (config / "Task.txt").string() + "' are one file under two names"};
    }
    for (const std::string& part : named) {
      EXPECT_NE(r.Err.find("--tune-write: "), std::string::npos) << c.What << ": " << r.Err;
      EXPECT_NE(r.Err.find(part), std::string::npos) << c.What << ": " << r.Err;
    }
    EXPECT_EQ(ReadAll(config / "Application.txt") + ReadAll(config / "Task.txt"), before) << c.What;
    EXPECT_FALSE(fs::exists(config / "t.csv")) << c.What;
    EXPECT_FALSE(fs::exists(config / "s.png")) << c.What;
  }
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

// A click on a searched setting's check box in the middle of a block (here
// scripted, after frame 20 of the third block) makes that block measure
// another configuration: the search leaves it out, the answer says so, and
// the start the search restores is the one it began from, whatever the
// click left.
TEST(KhostTune, ABlockWhoseSettingWasClickedIsLeftOutAndTheStartIsStillRestored) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kTuneScene);
  const fs::path csv = w.Path("tune.csv");
  const RunResult r = w.Run(
      w.Headless(161, config,
                 {"--scene", "builtin", "--tune", "--tune-target", "Deformation", "--tune-settings",
                  "Frustum Culling", "--tune-block", "8", "--tune-csv", csv.string(), "--at", "20",
                  "--click", "Frustum Culling", "--print-settings"}),
      {}, 300);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string head = "(2 configurations): ";
  const std::size_t at = r.Out.find(head);
  ASSERT_NE(at, std::string::npos) << r.Out;
  const int taken = std::atoi(r.Out.c_str() + at + head.size());
  EXPECT_NE(r.Out.find(" of 20 blocks of 8 frames (2 counted)\n1 block left out: a searched "
                       "setting did not hold the value the search set"),
            std::string::npos)
      << r.Out;
  int blocks = 0;
  int frames = 0;
  for (const auto& row : ReadCsv(csv)) {
    if (row[0] != "measured") continue;
    blocks += std::stoi(row[4]);
    frames += std::stoi(row[5]);
  }
  // Every block taken but the one left out is measured.
  EXPECT_EQ(blocks, taken - 1);
  EXPECT_EQ(frames, 2 * blocks);
  EXPECT_EQ(ParseSettings(r.Out)["FrustumCulling"], "1") << r.Out;
}
