// The module as Windows loads it: LoadLibrary of toolprofiling.dll beside the
// stand-in host DLLs, under a real PE loader (Wine's, in CI). Registration on
// process attach only, the entry point, the tool window through the
// registered factory painted into a WGL context and held to the Linux
// build's picture, "Reset To Default" with configuration files in Windows
// form, and the window's teardown; the headless WGL surface's resizing.
#include <windows.h>
// After windows.h: gl.h needs its calling-convention macros and the
// GoogleTest headers use its types.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/tool_picture.h"
#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "host/ktoolkit.h"
#include "ksurface.h"
#include "standin/kbaselib/config.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kbaselib/registry.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

typedef void (*EntryPointFunction)(kDllOperation);

int RegisterCount(const char* path) {
  const KRegisteredClass* entry = Object_Find(path, "ProfilingCenter");
  return entry ? entry->RegisterCount : 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The module is loaded once for the whole program, as a host loads it; the
// first test sees the load itself.
HMODULE gModule = nullptr;
int gToolsBeforeLoad = -1;

HMODULE Module() {
  if (!gModule) {
    gToolsBeforeLoad = RegisterCount("UI/Tools");
    gModule = LoadLibraryA("toolprofiling.dll");
  }
  return gModule;
}

DWORD WINAPI IdleThread(LPVOID) {
  return 0;
}

TEST(WindowsModule, LoaderRegistersOnProcessAttachOnly) {
  ASSERT_NE(Module(), nullptr) << "LoadLibrary failed with error " << GetLastError();
  EXPECT_EQ(gToolsBeforeLoad, 0);
  // Process attach: each place once, with its icon and the shared factory.
  EXPECT_EQ(RegisterCount("UI/Tools"), 1);
  EXPECT_EQ(RegisterCount("UI/Browsing"), 1);
  const KRegisteredClass* tools = Object_Find("UI/Tools", "ProfilingCenter");
  const KRegisteredClass* browsing = Object_Find("UI/Browsing", "ProfilingCenter");
  ASSERT_NE(tools, nullptr);
  ASSERT_NE(browsing, nullptr);
  EXPECT_STREQ(tools->DisplayName, "ProfilingCenter Tool");
  EXPECT_STREQ(tools->Icon, "kapp/kapp-video.png");
  EXPECT_STREQ(browsing->Icon, "kapp/kapp-generic.png");
  EXPECT_EQ(tools->Factory, browsing->Factory);

  // Threads started and ended: the loader calls DllMain with thread attach
  // and thread detach, which change nothing.
  for (int i = 0; i < 4; ++i) {
    HANDLE thread = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  EXPECT_EQ(RegisterCount("UI/Tools"), 1);
  EXPECT_EQ(RegisterCount("UI/Browsing"), 1);

  // A second LoadLibrary only counts a reference: no second process attach.
  HMODULE again = LoadLibraryA("toolprofiling.dll");
  EXPECT_EQ(again, Module());
  FreeLibrary(again);
  EXPECT_EQ(RegisterCount("UI/Tools"), 1);

  // The exports, by their names in the export table.
  auto entryPoint = reinterpret_cast<EntryPointFunction>(reinterpret_cast<void*>(
      GetProcAddress(Module(), "_Z23EntryPointtoolprofiling13kDllOperation")));
  auto init = reinterpret_cast<bool (*)()>(
      reinterpret_cast<void*>(GetProcAddress(Module(), "LIBRARY_INIT")));
  ASSERT_NE(entryPoint, nullptr);
  ASSERT_NE(init, nullptr);
  EXPECT_TRUE(init());
  entryPoint(kDllOperationUnregister);
  EXPECT_EQ(RegisterCount("UI/Tools"), 1);
  entryPoint(kDllOperationRegister);
  EXPECT_EQ(RegisterCount("UI/Tools"), 2);
  EXPECT_EQ(RegisterCount("UI/Browsing"), 2);
}

// Paints the tool opened through the registered factory and holds it to the
// Linux build's picture: shapes pixel for pixel, the same lines of text at
// the same places.
TEST(WindowsModule, ToolPaintsAsTheLinuxBuildDoes) {
  ASSERT_NE(Module(), nullptr);
  kptest::PictureState state;
  IObject* window = Object_Create("UI/Tools", "ProfilingCenter", nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  kptest::ToolPicture picture;
  std::string error;
  const bool painted = kptest::PaintToolPicture(window, picture, &error);
  window->Destroy(0);
  ASSERT_TRUE(painted) << error;
  ASSERT_TRUE(KPng_Write(KP_OUTPUT_DIR "/tool-picture-windows.png", picture.Width, picture.Height,
                         picture.Full.data(), &error))
      << error;

  int width = 0;
  int height = 0;
  std::vector<unsigned char> reference;
  ASSERT_TRUE(KPng_Read(KP_REFERENCE_DIR "/tool-shapes.png", width, height, reference, &error))
      << error;
  ASSERT_EQ(width, picture.Width);
  ASSERT_EQ(height, picture.Height);
  int x = 0;
  int y = 0;
  const int different = kptest::CountDifferentPixels(picture.Shapes, reference, width, x, y);
  if (different != 0) {
    KPng_Write(KP_OUTPUT_DIR "/tool-shapes-windows.png", picture.Width, picture.Height,
               picture.Shapes.data(), nullptr);
  }
  EXPECT_EQ(different, 0) << "first at (" << x << ", " << y << ")";
  // The same texts (formatted by the Windows runtime) at the same places;
  // a block's second line may sit a pixel or two off with the font's height.
  EXPECT_EQ(kptest::FirstTextDifference(
                picture.Texts, kptest::SplitLines(ReadText(KP_REFERENCE_DIR "/tool-texts.txt")), 2),
            "");
}

// A label longer than its buffer (a 300-character cycle name) is cut to the
// buffer, as on Linux; the runtime's vsprintf_s alone would end the process.
TEST(WindowsModule, OverlongLabelIsCutNotFatal) {
  ASSERT_NE(Module(), nullptr);
  kptest::PictureState state;
  const std::string longName(300, 'x');
  KProfilingSampling longCycle(longName.c_str(), 0.5f, 0.5f, 0.5f);
  KProfilingSampling_AddSample(longCycle, 1000.0);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 3, &longCycle);
  IObject* window = Object_Create("UI/Tools", "ProfilingCenter", nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  kptest::ToolPicture picture;
  std::string error;
  const bool painted = kptest::PaintToolPicture(window, picture, &error);
  window->Destroy(0);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 3, nullptr);
  ASSERT_TRUE(painted) << error;
  int labels = 0;
  for (const std::string& line : picture.Texts) {
    const std::string text = line.substr(line.find(' ', line.find(' ') + 1) + 1);
    if (text.rfind("xxx", 0) != 0) continue;
    ++labels;
    EXPECT_EQ(text, std::string(199, 'x'));  // a 200-byte label buffer
  }
  EXPECT_EQ(labels, 1);
}

// The nine settings "Reset To Default" reads, from files with CRLF line
// endings, set through the button as a user clicks it.
TEST(WindowsModule, ResetToDefaultReadsWindowsConfigurationFiles) {
  ASSERT_NE(Module(), nullptr);
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string config =
      std::string(folder) + "kp-reset-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(config.c_str(), nullptr);
  std::ofstream(config + "\\Application.txt", std::ios::binary)
      << "; written on Windows\r\n[Display]\r\nEarlyFrustumCulling = No\r\n"
         "UseGPUSkinDeform = yes\r\n\r\n[Benchmark]\r\nBufferSize = 37\r\n"
         "FrameReference = NO\r\nEvaluationDepth = 2\r\nProfilingType = 0\r\n";
  std::ofstream(config + "\\Task.txt", std::ios::binary)
      << "[Evaluation]\r\nPipeline = Parallel\r\nEvaluation = 1\r\nDeformation = serial\r\n";
  const std::string previousFolder = KConfig_GetFolder();
  KConfig_SetFolder(config.c_str());

  KShaders_GetRenderer()->EarlyFrustumCulling = true;
  KEvaluateManager::TheOne()->ParallelPipeline = false;
  KEvaluateManager::TheOne()->ParallelEvaluation = 0;
  KEvaluateManager::TheOne()->ParallelDeformation = true;
  KGPGPU_GetGPGPUManager()->GPUSkinDeform = false;
  KProfiler::TheOne()->BufferSize = 20;
  KProfiler::TheOne()->FrameReference = true;
  KProfiler::TheOne()->EvaluationDepth = 0;
  KProfiler::TheOne()->ProfilingType = 1;

  kptest::PictureState state;
  IObject* window = Object_Create("UI/Tools", "ProfilingCenter", nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  kptest::ToolPicture picture;
  std::string error;
  ASSERT_TRUE(kptest::PaintToolPicture(window, picture, &error)) << error;
  // The button's caption, where the paint drew it.
  int buttonX = -1;
  int buttonY = -1;
  for (const std::string& line : picture.Texts) {
    int x = 0;
    int y = 0;
    char text[64] = {};
    if (std::sscanf(line.c_str(), "%d %d %63[^\n]", &x, &y, text) == 3 &&
        std::string(text) == "Reset To Default") {
      buttonX = x + 4;
      buttonY = y;
    }
  }
  ASSERT_GE(buttonX, 0) << "the button's caption was not drawn";
  {
    std::unique_ptr<KSurface> surface = KSurface_CreateHeadless(800, 420, &error);
    ASSERT_NE(surface, nullptr) << error;
    IKtGraphic* graphic = KtGraphic_CreateGL(800, 420, &error);
    ASSERT_NE(graphic, nullptr) << error;
    {
      KtViewHost host(graphic);
      host.SetRoot(KQueryInterface<IKtView>(window, kIID_IKtView), 800, 420);
      host.Expose();
      host.Input(kInputMouseDown, buttonX, buttonY, 0, 0);
      host.Input(kInputMouseUp, buttonX, buttonY, 0, 0);
      host.SetRoot(nullptr, 0, 0);
    }
    graphic->Destroy(0);
  }
  window->Destroy(0);
  KConfig_SetFolder(previousFolder.c_str());

  EXPECT_FALSE(KShaders_GetRenderer()->EarlyFrustumCulling);  // only exactly "Yes" is on
  EXPECT_TRUE(KEvaluateManager::TheOne()->ParallelPipeline);
  EXPECT_EQ(KEvaluateManager::TheOne()->ParallelEvaluation.GetAsInt(), 1);
  EXPECT_FALSE(KEvaluateManager::TheOne()->ParallelDeformation);  // "serial", any case
  EXPECT_TRUE(KGPGPU_GetGPGPUManager()->GPUSkinDeform);           // "yes", any case
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 37);
  EXPECT_FALSE(KProfiler::TheOne()->FrameReference);
  EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, 2);
  EXPECT_EQ(KProfiler::TheOne()->ProfilingType.Get(), 0);
  DeleteFileA((config + "\\Application.txt").c_str());
  DeleteFileA((config + "\\Task.txt").c_str());
  RemoveDirectoryA(config.c_str());
}

// Opening, painting and closing the tool leaves no host object behind.
TEST(WindowsModule, ClosingTheToolDestroysEverythingItBuilt) {
  ASSERT_NE(Module(), nullptr);
  kptest::PictureState state;
  const int before = KObject_GetLiveCount();
  for (int i = 0; i < 3; ++i) {
    IObject* window = Object_Create("UI/Browsing", "ProfilingCenter", nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_GT(KObject_GetLiveCount(), before);
    kptest::ToolPicture picture;
    std::string error;
    ASSERT_TRUE(kptest::PaintToolPicture(window, picture, &error)) << error;
    window->Destroy(0);
    EXPECT_EQ(KObject_GetLiveCount(), before) << "opening " << i;
  }
}

// FreeLibrary unregisters nothing: the registry keeps both entries. Runs
// last (GoogleTest runs a file's tests in their order).
TEST(WindowsModule, FreeLibraryUnregistersNothing) {
  ASSERT_NE(Module(), nullptr);
  const int tools = RegisterCount("UI/Tools");
  const int browsing = RegisterCount("UI/Browsing");
  EXPECT_TRUE(FreeLibrary(gModule));
  gModule = nullptr;
  EXPECT_EQ(RegisterCount("UI/Tools"), tools);
  EXPECT_EQ(RegisterCount("UI/Browsing"), browsing);
}

// A resize gives the headless surface a framebuffer object of the new size,
// read back top row first without row padding; a refused size keeps the old
// framebuffer and its frame.
TEST(WindowsSurface, ResizeReallocatesAndRefusesBadSizes) {
  std::string error;
  std::unique_ptr<KSurface> surface = KSurface_CreateHeadless(64, 48, &error);
  ASSERT_NE(surface, nullptr) << error;
  ASSERT_TRUE(surface->Resize(33, 17, &error)) << error;
  EXPECT_EQ(surface->Width(), 33);
  EXPECT_EQ(surface->Height(), 17);
  // The top row red (OpenGL's rows count from the bottom), the rest black.
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 16, 33, 1);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{16385, 1}}) {
    error.clear();
    EXPECT_FALSE(surface->Resize(w, h, &error));
    EXPECT_NE(error.find("is outside 1..16384"), std::string::npos) << error;
    EXPECT_EQ(surface->Width(), 33);
    EXPECT_EQ(surface->Height(), 17);
  }
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(surface->ReadPixels(rgba));
  ASSERT_EQ(rgba.size(), 33u * 17u * 4u);
  EXPECT_EQ(rgba[32 * 4], 255) << "the top row's last pixel";
  EXPECT_EQ(rgba[33 * 4], 0) << "the second row's first pixel";
}

}  // namespace
