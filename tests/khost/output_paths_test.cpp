#include "khost/outputs/output_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace khost;

class KhostOutputPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    mRoot = fs::temp_directory_path() / ("khost_output_paths_" + std::to_string(getpid()));
    fs::remove_all(mRoot);
    fs::create_directories(mRoot / "out");
    std::ofstream(mRoot / "module.so") << "module";
    std::ofstream(mRoot / "Application.txt") << "[Benchmark]\n";
    std::ofstream(mRoot / "out" / "old.csv") << "old";
  }
  void TearDown() override { fs::remove_all(mRoot); }
  std::string P(const std::string& name) const { return (mRoot / name).string(); }

  // The message of the refusal, or "" when the outputs are taken.
  std::string Check(const std::vector<NamedPath>& outputs) const {
    const Status status = CheckOutputPaths(
        outputs,
        {{"the module", P("module.so")}, {"the configuration file", P("Application.txt")}});
    if (status.Ok()) return "";
    EXPECT_EQ(status.Code(), ExitStatus::kBadInput);
    return status.GetError().Message;
  }

  fs::path mRoot;
};

TEST_F(KhostOutputPaths, OutputsThatAreOneFileAreRefusedWithBothNamed) {
  fs::create_symlink("out/old.csv", mRoot / "link.csv");
  fs::create_hard_link(mRoot / "out" / "old.csv", mRoot / "hard.csv");
  fs::create_symlink("out/new.csv", mRoot / "dangling.csv");  // to a file not yet there
  fs::create_symlink("out", mRoot / "folder-link");
  struct Case {
    std::string A;
    std::string B;
  };
  for (const Case& c :
       {Case{P("out/old.csv"), P("out/old.csv")}, Case{P("out/old.csv"), P("link.csv")},
        Case{P("hard.csv"), P("out/old.csv")}, Case{P("out/new.csv"), P("out/../out/./new.csv")},
        Case{P("dangling.csv"), P("out/new.csv")},
        Case{P("folder-link/new.csv"), P("out/new.csv")}}) {
    const std::string message =
        Check({{"--record", c.A}, {"--stats", P("s.csv")}, {"--trace", c.B}});
    EXPECT_NE(message.find("--record '" + c.A + "' and --trace '" + c.B + "'"), std::string::npos)
        << c.A << " / " << c.B << ": " << message;
  }
  // Two outputs to one stream would interleave; /dev/null may be shared.
  EXPECT_NE(Check({{"--stats", "/dev/stdout"}, {"--compare-csv", "/proc/self/fd/1"}}), "");
  EXPECT_EQ(Check({{"--screenshot", "/dev/null"},
                   {"--window-screenshot", "/dev/null"},
                   {"--record", P("out/old.csv")},
                   {"--trace", P("out/new.json")}}),
            "");
}

TEST_F(KhostOutputPaths, AnOutputThatIsAnInputIsRefused) {
  fs::create_symlink("module.so", mRoot / "module-link");
  EXPECT_NE(Check({{"--record", P("module-link")}})
                .find("--record '" + P("module-link") + "' is the module '" + P("module.so")),
            std::string::npos);
  EXPECT_NE(Check({{"--trace", P("out/../Application.txt")}}).find("the configuration file"),
            std::string::npos);
  // A configuration file that is not there yet is still the host's to read.
  EXPECT_NE(
      CheckOutputPaths({{"--stats", P("Task.txt")}}, {{"the configuration file", P("Task.txt")}})
          .GetError()
          .Message,
      "");
  EXPECT_TRUE(fs::exists(mRoot / "module.so"));
}

}  // namespace
