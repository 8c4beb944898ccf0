// Configuration files: the reading rules, damaged and hostile input, the
// configuration folder, and writing back.

#include "standin/kbaselib/config.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/kbaselib.h"

namespace fs = std::filesystem;

namespace {

class Config : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kconfig-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    mDir = pattern;
    const char* env = std::getenv("KHOST_CONFIG_DIR");
    mHadEnv = env != nullptr;
    if (env) mSavedEnv = env;
    ::unsetenv("KHOST_CONFIG_DIR");
    KConfig_SetFolder(mDir.c_str());
  }
  void TearDown() override {
    if (mHadEnv) {
      ::setenv("KHOST_CONFIG_DIR", mSavedEnv.c_str(), 1);
    } else {
      ::unsetenv("KHOST_CONFIG_DIR");
    }
    KConfig_SetFolder(nullptr);
    std::error_code ignored;
    fs::permissions(mDir, fs::perms::owner_all, ignored);
    fs::remove_all(mDir, ignored);
  }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = (fs::path(mDir) / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(fs::path(mDir) / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string mDir;
  bool mHadEnv = false;
  std::string mSavedEnv;
};

}  // namespace

TEST_F(Config, SectionsKeysCommentsTrimmingAndCase) {
  Write("App.txt",
        "top = level\n"
        "; a comment = not a key\n"
        "   # another = comment\n"
        "[Display]\n"
        "  EarlyFrustumCulling   =   Yes  \n"
        "UseGPUSkinDeform=no\n"
        "Equation = a=b\n"
        "just some words\n"
        " = no key\n"
        "Empty =\n"
        "Dup = first\n"
        "dup = second\n"
        "[  benchmark  ]\n"
        "BufferSize = 32abc\n"
        "[DISPLAY]\n"
        "Later = joined\n");
  KConfigFile file("@App.txt", false);
  EXPECT_TRUE(KConfigFile_IsLoaded(file));
  EXPECT_STREQ(file.Get("", "top", "x"), "level");
  EXPECT_STREQ(file.Get("Display", "EarlyFrustumCulling", "x"), "Yes");
  EXPECT_STREQ(file.Get("display", "earlyfrustumculling", "x"), "Yes");
  EXPECT_STREQ(file.Get("Display", "UseGPUSkinDeform", "x"), "no");
  EXPECT_STREQ(file.Get("Display", "Equation", "x"), "a=b");  // split at the first '='
  EXPECT_STREQ(file.Get("Display", "just some words", "none"), "none");
  EXPECT_STREQ(file.Get("Display", "", "none"), "none");
  EXPECT_STREQ(file.Get("Display", "Empty", "x"), "");  // present but empty
  EXPECT_STREQ(file.Get("Display", "Dup", "x"), "second");
  EXPECT_STREQ(file.Get("Benchmark", "BufferSize", "20"), "32abc");
  EXPECT_STREQ(file.Get("Display", "Later", "x"), "joined");
  EXPECT_STREQ(file.Get("", "; a comment", "none"), "none");
  EXPECT_STREQ(file.Get("", "# another", "none"), "none");
  EXPECT_STREQ(file.Get("Benchmark", "Missing", "20"), "20");
  EXPECT_STREQ(file.Get("Missing", "BufferSize", "20"), "20");
  EXPECT_STREQ(file.Get("Missing", "BufferSize", nullptr), "");
  EXPECT_STREQ(file.Get(nullptr, nullptr, "d"), "d");
}

TEST_F(Config, QuotedValuesAreTakenAsTheyStand) {
  Write("Q.txt",
        "[S]\n"
        "Blank = \"Yes \"\n"
        "Lead = \"  32abc\"\n"
        "Empty = \"\"\n"
        "Inner = \"say \"hi\" now\"\n"
        "Unclosed = \"open\n"
        "Lone = \"\n"
        "Plain = a \"b\" c\n");
  KConfigFile file("@Q.txt", false);
  EXPECT_STREQ(file.Get("S", "Blank", "x"), "Yes ");
  EXPECT_STREQ(file.Get("S", "Lead", "x"), "  32abc");
  EXPECT_STREQ(file.Get("S", "Empty", "x"), "");
  EXPECT_STREQ(file.Get("S", "Inner", "x"), "say \"hi\" now");  // first to last quote
  EXPECT_STREQ(file.Get("S", "Unclosed", "default"), "default");
  EXPECT_STREQ(file.Get("S", "Lone", "default"), "default");
  EXPECT_STREQ(file.Get("S", "Plain", "x"), "a \"b\" c");  // quotes inside stay
}

TEST_F(Config, DamagedSectionHeaderDropsKeysUntilTheNextHeader) {
  // Unclosed, holding a control character, longer than a line may be.
  for (const std::string& broken : {std::string("[Broken"), std::string("  [Bro\x01ken]"),
                                    "[" + std::string(70 * 1024, 'b') + "]"}) {
    Write("U.txt", "[Good]\nA = 1\n" + broken + "\nA = 2\nB = 3\n[Next]\nC = 4\n[Good]\nD = 5\n");
    KConfigFile file("@U.txt", false);
    const std::string what = broken.substr(0, 12);
    EXPECT_STREQ(file.Get("Good", "A", "x"), "1") << what;  // not overridden
    EXPECT_STREQ(file.Get("Good", "B", "x"), "x") << what;
    EXPECT_STREQ(file.Get("Good", "D", "x"), "5") << what;
    EXPECT_STREQ(file.Get("Broken", "A", "x"), "x") << what;
    EXPECT_STREQ(file.Get("", "A", "x"), "x") << what;
    EXPECT_STREQ(file.Get("Next", "C", "x"), "4") << what;
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// Heap bytes in use, as the C library counts them.
size_t HeapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

TEST_F(Config, AFileAtTheSizeCapCostsASmallMultipleOfItsSize) {
  if (kOwnAllocator) GTEST_SKIP() << "the sanitizer's allocator is not counted";
  constexpr size_t kCap = 16u * 1024u * 1024u;
  // Two million one-line sections, and four million keys in one section.
  const std::string head = "[Benchmark]\nBufferSize = 30\n";
  std::string sections = head;
  for (int i = 0; sections.size() < kCap - 16; ++i) sections += "[s" + std::to_string(i) + "]\n";
  std::string keys = head + "[K]\n";
  while (keys.size() < kCap - 16) keys += "a=b\n";
  for (const std::string* content : {&sections, &keys}) {
    Write("Big.txt", *content);
    for (const bool writable : {false, true}) {
      const size_t before = HeapInUse();
      KConfigFile file("@Big.txt", writable);
      const size_t cost = HeapInUse() - before;
      EXPECT_STREQ(file.Get("Benchmark", "BufferSize", "x"), "30");
      EXPECT_STREQ(file.Get("k", "A", "none"), content == &keys ? "b" : "none");
      EXPECT_LT(cost, 4 * content->size()) << (content == &keys ? "keys" : "sections");
    }
  }
}

TEST_F(Config, BinaryBytesAndOverlongLinesAreLeftOutAndTheRestIsRead) {
  std::string content = "\xEF\xBB\xBF[S]\r\nBom = ok\r\n";
  content += std::string("Nul = a\0b\n", 10);
  content += "Bell = \x07\n";
  content += "Long = " + std::string(1024 * 1024, 'x') + "\n";
  content += "Latin = caf\xe9\n";
  content += "After = fine";  // no final newline
  Write("B.txt", content);
  KConfigFile file("@B.txt", false);
  EXPECT_TRUE(KConfigFile_IsLoaded(file));
  EXPECT_STREQ(file.Get("S", "Bom", "x"), "ok");  // byte order mark and CR removed
  EXPECT_STREQ(file.Get("S", "Nul", "d"), "d");
  EXPECT_STREQ(file.Get("S", "Bell", "d"), "d");
  EXPECT_STREQ(file.Get("S", "Long", "d"), "d");
  EXPECT_STREQ(file.Get("S", "Latin", "d"), "caf\xe9");
  EXPECT_STREQ(file.Get("S", "After", "d"), "fine");
}

TEST_F(Config, MissingFileFolderPipeAndUnreadableFileGiveDefaults) {
  {
    KConfigFile missing("@Nothing.txt", false);
    EXPECT_FALSE(KConfigFile_IsLoaded(missing));
    EXPECT_STREQ(missing.Get("Display", "EarlyFrustumCulling", "Yes"), "Yes");
  }
  {
    fs::create_directory(fs::path(mDir) / "Folder.txt");
    KConfigFile folder("@Folder.txt", true);
    EXPECT_FALSE(KConfigFile_IsLoaded(folder));
    EXPECT_STREQ(folder.Get("A", "B", "dflt"), "dflt");
    EXPECT_TRUE(KConfigFile_Set(folder, "A", "B", "v"));
    EXPECT_FALSE(KConfigFile_Save(folder));  // never replaces a folder
    EXPECT_TRUE(fs::is_directory(fs::path(mDir) / "Folder.txt"));
  }
  {
    const std::string pipe = (fs::path(mDir) / "Pipe.txt").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    KConfigFile fifo("@Pipe.txt", false);  // must not wait for a writer
    EXPECT_FALSE(KConfigFile_IsLoaded(fifo));
    EXPECT_STREQ(fifo.Get("A", "B", "dflt"), "dflt");
  }
  {
    KConfigFile unnamed(nullptr, true);
    EXPECT_FALSE(KConfigFile_IsLoaded(unnamed));
    EXPECT_STREQ(unnamed.Get("A", "B", "d"), "d");
    EXPECT_FALSE(KConfigFile_Save(unnamed));
  }
}

TEST_F(Config, UnreadableFileGivesDefaultsAndIsNotSavedOver) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  const std::string path = Write("Locked.txt", "[S]\nK = secret\n");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  KConfigFile file("@Locked.txt", true);
  EXPECT_FALSE(KConfigFile_IsLoaded(file));
  EXPECT_STREQ(file.Get("S", "K", "dflt"), "dflt");
  EXPECT_TRUE(KConfigFile_Set(file, "S", "Other", "1"));
  EXPECT_FALSE(KConfigFile_Save(file));
  ::chmod(path.c_str(), 0600);
  EXPECT_EQ(Read("Locked.txt"), "[S]\nK = secret\n");
}

TEST_F(Config, HugeFileIsReadUpToTheCapAndNeverSavedOver) {
  std::string content = "[S]\nFirst = 1\n";
  const std::string filler = "; " + std::string(1000, 'f') + "\n";
  while (content.size() < 17u * 1024u * 1024u) content += filler;
  content += "Last = 2\n";
  Write("Huge.txt", content);
  KConfigFile file("@Huge.txt", true);
  EXPECT_TRUE(KConfigFile_IsLoaded(file));
  EXPECT_STREQ(file.Get("S", "First", "x"), "1");
  EXPECT_STREQ(file.Get("S", "Last", "beyond the cap"), "beyond the cap");
  EXPECT_TRUE(KConfigFile_Set(file, "S", "First", "changed"));
  EXPECT_FALSE(KConfigFile_Save(file));
  EXPECT_EQ(fs::file_size(fs::path(mDir) / "Huge.txt"), content.size());
}

TEST_F(Config, FolderEnvironmentOverrideAndPathResolution) {
  EXPECT_EQ(KConfig_GetFolder(), mDir);
  EXPECT_EQ(KConfig_ResolvePath("@Task.txt"), mDir + "/Task.txt");
  EXPECT_EQ(KConfig_ResolvePath("relative/Task.txt"), "relative/Task.txt");
  EXPECT_EQ(KConfig_ResolvePath(nullptr), "");

  const fs::path other = fs::path(mDir) / "other";
  fs::create_directory(other);
  std::ofstream(other / "Task.txt") << "[Evaluation]\nPipeline = Parallel\n";
  Write("Task.txt", "[Evaluation]\nPipeline = Serial\n");

  EXPECT_STREQ(KConfigFile("@Task.txt", false).Get("Evaluation", "Pipeline", "x"), "Serial");
  ::setenv("KHOST_CONFIG_DIR", (other.string() + "/").c_str(), 1);
  EXPECT_EQ(KConfig_ResolvePath("@Task.txt"), other.string() + "/Task.txt");
  EXPECT_STREQ(KConfigFile("@Task.txt", false).Get("Evaluation", "Pipeline", "x"), "Parallel");
  ::setenv("KHOST_CONFIG_DIR", "", 1);  // empty: no override
  EXPECT_EQ(KConfig_GetFolder(), mDir);

  KConfig_SetFolder("");
  EXPECT_EQ(KConfig_GetFolder(), ".");
  EXPECT_EQ(KConfig_ResolvePath("@Task.txt"), "./Task.txt");
}

TEST_F(Config, ReadOnlyFilesRefuseChanges) {
  Write("R.txt", "[S]\nK = v\n");
  KConfigFile file("@R.txt", false);
  const char* before = file.Get("S", "K", "x");
  EXPECT_FALSE(KConfigFile_Set(file, "S", "K", "w"));
  EXPECT_FALSE(KConfigFile_Save(file));
  EXPECT_STREQ(file.Get("S", "K", "x"), "v");
  EXPECT_EQ(file.Get("S", "K", "x"), before);  // the pointer stays valid
  EXPECT_EQ(Read("R.txt"), "[S]\nK = v\n");
}

TEST_F(Config, SaveKeepsCommentsReplacesChangedLinesAndAddsNewKeys) {
  Write("W.txt",
        "; settings\n"
        "[Display]\n"
        "EarlyFrustumCulling = Yes ; stays as text\n"
        "\n"
        "[Benchmark]\n"
        "BufferSize = 20\n"
        "# trailing comment\n");
  {
    KConfigFile file("@W.txt", true);
    ASSERT_TRUE(KConfigFile_IsLoaded(file));
    EXPECT_TRUE(KConfigFile_Set(file, "benchmark", "buffersize", "64"));
    EXPECT_TRUE(KConfigFile_Set(file, "Display", "UseGPUSkinDeform", "Yes "));
    EXPECT_TRUE(KConfigFile_Set(file, "Evaluation", "Pipeline", "  32abc"));
    EXPECT_TRUE(KConfigFile_Set(file, "", "Top", "\"quoted\""));
    EXPECT_STREQ(file.Get("Benchmark", "BufferSize", "x"), "64");
    EXPECT_TRUE(KConfigFile_Save(file));
  }
  EXPECT_EQ(Read("W.txt"),
            "Top = \"\"quoted\"\"\n"
            "; settings\n"
            "[Display]\n"
            "EarlyFrustumCulling = Yes ; stays as text\n"
            "UseGPUSkinDeform = \"Yes \"\n"
            "\n"
            "[Benchmark]\n"
            "BufferSize = 64\n"
            "# trailing comment\n"
            "[Evaluation]\n"
            "Pipeline = \"  32abc\"\n");

  KConfigFile again("@W.txt", false);
  EXPECT_STREQ(again.Get("Display", "UseGPUSkinDeform", "x"), "Yes ");
  EXPECT_STREQ(again.Get("Evaluation", "Pipeline", "x"), "  32abc");
  EXPECT_STREQ(again.Get("Benchmark", "BufferSize", "x"), "64");
  EXPECT_STREQ(again.Get("", "Top", "x"), "\"quoted\"");
  EXPECT_STREQ(again.Get("Display", "EarlyFrustumCulling", "x"), "Yes ; stays as text");
}

TEST_F(Config, SaveCreatesAMissingFileAndRefusesTextThatWouldNotReadBack) {
  KConfigFile file("@New.txt", true);
  EXPECT_FALSE(KConfigFile_IsLoaded(file));
  EXPECT_FALSE(KConfigFile_Set(file, "S", "", "v"));
  EXPECT_FALSE(KConfigFile_Set(file, "S", " padded", "v"));
  EXPECT_FALSE(KConfigFile_Set(file, "S", "a=b", "v"));
  EXPECT_FALSE(KConfigFile_Set(file, "S", ";comment", "v"));
  EXPECT_FALSE(KConfigFile_Set(file, "S]", "k", "v"));
  EXPECT_FALSE(KConfigFile_Set(file, "S", "k", "two\nlines"));
  EXPECT_FALSE(KConfigFile_Set(file, "S", "k", nullptr));
  EXPECT_TRUE(KConfigFile_Set(file, "S", "k", ""));
  EXPECT_TRUE(KConfigFile_Set(file, "S", "k2", "\t tabbed"));
  EXPECT_TRUE(KConfigFile_Save(file));
  EXPECT_TRUE(KConfigFile_Save(file));  // saving twice gives the same file
  EXPECT_EQ(Read("New.txt"), "[S]\nk = \nk2 = \"\t tabbed\"\n");
  KConfigFile again("@New.txt", false);
  EXPECT_TRUE(KConfigFile_IsLoaded(again));
  EXPECT_STREQ(again.Get("S", "k", "x"), "");
  EXPECT_STREQ(again.Get("S", "k2", "x"), "\t tabbed");
}

TEST_F(Config, KeysAddedBeforeTheFirstSectionKeepAByteOrderMarkInFront) {
  Write("Bom.txt", "\xEF\xBB\xBF[S]\nK = v\n");
  {
    KConfigFile file("@Bom.txt", true);
    EXPECT_TRUE(KConfigFile_Set(file, "", "Top", "1"));
    EXPECT_TRUE(KConfigFile_Save(file));
  }
  EXPECT_EQ(Read("Bom.txt"), "\xEF\xBB\xBFTop = 1\n[S]\nK = v\n");
  KConfigFile again("@Bom.txt", false);
  EXPECT_STREQ(again.Get("S", "K", "lost"), "v");
  EXPECT_STREQ(again.Get("", "Top", "lost"), "1");
}
