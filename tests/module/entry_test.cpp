// The built module, loaded the way the host loads it: registration at load
// time, the entry point, the factory, and the library's export table and
// dependencies.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "host/kbaselib.h"
#include "host/kdesktop.h"
#include "standin/kbaselib/registry.h"

namespace {

typedef void (*EntryPointFunction)(kDllOperation);
typedef bool (*LibraryInitFunction)();

const char kEntryPointSymbol[] = "_Z23EntryPointtoolprofiling13kDllOperation";

// Runs a command and returns its standard output.
std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
  pclose(pipe);
  return output;
}

class ModuleEntry : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Nothing of the module is registered before it is loaded.
    sRegisteredBeforeLoad = Object_Find("UI/Tools", "ProfilingCenter") != nullptr ||
                            Object_Find("UI/Browsing", "ProfilingCenter") != nullptr;
    sModule = dlopen(KP_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  }

  void SetUp() override { ASSERT_NE(sModule, nullptr) << dlerror(); }

  static int RegisterCount(const char* path) {
    const KRegisteredClass* entry = Object_Find(path, "ProfilingCenter");
    return entry ? entry->RegisterCount : 0;
  }

  static EntryPointFunction EntryPoint() {
    return reinterpret_cast<EntryPointFunction>(dlsym(sModule, kEntryPointSymbol));
  }

  static inline void* sModule = nullptr;
  static inline bool sRegisteredBeforeLoad = false;
};

TEST_F(ModuleEntry, LoadingRegistersTheToolInBothPlaces) {
  EXPECT_FALSE(sRegisteredBeforeLoad);
  struct Expected {
    const char* Path;
    const char* Icon;
  };
  for (const Expected& e : {Expected{"UI/Tools", "kapp/kapp-video.png"},
                            Expected{"UI/Browsing", "kapp/kapp-generic.png"}}) {
    SCOPED_TRACE(e.Path);
    const KRegisteredClass* entry = Object_Find(e.Path, "ProfilingCenter");
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->DisplayName, "ProfilingCenter Tool");
    EXPECT_STREQ(entry->Icon, e.Icon);
    EXPECT_FALSE(entry->Flag);
    EXPECT_EQ(entry->Object, nullptr);
    EXPECT_NE(entry->Factory, nullptr);
    EXPECT_GE(entry->RegisterCount, 1);
  }
  // Both entries share the one factory.
  EXPECT_EQ(Object_Find("UI/Tools", "ProfilingCenter")->Factory,
            Object_Find("UI/Browsing", "ProfilingCenter")->Factory);
  // Loading the already loaded module again runs no second load-time entry.
  const int tools = RegisterCount("UI/Tools");
  void* again = dlopen(KP_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(RegisterCount("UI/Tools"), tools);
  dlclose(again);
}

TEST_F(ModuleEntry, EntryPointRegistersOnlyForOperationZero) {
  EntryPointFunction entryPoint = EntryPoint();
  ASSERT_NE(entryPoint, nullptr);
  const int tools = RegisterCount("UI/Tools");
  const int browsing = RegisterCount("UI/Browsing");
  const int classes = Object_GetRegisteredCount();

  for (int operation : {1, 2, 3, -1, 1000}) {
    entryPoint(static_cast<kDllOperation>(operation));
    EXPECT_EQ(RegisterCount("UI/Tools"), tools) << operation;
    EXPECT_EQ(RegisterCount("UI/Browsing"), browsing) << operation;
  }
  entryPoint(kDllOperationRegister);
  EXPECT_EQ(RegisterCount("UI/Tools"), tools + 1);
  EXPECT_EQ(RegisterCount("UI/Browsing"), browsing + 1);
  entryPoint(static_cast<kDllOperation>(0));
  EXPECT_EQ(RegisterCount("UI/Tools"), tools + 2);
  EXPECT_EQ(RegisterCount("UI/Browsing"), browsing + 2);
  // Repeats replace; they never add entries.
  EXPECT_EQ(Object_GetRegisteredCount(), classes);
  EXPECT_STREQ(Object_Find("UI/Tools", "ProfilingCenter")->Icon, "kapp/kapp-video.png");
  EXPECT_STREQ(Object_Find("UI/Browsing", "ProfilingCenter")->Icon, "kapp/kapp-generic.png");
}

TEST_F(ModuleEntry, LibraryInitReturnsTrueAndRegistersNothing) {
  LibraryInitFunction init = reinterpret_cast<LibraryInitFunction>(dlsym(sModule, "LIBRARY_INIT"));
  ASSERT_NE(init, nullptr);
  const int tools = RegisterCount("UI/Tools");
  EXPECT_TRUE(init());
  EXPECT_TRUE(init());
  EXPECT_EQ(RegisterCount("UI/Tools"), tools);
}

TEST_F(ModuleEntry, FactoryMakesDistinctWindowsWhateverItsArguments) {
  const KRegisteredClass* entry = Object_Find("UI/Tools", "ProfilingCenter");
  ASSERT_NE(entry, nullptr);
  char name[] = "anything";
  int data = 7;
  IObject* windows[3] = {
      entry->Factory(nullptr, nullptr, nullptr),
      entry->Factory(reinterpret_cast<IObject*>(&data), name, &data),
      Object_Create("UI/Browsing", "ProfilingCenter", nullptr, nullptr),
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(windows[i], nullptr);
    // The factory answers the window's own root interface.
    EXPECT_EQ(windows[i]->IQuery(kIID_IObject, 0), windows[i]);
    ITool* tool = KQueryInterface<ITool>(windows[i], kIID_ITool);
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->ToolGetStartWSize(), 800);
    EXPECT_EQ(tool->ToolGetStartHSize(), 420);
    IKtLayout* layout = KQueryInterface<IKtLayout>(windows[i], kIID_IKtLayout);
    EXPECT_NE(layout, nullptr);
    for (int j = 0; j < i; ++j) EXPECT_NE(windows[i], windows[j]);
  }
  for (IObject* window : windows) window->Destroy(0);
}

TEST_F(ModuleEntry, ExportsExactlyTheTwoEntryPoints) {
  const std::string output =
      RunCommand(std::string("nm -D --defined-only '") + KP_MODULE_PATH + "'");
  ASSERT_FALSE(output.empty());
  std::set<std::string> names;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"LIBRARY_INIT", kEntryPointSymbol}));
}

TEST_F(ModuleEntry, DependsOnlyOnTheHostLibrariesAndOpenGL) {
  const std::string output = RunCommand(std::string("objdump -p '") + KP_MODULE_PATH + "'");
  ASSERT_FALSE(output.empty());
  const std::set<std::string> host = {"libkbaselib.so", "libktoolkit.so", "libkcontrols.so",
                                      "libkdesktop.so", "libbcore.so",    "libkgpgpu.so",
                                      "libkshader.so"};
  std::istringstream lines(output);
  std::string line;
  int needed = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string tag, library;
    if (!(fields >> tag >> library) || tag != "NEEDED") continue;
    ++needed;
    const bool allowed =
        host.count(library) > 0 || library.rfind("libOpenGL.so", 0) == 0 ||
        library.rfind("libGL.so", 0) == 0 ||
        // the C and C++ runtimes, and sanitizer runtimes in such builds
        library.rfind("libstdc++.so", 0) == 0 || library.rfind("libm.so", 0) == 0 ||
        library.rfind("libc.so", 0) == 0 || library.rfind("libgcc_s.so", 0) == 0 ||
        library.rfind("libasan.so", 0) == 0 || library.rfind("libubsan.so", 0) == 0 ||
        library.rfind("libtsan.so", 0) == 0;
    EXPECT_TRUE(allowed) << library;
  }
  EXPECT_GT(needed, 0);
}

}  // namespace
