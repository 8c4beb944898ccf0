#include "khost/outputs/output_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using khost::OutputFile;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class KhostOutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    mRoot = fs::temp_directory_path() / ("khost_output_file_" + std::to_string(getpid()));
    fs::remove_all(mRoot);
    fs::create_directories(mRoot);
  }
  void TearDown() override { fs::remove_all(mRoot); }

  // Writes `lines` rows through the stream of an output at `path` in a child
  // whose files may not grow past `limit` bytes (a disk that fills up);
  // placed first when `place`. The child's exit status: 0 when Commit
  // succeeded, 1 when it reported the failure.
  int WriteLimited(const fs::path& path, int lines, rlim_t limit, bool place) {
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      const rlimit size{limit, limit};
      setrlimit(RLIMIT_FSIZE, &size);
      OutputFile file;
      if (!file.Open(path.string())) _exit(3);
      if (place && !file.PlaceNow()) _exit(4);
      for (int i = 0; i < lines; ++i) file.Stream() << i << ",12.345,Evaluation/Character,2\n";
      const khost::Status committed = file.Commit();
      if (committed) _exit(0);
      const bool named = committed.GetError().Message.find(path.string()) != std::string::npos;
      _exit(named && committed.Code() == khost::ExitStatus::kFailure ? 1 : 5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path mRoot;
};

TEST_F(KhostOutputFile, AFullDiskLeavesAPlacedFileAtItsLastWholeLineAndAReplacedOneUntouched) {
  const fs::path placed = mRoot / "frames.csv";
  std::ofstream(placed) << "an older recording\n";
  ASSERT_EQ(WriteLimited(placed, 20000, 50000, true), 1);
  const std::string text = ReadAll(placed);
  ASSERT_GT(text.size(), 30000u);
  EXPECT_LE(text.size(), 50000u);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.rfind("0,12.345,", 0), 0u);
  const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
  EXPECT_NE(last.find(",12.345,Evaluation/Character,2\n"), std::string::npos) << last;

  const fs::path replaced = mRoot / "trace.json";
  std::ofstream(replaced) << "old";
  ASSERT_EQ(WriteLimited(replaced, 20000, 50000, false), 1);
  EXPECT_EQ(ReadAll(replaced), "old");
  EXPECT_EQ(Entries(mRoot), (std::vector<std::string>{"frames.csv", "trace.json"}));

  // Within the limit, both get everything.
  ASSERT_EQ(WriteLimited(placed, 100, 50000, true), 0);
  ASSERT_EQ(WriteLimited(replaced, 100, 50000, false), 0);
  const std::string whole = ReadAll(placed);
  EXPECT_EQ(whole, ReadAll(replaced));
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 100);
}

TEST_F(KhostOutputFile, LinesLongerThanTheBufferAndMixedWritesArriveInOrder) {
  const fs::path path = mRoot / "out.txt";
  OutputFile file;
  const khost::Status opened = file.Open(path.string());
  ASSERT_TRUE(opened) << opened.GetError().Message;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string line =
        (i % 700 == 0 ? std::string(40000, static_cast<char>('a' + i % 26)) : std::to_string(i)) +
        "\n";
    file.Stream() << line;
    expected += line;
  }
  file.Stream() << "no line end";
  expected += "no line end";
  const khost::Status committed = file.Commit();
  ASSERT_TRUE(committed) << committed.GetError().Message;
  EXPECT_EQ(ReadAll(path), expected);
}

}  // namespace

namespace {

TEST(KhostOutputFileTemporaries, ASecondSignalRemovesTheNamedOnesStillListed) {
  const fs::path root = fs::temp_directory_path() / ("khost_named_" + std::to_string(getpid()));
  fs::create_directories(root);
  const fs::path kept = root / "kept";
  const fs::path listed = root / ".khost-listed";
  const fs::path forgotten = root / ".khost-forgotten";
  for (const fs::path& p : {kept, listed, forgotten}) std::ofstream(p) << "x";
  const int a = khost::RegisterTemporaryName(listed.string());
  const int b = khost::RegisterTemporaryName(forgotten.string());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  khost::ForgetTemporaryName(b);  // moved into place meanwhile
  EXPECT_EQ(khost::RegisterTemporaryName(std::string(PATH_MAX, 'x')), -1);
  khost::RemoveNamedTemporaries();
  EXPECT_EQ(Entries(root), (std::vector<std::string>{".khost-forgotten", "kept"}));
  khost::ForgetTemporaryName(a);
  fs::remove_all(root);
}

}  // namespace
