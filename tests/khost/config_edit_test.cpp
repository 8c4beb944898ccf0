#include "khost/setup/config_edit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/kbaselib.h"
#include "standin/kbaselib/config.h"

namespace {

using namespace khost;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ConfigEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/khost_config_edit_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    mFolder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(mFolder); }
  std::string mFolder;
};

// A file as people leave them: a byte order mark, CRLF endings, no ending
// on the last line, a header in other case continued later, odd spacing, a
// quoted value, a duplicate key, and a damaged header whose keys the reader
// leaves out.
const char kText[] =
    "\xEF\xBB\xBF; settings\r\n"
    "[display]\r\n"
    "  earlyfrustumculling\t=   Yes   \r\n"
    "\r\n"
    "[Evaluation]\r\n"
    "Pipeline = Serial\r\n"
    "Deformation = \"Serial\"\r\n"
    "# the pipeline again\r\n"
    "[EVALUATION]\r\n"
    "PIPELINE=Serial\r\n"
    "[Broken\r\n"
    "Evaluation = 0\r\n"
    "[Benchmark]\r\n"
    "BufferSize = 20";

TEST_F(ConfigEditTest, EditsOnlyTheValuesTheReaderTakesAndKeepsEveryOtherByte) {
  const std::vector<ConfigEdit> edits = {
      {"Display", "EarlyFrustumCulling", "No"},   // spacing kept
      {"Evaluation", "Pipeline", "Parallel"},     // the later definition
      {"Evaluation", "Deformation", "Parallel"},  // stays quoted
      {"Evaluation", "Evaluation", "1"},          // only after a damaged header: added
      {"Display", "UseGPUSkinDeform", "Yes"},     // added at the end of its section
      {"Scene", "Characters", "64"},              // a new section at the end
      {"Benchmark", "BufferSize", "20"},          // unchanged
  };
  auto edited = EditConfigText(kText, edits);
  ASSERT_TRUE(edited.Ok()) << edited.GetError().Message;
  const std::string& text = edited->Text;
  ASSERT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);

  // What changed, and nothing else: the new text with the added lines taken
  // out and the changed lines put back is the old text.
  const std::vector<std::string> before = Lines(kText);
  std::vector<std::string> after = Lines(text);
  std::vector<std::pair<std::string, std::string>> changed;
  int added = 0;
  for (auto it = edited->Changes.rbegin(); it != edited->Changes.rend(); ++it) {
    const auto index = static_cast<std::size_t>(it->Line - 1);
    ASSERT_LT(index, after.size());
    ASSERT_EQ(after[index], it->New + "\r");
    if (it->Added) {
      after.erase(after.begin() + static_cast<std::ptrdiff_t>(index));
      ++added;
    } else {
      changed.emplace_back(it->Old, it->New);
      after[index] = it->Old + "\r";
    }
  }
  after.back().pop_back();  // the old last line had no ending
  EXPECT_EQ(after, before);
  EXPECT_EQ(added, 5);  // two keys, a blank line, a header and its key
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"PIPELINE=Serial", "PIPELINE=Parallel"},
      {"Deformation = \"Serial\"", "Deformation = \"Parallel\""},
      {"  earlyfrustumculling\t=   Yes   ", "  earlyfrustumculling\t=   No   "},
  };
  EXPECT_EQ(changed, expected);  // from the last line up

  // The host's own reader takes the new values.
  const std::string path = mFolder + "/Task.txt";
  ConfigFileEdit plan{path, false, *edited};
  ASSERT_TRUE(WriteConfigFileEdit(plan).Ok());
  KConfigFile config(path.c_str(), false);
  ASSERT_TRUE(KConfigFile_IsLoaded(config));
  EXPECT_STREQ(config.Get("Display", "EarlyFrustumCulling", "?"), "No");
  EXPECT_STREQ(config.Get("Display", "UseGPUSkinDeform", "?"), "Yes");
  EXPECT_STREQ(config.Get("Evaluation", "Pipeline", "?"), "Parallel");
  EXPECT_STREQ(config.Get("Evaluation", "Deformation", "?"), "Parallel");
  EXPECT_STREQ(config.Get("Evaluation", "Evaluation", "?"), "1");
  EXPECT_STREQ(config.Get("Scene", "Characters", "?"), "64");
  EXPECT_STREQ(config.Get("Benchmark", "BufferSize", "?"), "20");

  // Asked again, nothing changes and the file is left alone.
  auto again = PlanConfigFileEdit(path, edits);
  ASSERT_TRUE(again.Ok());
  EXPECT_TRUE(again->Edit.Changes.empty());
  EXPECT_EQ(again->Edit.Text, text);
}

TEST_F(ConfigEditTest, MissingFilesAreCreatedAndWhatCannotBeReadBackIsRefused) {
  const std::string path = mFolder + "/Application.txt";
  auto plan = PlanConfigFileEdit(path, {{"Display", "EarlyFrustumCulling", "Yes"}});
  ASSERT_TRUE(plan.Ok());
  EXPECT_FALSE(plan->Exists);
  ASSERT_TRUE(WriteConfigFileEdit(*plan).Ok());
  EXPECT_EQ(ReadAll(path), "[Display]\nEarlyFrustumCulling = Yes\n");

  // A value with blanks at its ends is quoted so that it reads back whole.
  auto quoted = EditConfigText("[A]\nK = x\n", {{"A", "K", " padded "}});
  ASSERT_TRUE(quoted.Ok());
  EXPECT_EQ(quoted->Text, "[A]\nK = \" padded \"\n");

  // Keys and values the reader would not read back as given.
  EXPECT_FALSE(EditConfigText("", {{"A", "K=1", "x"}}).Ok());
  EXPECT_FALSE(EditConfigText("", {{"A", "K", "line\nbreak"}}).Ok());
  EXPECT_FALSE(EditConfigText("", {{"A]", "K", "x"}}).Ok());
  EXPECT_FALSE(EditConfigText("", {{"A", "; K", "x"}}).Ok());

  // Only a regular file is read or replaced: a folder in the file's place is
  // refused before anything is written.
  const std::string folder = mFolder + "/Task.txt";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  auto refused = PlanConfigFileEdit(folder, {{"Evaluation", "Pipeline", "Serial"}});
  ASSERT_FALSE(refused.Ok());
  EXPECT_NE(refused.GetError().Message.find(folder), std::string::npos);
}

}  // namespace
