#include "khost/setup/host_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/bcore.h"
#include "host/kbaselib.h"
#include "standin/kbaselib/config.h"

namespace {

using namespace khost;
namespace fs = std::filesystem;

class KhostConfigFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("KHOST_CONFIG_DIR");
    folder = fs::temp_directory_path() /
             ("khost_settings_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
    KConfig_SetFolder(folder.c_str());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  void Write(const char* name, const std::string& text) { std::ofstream(folder / name) << text; }
  fs::path folder;
};

TEST_F(KhostConfigFolder, MissingFilesGiveTheDefaults) {
  const ConfiguredSettings s = ReadConfiguredSettings();
  EXPECT_TRUE(s.EarlyFrustumCulling);
  EXPECT_FALSE(s.ParallelPipeline);
  EXPECT_EQ(s.ParallelEvaluation, 0);
  EXPECT_FALSE(s.ParallelDeformation);
  EXPECT_FALSE(s.GPUSkinDeform);
  EXPECT_EQ(s.BufferSize, 20);
  EXPECT_TRUE(s.FrameReference);
  EXPECT_EQ(s.EvaluationDepth, 0);
  EXPECT_EQ(s.ProfilingType, 1);
  EXPECT_EQ(s.Characters, 16);
}

TEST_F(KhostConfigFolder, ValuesFollowTheResetsTextRules) {
  Write("Application.txt",
        "[Display]\nEarlyFrustumCulling = yes\nUseGPUSkinDeform = YES\n"
        "[Benchmark]\nBufferSize =   32abc\nFrameReference = No\nEvaluationDepth = -1\n"
        "ProfilingType = 0\n");
  Write("Task.txt",
        "[Evaluation]\nPipeline = Off\nEvaluation = 1\nDeformation = SERIAL\n"
        "[Scene]\nCharacters = 3\n");
  const ConfiguredSettings s = ReadConfiguredSettings();
  EXPECT_FALSE(s.EarlyFrustumCulling) << "only an exact Yes turns culling on";
  EXPECT_TRUE(s.GPUSkinDeform);
  EXPECT_EQ(s.BufferSize, 32);
  EXPECT_FALSE(s.FrameReference);
  EXPECT_EQ(s.EvaluationDepth, -1);
  EXPECT_EQ(s.ProfilingType, 0);
  EXPECT_TRUE(s.ParallelPipeline) << "anything but Serial is parallel";
  EXPECT_EQ(s.ParallelEvaluation, 1);
  EXPECT_FALSE(s.ParallelDeformation);
  EXPECT_EQ(s.Characters, 3);
}

TEST_F(KhostConfigFolder, SceneSizeIsKeptInRange) {
  Write("Task.txt", "[Scene]\nCharacters = 100000\n");
  EXPECT_EQ(ReadConfiguredSettings().Characters, static_cast<int>(kMaxCharacters));
  Write("Task.txt", "[Scene]\nCharacters = none\n");
  EXPECT_EQ(ReadConfiguredSettings().Characters, 1);
}

TEST(KhostTextRules, ComparisonsCoverTheWholeText) {
  EXPECT_TRUE(IsExactlyYes("Yes"));
  EXPECT_FALSE(IsExactlyYes("Yes "));
  EXPECT_FALSE(IsExactlyYes("YES"));
  EXPECT_TRUE(IsYesIgnoringCase("yEs"));
  EXPECT_FALSE(IsYesIgnoringCase("Yess"));
  EXPECT_FALSE(IsYesIgnoringCase(""));
  EXPECT_FALSE(IsNotSerial("sErIaL"));
  EXPECT_TRUE(IsNotSerial(""));
  EXPECT_TRUE(IsNotSerial("Serial2"));
  EXPECT_EQ(ReadInteger("  -7x"), -7);
  EXPECT_EQ(ReadInteger("abc"), 0);
  // Beyond the int range: clamped, as the module's reset reads it.
  EXPECT_EQ(ReadInteger("99999999999"), INT_MAX);
  EXPECT_EQ(ReadInteger(" -99999999999"), INT_MIN);
  EXPECT_EQ(ReadInteger("2147483647"), INT_MAX);
}

TEST_F(KhostConfigFolder, AppliedSettingsArePrintedAsTenLines) {
  Write("Application.txt",
        "[Display]\nEarlyFrustumCulling = No\nUseGPUSkinDeform = Yes\n"
        "[Benchmark]\nBufferSize = 44\nFrameReference = No\nEvaluationDepth = 2\n"
        "ProfilingType = 1\n");
  Write("Task.txt", "[Evaluation]\nPipeline = Parallel\nEvaluation = 1\nDeformation = Parallel\n");
  ApplyConfiguredSettings(ReadConfiguredSettings());
  KEvaluateManager::TheOne()->NodeCount = 123;
  std::ostringstream out;
  PrintSettings(out);
  EXPECT_EQ(out.str(),
            "FrustumCulling=0\nParallelPipeline=1\nParallelEvaluation=1\nParallelDeformation=1\n"
            "GPUSkinning=1\nNodeCount=123\nProfilingType=1\nEvaluationDepth=2\nBufferSize=44\n"
            "FrameReference=0\n");
  const EngineSettings e = CurrentEngineSettings();
  EXPECT_FALSE(e.FrustumCulling);
  EXPECT_TRUE(e.ParallelPipeline);
  EXPECT_TRUE(e.ParallelEvaluation);
  EXPECT_TRUE(e.ParallelDeformation);
  EXPECT_TRUE(e.GPUSkinning);
  // Back to the defaults for the other tests of this executable.
  std::error_code ec;
  fs::remove(folder / "Application.txt", ec);
  fs::remove(folder / "Task.txt", ec);
  ApplyConfiguredSettings(ReadConfiguredSettings());
}

}  // namespace
