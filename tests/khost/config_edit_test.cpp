#include "khost/setup/config_edit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  ConfigFileEdit plan{path, false, *edited, path};
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

// Sets or clears a file's immutable flag, which even root cannot replace or
// link; false where the file system or the process's capabilities do not
// allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Both files change or neither: when the second cannot be replaced once the
// first is in place, the first is put back, the very file it was (its
// inode, mode and bytes), and nothing is left beside them.
TEST_F(ConfigEditTest, TwoFilesChangeTogetherOrNotAtAll) {
  const std::string application = mFolder + "/Application.txt";
  const std::string task = mFolder + "/Task.txt";
  const std::string applicationText = "[Display]\r\nUseGPUSkinDeform = No\r\n";
  const std::string taskText = "[Evaluation]\nPipeline = Serial\n";
  std::ofstream(application, std::ios::binary) << applicationText;
  std::ofstream(task, std::ios::binary) << taskText;
  ASSERT_EQ(::chmod(application.c_str(), 0640), 0);
  auto first = PlanConfigFileEdit(application, {{"Display", "UseGPUSkinDeform", "Yes"}});
  auto second = PlanConfigFileEdit(task, {{"Evaluation", "Pipeline", "Parallel"}});
  ASSERT_TRUE(first.Ok() && second.Ok());
  struct stat before {};
  ASSERT_EQ(::stat(application.c_str(), &before), 0);

  if (!SetImmutable(task, true)) GTEST_SKIP() << "cannot make a file immutable here";
  const Status written = WriteConfigFileEdits({*first, *second});
  SetImmutable(task, false);
  ASSERT_FALSE(written.Ok());
  EXPECT_EQ(written.Code(), ExitStatus::kFailure);
  const std::string& message = written.GetError().Message;
  EXPECT_NE(message.find("cannot write '" + task + "'"), std::string::npos) << message;
  EXPECT_NE(message.find("nothing was written ('" + application + "' put back as it was)"),
            std::string::npos)
      << message;
  struct stat after {};
  ASSERT_EQ(::stat(application.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadAll(application), applicationText);
  EXPECT_EQ(ReadAll(task), taskText);
  EXPECT_EQ(Entries(mFolder), (std::vector<std::string>{"Application.txt", "Task.txt"}));

  // Once the second can be replaced, both change.
  ASSERT_TRUE(WriteConfigFileEdits({*first, *second}).Ok());
  EXPECT_EQ(ReadAll(application), "[Display]\r\nUseGPUSkinDeform = Yes\r\n");
  EXPECT_EQ(ReadAll(task), "[Evaluation]\nPipeline = Parallel\n");
  EXPECT_EQ(Entries(mFolder), (std::vector<std::string>{"Application.txt", "Task.txt"}));
}

// The format has no comments after a value. After a quoted value the reader
// skips the rest of the line, so a note there stays, byte for byte; after a
// plain one it is part of the value, and the edit is refused (keeping it
// would write a value that reads as something else, dropping it would lose
// it).
TEST_F(ConfigEditTest, ANoteAfterAQuotedValueStaysAndAfterAPlainValueIsRefused) {
  const std::string path = mFolder + "/Application.txt";
  std::ofstream(path, std::ios::binary)
      << "[Display]\nUseGPUSkinDeform =  \"No\"  ; on the GPU? \t\nEarlyFrustumCulling = Yes\n";
  auto quoted = PlanConfigFileEdit(path, {{"Display", "UseGPUSkinDeform", "Yes"}});
  ASSERT_TRUE(quoted.Ok()) << quoted.GetError().Message;
  ASSERT_TRUE(WriteConfigFileEdit(*quoted).Ok());
  EXPECT_EQ(
      ReadAll(path),
      "[Display]\nUseGPUSkinDeform =  \"Yes\"  ; on the GPU? \t\nEarlyFrustumCulling = Yes\n");
  KConfigFile config(path.c_str(), false);
  EXPECT_STREQ(config.Get("Display", "UseGPUSkinDeform", "?"), "Yes");

  std::ofstream(path, std::ios::binary) << "[Display]\n; culling\nEarlyFrustumCulling = Yes # on\n";
  auto plain = PlanConfigFileEdit(path, {{"Display", "EarlyFrustumCulling", "No"}});
  ASSERT_FALSE(plain.Ok());
  EXPECT_EQ(plain.GetError().Code, ExitStatus::kBadInput);
  EXPECT_NE(plain.GetError().Message.find("line 3: the value of \"Display/EarlyFrustumCulling\" is "
                                          "\"Yes # on\" as a whole"),
            std::string::npos)
      << plain.GetError().Message;
}

}  // namespace
