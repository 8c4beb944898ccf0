#include "khost/app/app.h"

#include <epoxy/gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/bcore.h"
#include "host/kdesktop.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "khost/app/host_settings.h"
#include "khost/app/measured_run.h"
#include "khost/app/module_loader.h"
#include "khost/app/output_file.h"
#include "khost/app/profiler_feed.h"
#include "khost/app/ui_driver.h"
#include "khost/app/ui_schedule.h"
#include "khost/render/viewport.h"
#include "khost/scene/workload.h"
#include "ksurface.h"
#include "standin/kbaselib/config.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kbaselib/registry.h"
#include "standin/ktoolkit/viewhost.h"

#ifndef KHOST_SHIPPED_CONFIG_DIR
#define KHOST_SHIPPED_CONFIG_DIR ""
#endif

namespace khost {

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why `path` cannot be the configuration folder; empty when it can.
std::string ConfigFolderProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "no such folder " + QuoteArgument(path);
  if (!S_ISDIR(info.st_mode)) return QuoteArgument(path) + " is not a folder";
  return "";
}

// Why the configuration file at `path` is there but cannot be read, so its
// settings take their defaults; empty when it is a readable file or is
// missing (a missing file gives the defaults, as intended).
std::string ConfigFileProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return lstat(path.c_str(), &info) == 0 ? "is a link that leads nowhere" : "";
    }
    return std::string("cannot be reached (") + std::strerror(errno) + ")";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (access(path.c_str(), R_OK) != 0) {
    return std::string("cannot be read (") + std::strerror(errno) + ")";
  }
  return "";
}

// Runs a call into the module's code, which may throw anything; false, with
// a message saying what threw, when it does.
template <class Call>
bool CallModule(const std::string& what, Call&& call, std::string& error) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    error = what + " threw: " + e.what();
  } catch (...) {
    error = what + " threw something that is not a standard exception";
  }
  return false;
}

constexpr int kHeadlessFrames = 120;
constexpr int kDefaultViewportWidth = 640;
constexpr int kMaxSide = 16384;
constexpr const char* kDefaultScreenshot = "profiling-center.png";

// Window events go straight to the toolkit, moved into the tool's own
// coordinates (it lies ToolX pixels right of the window's left edge); a
// resize is applied at the start of the next frame. Anything but a mouse
// move marks the tool for a repaint this frame.
class InputSink : public KSurfaceSink {
 public:
  explicit InputSink(KtViewHost& host) : mHost(host) {}
  void SurfaceInput(int event, int x, int y, int button, int modifiers) override {
    mHost.Input(event, x - ToolX, y, button, modifiers);
    if (event != kInputMouseMove) Touched = true;
  }
  int ToolX = 0;
  bool Touched = false;
  void SurfaceResized(int width, int height) override {
    Resized = true;
    Width = width;
    Height = height;
  }
  bool Resized = false;
  int Width = 0;
  int Height = 0;

 private:
  KtViewHost& mHost;
};

// The display selector's choice, mapped as the panel maps it.
KProfilingSampling* SelectedCycle(KtList* list) {
  if (!list) return nullptr;
  KProfiler* profiler = KProfiler::TheOne();
  switch (list->SelectedIndex.Get()) {
    case 1:
      return profiler->RootCycles[kSlotEvaluation];
    case 2:
      return profiler->RootCycles[kSlotRendering];
    case 3:
      return profiler->RootCycles[kSlotDevices];
    default:
      return nullptr;
  }
}

class Application {
 public:
  Application(const Options& options, std::ostream& out, std::ostream& err)
      : mOptions(options), mOut(out), mErr(err) {}
  ~Application() { Shutdown(); }
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  int Run();

 private:
  int StartHost();
  int OpenTool();
  int OpenSurface();
  int OpenOutputs();
  int Loop();
  int WritePng(OutputFile& file, const char* flag, int width, int height,
               const std::vector<unsigned char>& pixels);
  void DrawAndFinish();
  void Frame(bool last, std::vector<unsigned char>* capture,
             std::vector<unsigned char>* windowCapture);
  // The previous frame's period (up to `now`), work, present and paint.
  void PreviousFrameInto(FrameRecord& record, Clock::time_point now) const;
  void PaintTool();
  bool ApplyLayout(int windowWidth, int windowHeight, std::string* error);
  void UpdateScene();
  int Finish();
  void Shutdown();

  const Options& mOptions;
  std::ostream& mOut;
  std::ostream& mErr;

  std::unique_ptr<ThreadPool> mPool;
  std::unique_ptr<Workload> mWorkload;
  std::unique_ptr<ProfilerFeed> mFeed;
  int mWrittenNodeCount = -1;

  LoadedModule mModule;
  IObject* mTool = nullptr;  // interface 0 of the tool window
  KtLayout* mToolLayout = nullptr;
  KtLayout* mPanel = nullptr;
  IKtView* mToolView = nullptr;

  std::unique_ptr<KSurface> mSurface;
  IKtGraphic* mGraphic = nullptr;
  std::unique_ptr<KtViewHost> mHost;
  std::unique_ptr<InputSink> mSink;
  std::unique_ptr<UiDriver> mDriver;
  OutputFile mScreenshot;
  OutputFile mWindowScreenshot;
  OutputFile mStats;
  bool mHeadless = true;
  int mWidth = 0;  // the tool window's size
  int mHeight = 0;
  int mMinWidth = 0;  // the tool's minimum size
  int mMinHeight = 0;
  int mToolWidth = 0;  // the tool's width as asked for, kept on resizes
  bool mWithViewport = true;
  int mViewportWidth = 0;
  int mViewportHeight = 0;
  std::unique_ptr<Viewport> mViewport;
  std::unique_ptr<ToolLayer> mToolLayer;
  UiSchedule mUiSchedule{30};
  bool mToolDirty = true;
  Clock::time_point mLoopStart;

  long long mFrameIndex = 0;
  bool mHavePrevious = false;
  Clock::time_point mPreviousStart;
  double mPreviousWork = -1.0;
  double mPreviousPresent = -1.0;
  double mPreviousPaint = -1.0;
  bool mPreviousPainted = false;
  Clock::time_point mPreviousPresentStart;
  Clock::time_point mPreviousPaintStart;
  FrameTimings mTimings;
  MeasuredRun mMeasured;
};

int Application::Run() {
  if (int status = StartHost(); status != 0) return status;
  if (int status = OpenTool(); status != 0) return status;
  if (int status = OpenSurface(); status != 0) return status;
  if (int status = OpenOutputs(); status != 0) return status;
  if (int status = Loop(); status != 0) return status;
  return Finish();
}

int Application::StartHost() {
  // The configuration folder: the command line, else the environment
  // (which the host library reads itself), else the files beside the
  // executable, else the ones shipped with the sources.
  const std::string exeFolder = ExecutableFolder();
  if (mOptions.ConfigDir) {
    if (const std::string problem = ConfigFolderProblem(*mOptions.ConfigDir); !problem.empty()) {
      mErr << "khost: --config-dir: " << problem << "\n";
      return 2;
    }
    // The variable outranks the folder the host sets; the command line must
    // win, for the module's reset as well.
    setenv("KHOST_CONFIG_DIR", mOptions.ConfigDir->c_str(), 1);
    KConfig_SetFolder(mOptions.ConfigDir->c_str());
  } else {
    const char* env = std::getenv("KHOST_CONFIG_DIR");
    if (env && *env) {
      if (const std::string problem = ConfigFolderProblem(env); !problem.empty()) {
        mErr << "khost: KHOST_CONFIG_DIR: " << problem << "\n";
        return 2;
      }
    } else {
      std::string folder = ".";
      if (IsDirectory(exeFolder + "/config")) {
        folder = exeFolder + "/config";
      } else if (IsDirectory(KHOST_SHIPPED_CONFIG_DIR)) {
        folder = KHOST_SHIPPED_CONFIG_DIR;
      }
      KConfig_SetFolder(folder.c_str());
    }
  }

  // The registry, the profiler and the engine settings come to life here.
  Object_GetRegisteredCount();
  KProfiler::TheOne();
  KEvaluateManager::TheOne();
  KShaders_GetRenderer();
  KGPGPU_GetGPGPUManager();

  for (const char* name : {"@Application.txt", "@Task.txt"}) {
    const std::string path = KConfig_ResolvePath(name);
    if (const std::string problem = ConfigFileProblem(path); !problem.empty()) {
      mErr << "khost: configuration file " << QuoteArgument(path) << " " << problem
           << "; its settings take their defaults\n";
    }
  }
  const ConfiguredSettings configured = ReadConfiguredSettings();
  ApplyConfiguredSettings(configured);

  mPool = std::make_unique<ThreadPool>(ThreadPool::DefaultWorkerCount());
  mWorkload = std::make_unique<Workload>(*mPool, configured.Characters);
  mFeed = std::make_unique<ProfilerFeed>();
  mFeed->SetCharacterCount(mWorkload->GetScene().GetCharacterCount());
  mFeed->Install();
  mWrittenNodeCount = mWorkload->GetScene().GetNodeCount();
  KEvaluateManager::TheOne()->NodeCount = mWrittenNodeCount;
  return 0;
}

int Application::OpenTool() {
  const std::string path =
      mOptions.ModulePath ? *mOptions.ModulePath : ExecutableFolder() + "/libtoolprofiling.so";
  std::string error;
  if (!mModule.Load(path, error)) {
    mErr << "khost: " << error << "\n";
    return 1;
  }
  bool initialised = false;
  if (!CallModule(
          "LIBRARY_INIT of module " + QuoteArgument(path), [&] { initialised = mModule.Init(); },
          error) ||
      !CallModule(
          "EntryPointtoolprofiling of module " + QuoteArgument(path),
          [&] {
            if (initialised) mModule.Entry(kDllOperationRegister);
          },
          error)) {
    mErr << "khost: " << error << "\n";
    return 1;
  }
  if (!initialised) {
    mErr << "khost: module " << QuoteArgument(path)
         << " refused to initialise (LIBRARY_INIT returned false)\n";
    return 1;
  }

  const KRegisteredClass* tool = Object_Find("UI/Tools", "ProfilingCenter");
  if (!tool || !tool->Factory) {
    mErr << "khost: module " << QuoteArgument(path)
         << " registered no \"ProfilingCenter\" under \"UI/Tools\"\n";
    return 1;
  }
  if (!CallModule(
          "the module's ProfilingCenter factory",
          [&] { mTool = tool->Factory(nullptr, const_cast<char*>("ProfilingCenter"), nullptr); },
          error)) {
    mErr << "khost: the ProfilingCenter tool could not be created: " << error << "\n";
    return 1;
  }
  if (!mTool) {
    mErr << "khost: the ProfilingCenter factory returned no tool\n";
    return 1;
  }
  ITool* itool = KQueryInterface<ITool>(mTool, kIID_ITool);
  mToolView = KQueryInterface<IKtView>(mTool, kIID_IKtView);
  mToolLayout = dynamic_cast<KtLayout*>(mTool);
  if (!itool || !mToolView || !mToolLayout) {
    mErr << "khost: the ProfilingCenter tool is not a tool window\n";
    return 1;
  }
  mPanel = dynamic_cast<KtLayout*>(dynamic_cast<KtView*>(mToolLayout->GetRegionView("Adaptable")));
  mWidth = mOptions.Width ? *mOptions.Width : itool->ToolGetStartWSize();
  mHeight = mOptions.Height ? *mOptions.Height : itool->ToolGetStartHSize();
  if (const std::string problem = SizeProblem(mWidth, mHeight); !problem.empty()) {
    mErr << "khost: the tool asks for an unusable start size: " << problem << "\n";
    return 1;
  }
  // Below its minimum the tool would hide controls; a start size below it
  // grows to it, an asked size below it is refused.
  mMinWidth = std::clamp(itool->ToolGetMinWSize(), 1, 16384);
  mMinHeight = std::clamp(itool->ToolGetMinHSize(), 1, 16384);
  if (mOptions.Width && (mWidth < mMinWidth || mHeight < mMinHeight)) {
    mErr << "khost: --size " << mWidth << "x" << mHeight << " is below the tool's minimum size "
         << mMinWidth << "x" << mMinHeight << "\n";
    return 2;
  }
  mWidth = std::max(mWidth, mMinWidth);
  mHeight = std::max(mHeight, mMinHeight);
  return 0;
}

int Application::OpenSurface() {
  std::string error;
  mToolWidth = mWidth;
  mViewportWidth = mOptions.ViewportWidth ? *mOptions.ViewportWidth : kDefaultViewportWidth;
  mViewportHeight = mOptions.ViewportHeight ? *mOptions.ViewportHeight : mHeight;
  mWithViewport = mViewportWidth > 0 && mViewportHeight > 0;
  if (!mWithViewport) mViewportWidth = mViewportHeight = 0;
  const int windowWidth = mViewportWidth + mWidth;
  const int windowHeight = std::max(mViewportHeight, mHeight);
  if (windowWidth > kMaxSide) {
    mErr << "khost: --viewport " << mViewportWidth << "x" << mViewportHeight
         << " beside the tool's " << mWidth << " pixels makes a window " << windowWidth
         << " wide, more than " << kMaxSide << "\n";
    return 2;
  }
  if (const std::string problem = SizeProblem(windowWidth, windowHeight);
      mOptions.WindowScreenshot && !problem.empty()) {
    mErr << "khost: --window-screenshot: the whole window's " << problem << "\n";
    return 2;
  }
  mUiSchedule = UiSchedule(mOptions.UiRate);
  mHeadless = mOptions.Headless || !KSurface_DisplayAvailable();
  if (mHeadless && !mOptions.Headless) {
    // A display was named but could not be opened: say so, or the user
    // waits for a window that never comes.
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 && *x11) || (wayland && *wayland)) {
      mErr << "khost: cannot open the display " << ((x11 && *x11) ? "DISPLAY=" : "WAYLAND_DISPLAY=")
           << ((x11 && *x11) ? x11 : wayland) << "; drawing headless instead\n";
    }
  }
  if (!mHeadless) {
    mSurface = KSurface_CreateWindow(windowWidth, windowHeight, "ProfilingCenter Tool", &error);
    if (!mSurface) {
      mErr << "khost: no window (" << error << "); drawing headless instead\n";
      mHeadless = true;
    }
  }
  if (mHeadless) {
    mSurface = KSurface_CreateHeadless(windowWidth, windowHeight, &error);
    if (!mSurface) {
      mErr << "khost: no headless surface: " << error << "\n";
      return 1;
    }
  }
  // The tool keeps at least its minimum size; the viewport may shrink to
  // nothing.
  mSurface->SetMinimumSize(mMinWidth, mMinHeight);
  // Without a viewport on screen the characters still go to the GPU's
  // buffers each frame; only the drawing is left out.
  mViewport = Viewport::Create(&error);
  if (!mViewport) {
    mErr << "khost: no viewport renderer: " << error << "\n";
    return 1;
  }
  mWorkload->SetRenderer(mViewport.get());
  // A window the window system sized differently is laid out as a resize.
  if (mSurface->Width() != windowWidth || mSurface->Height() != windowHeight) {
    mViewportHeight = mSurface->Height();
    mHeight = mSurface->Height();
    mWidth = mWithViewport ? std::min(mToolWidth, mSurface->Width()) : mSurface->Width();
    mViewportWidth = mWithViewport ? mSurface->Width() - mWidth : 0;
  }
  mToolLayer = ToolLayer::Create(std::max(1, mWidth), std::max(1, mHeight), &error);
  if (!mToolLayer) {
    mErr << "khost: no tool layer: " << error << "\n";
    return 1;
  }
  if (mViewport) {
    mViewport->SetRectangle(0, 0, mViewportWidth, mViewportHeight, mSurface->Height());
    if (mViewportHeight > 0) {
      mWorkload->SetCameraAspect(static_cast<float>(mViewportWidth) /
                                 static_cast<float>(mViewportHeight));
    }
  }
  mGraphic = KtGraphic_CreateGL(mWidth, mHeight, &error);
  if (!mGraphic) {
    mErr << "khost: no graphic context: " << error << "\n";
    return 1;
  }
  mHost = std::make_unique<KtViewHost>(mGraphic);
  mHost->SetRoot(mToolView, mWidth, mHeight);
  mSink = std::make_unique<InputSink>(*mHost);
  mSink->ToolX = mViewportWidth;
  mDriver = std::make_unique<UiDriver>(*mToolLayout, *mHost, mWidth, mHeight,
                                       [this] { DrawAndFinish(); });
  return 0;
}

void Application::DrawAndFinish() {
  // Scripted input draws outside the frame loop; finishing each of these
  // drawings keeps the renderer from piling up their commands.
  mToolLayer->Begin();
  mHost->Expose();
  mToolLayer->End();
  mToolDirty = true;
  glFinish();
}

int Application::OpenOutputs() {
  // Checked before any frame runs, so that a path that cannot take the
  // output costs nothing and destroys nothing.
  std::string error;
  if (mOptions.Screenshot || mHeadless) {
    const std::string path = mOptions.Screenshot ? *mOptions.Screenshot : kDefaultScreenshot;
    if (!mScreenshot.Open(path, error)) {
      mErr << "khost: --screenshot: " << error << "\n";
      return 1;
    }
  }
  if (mOptions.WindowScreenshot && !mWindowScreenshot.Open(*mOptions.WindowScreenshot, error)) {
    mErr << "khost: --window-screenshot: " << error << "\n";
    return 1;
  }
  if (mOptions.StatsFile && !mStats.Open(*mOptions.StatsFile, error)) {
    mErr << "khost: --stats: " << error << "\n";
    return 1;
  }
  return 0;
}

bool Application::ApplyLayout(int windowWidth, int windowHeight, std::string* error) {
  // The tool keeps the width it was given and takes the window's height;
  // the viewport takes the rest.
  mHeight = windowHeight;
  mWidth = mWithViewport ? std::min(mToolWidth, windowWidth) : windowWidth;
  mViewportWidth = mWithViewport ? windowWidth - mWidth : 0;
  mViewportHeight = mWithViewport ? windowHeight : 0;
  if (!mToolLayer->Resize(std::max(1, mWidth), std::max(1, mHeight), error)) return false;
  KtGraphic_ResizeGL(mGraphic, mWidth, mHeight);
  mHost->Resize(mWidth, mHeight);
  mSink->ToolX = mViewportWidth;
  if (mViewport) {
    mViewport->SetRectangle(0, 0, mViewportWidth, mViewportHeight, windowHeight);
    if (mViewportWidth > 0 && mViewportHeight > 0) {
      mWorkload->SetCameraAspect(static_cast<float>(mViewportWidth) /
                                 static_cast<float>(mViewportHeight));
    }
  }
  mToolDirty = true;
  return true;
}

void Application::PaintTool() {
  mToolLayer->Begin();
  if (mPanel) {
    mPanel->LayoutRefresh();
  } else {
    mToolLayout->LayoutRefresh();
  }
  mHost->Expose();
  mToolLayer->End();
}

void Application::PreviousFrameInto(FrameRecord& record, Clock::time_point now) const {
  if (!mHavePrevious) return;
  record.Slots[kSlotDevices] = Micros(mPreviousStart, now);
  record.Slots[kSlotFrame] = mPreviousWork;
  record.Slots[kSlotPresent] = mPreviousPresent;
  record.Slots[kSlotToolPaint] = mPreviousPaint;
  record.NotRun[kSlotToolPaint] = !mPreviousPainted;
  record.Starts[kSlotDevices] = mPreviousStart;
  record.Starts[kSlotFrame] = mPreviousStart;
  record.Starts[kSlotPresent] = mPreviousPresentStart;
  record.Starts[kSlotToolPaint] = mPreviousPaintStart;
  for (int slot : {kSlotDevices, kSlotFrame, kSlotPresent, kSlotToolPaint}) {
    record.OfPreviousFrame[slot] = true;
  }
}

void Application::UpdateScene() {
  // A node count edited in the tool rebuilds the scene to about that many
  // nodes, rounded in the direction of the edit (see CharactersForNodeCount);
  // the count is then written back as the scene has it.
  // The evaluation depth may have been written past its property (the
  // module's reset does): bring it into range before anything draws.
  KProfiler_KeepEvaluationDepthInRange();
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  const int requested = evaluation->NodeCount.Get();
  if (requested != mWrittenNodeCount) {
    const int characters = CharactersForNodeCount(requested, requested > mWrittenNodeCount);
    mWrittenNodeCount = mWorkload->Rebuild(characters);
    mFeed->SetCharacterCount(characters);
    evaluation->NodeCount = mWrittenNodeCount;
  }
}

void Application::Frame(bool last, std::vector<unsigned char>* capture,
                        std::vector<unsigned char>* windowCapture) {
  KProfiler* profiler = KProfiler::TheOne();
  const Clock::time_point start = Clock::now();
  FrameRecord record;
  record.FrameStart = start;
  // The first frame has no period measured before it: publishing starts
  // with the second, so every published frame has every cycle's sample.
  const bool whole = mHavePrevious;
  PreviousFrameInto(record, start);
  mPreviousStart = start;
  mHavePrevious = true;

  const bool profiling = profiler->ProfilingEnabled != 0 && whole;
  if (profiling) profiler->BeginFrame();

  Clock::time_point t0 = Clock::now();
  mSink->Touched = false;
  mSurface->PollEvents(mSink.get());
  if (mSink->Resized) {
    mSink->Resized = false;
    std::string error;
    if (!ApplyLayout(mSurface->Width(), mSurface->Height(), &error)) {
      mErr << "khost: the window's new size cannot be used: " << error << "\n";
    }
  }
  Clock::time_point t1 = Clock::now();
  record.Slots[kSlotInput] = Micros(t0, t1);
  record.Starts[kSlotInput] = t0;

  t0 = Clock::now();
  UpdateScene();
  const EngineSettings settings = CurrentEngineSettings();
  t1 = Clock::now();
  record.Slots[kSlotSceneUpdate] = Micros(t0, t1);
  record.Starts[kSlotSceneUpdate] = t0;

  // Scene time: a fixed step headless, so runs repeat exactly; the wall
  // clock live.
  const double seconds = mHeadless ? static_cast<double>(mFrameIndex) / 60.0
                                   : std::chrono::duration<double>(start - mLoopStart).count();
  // Parts of the window neither the viewport nor the tool covers.
  if (mViewportHeight < mSurface->Height() || mHeight < mSurface->Height()) {
    ClearWindow(mSurface->Width(), mSurface->Height());
  }
  mWorkload->RunFrame(mFrameIndex, seconds, settings, mTimings);
  record.Slots[kSlotAnimation] = mTimings.Animation;
  record.Slots[kSlotEvaluation] = mTimings.Evaluation;
  record.Slots[kSlotDeformation] = mTimings.Deformation;
  record.Slots[kSlotUpload] = mTimings.Upload;
  record.Slots[kSlotRendering] = mTimings.Culling + mTimings.Submission;
  record.Starts[kSlotAnimation] = mTimings.AnimationStart;
  record.Starts[kSlotEvaluation] = mTimings.EvaluationStart;
  record.Threads[kSlotAnimation] = mTimings.EvaluationThread;
  record.Threads[kSlotEvaluation] = mTimings.EvaluationThread;
  record.Starts[kSlotDeformation] = mTimings.DeformationStart;
  record.Starts[kSlotUpload] = mTimings.UploadStart;
  record.Starts[kSlotRendering] = mTimings.CullingStart;
  record.Work = &mTimings;

  // With profiling off nothing is recorded: the chart goes away and the
  // header keeps the last numbers.
  if (profiling) {
    mFeed->Publish(record);
    profiler->EndFrame();
  }
  mMeasured.Observe(mFrameIndex, record);

  // The viewport's drawing goes to the renderer now, as the first part of
  // presenting: a software renderer rasterises it here, and would otherwise
  // do so inside the tool's paint when drawing moves to the tool's layer.
  const Clock::time_point submitStart = Clock::now();
  FlushDrawing();
  const double submitted = Micros(submitStart, Clock::now());

  // The tool repaints at the user-interface rate, at once after input, and
  // on the last frame so that captures show the latest numbers; between
  // repaints its last picture is shown again and "Tool Paint" records 0.
  const bool scheduled = mUiSchedule.Due(seconds);
  if (scheduled || last || mToolDirty || mSink->Touched) {
    t0 = Clock::now();
    PaintTool();
    t1 = Clock::now();
    mPreviousPaint = Micros(t0, t1);
    mPreviousPainted = true;
    mPreviousPaintStart = t0;
    if (scheduled) mUiSchedule.Painted(seconds);
    mToolDirty = false;
  } else {
    mPreviousPaint = 0.0;
    mPreviousPainted = false;
    mPreviousPaintStart = Clock::now();
  }
  if (last && capture) mToolLayer->Read(*capture);

  // Presenting: the tool's picture goes beside the viewport, then the swap.
  // Present counts the viewport's submission above as well; Frame does not.
  const Clock::time_point presentStart = Clock::now();
  mPreviousWork = Micros(start, presentStart) - submitted;
  mPreviousPresentStart = submitStart;
  mToolLayer->Show(mViewportWidth, 0, mSurface->Height());
  if (last && windowCapture) mSurface->ReadPixels(*windowCapture);
  mSurface->Present();
  mPreviousPresent = submitted + Micros(presentStart, Clock::now());
  ++mFrameIndex;
}

int Application::Loop() {
  const bool live = !mHeadless;
  long long frames = mOptions.Frames       ? *mOptions.Frames
                     : mOptions.Comparison ? kDefaultCompareFrames
                     : live                ? LLONG_MAX
                                           : kHeadlessFrames;
  // The actions run after the first frame; at least one frame shows them.
  if (!mOptions.Actions.empty() && frames < 2) frames = 2;
  const bool wantCapture = mOptions.Screenshot.has_value() || mHeadless;
  const bool wantWindow = mOptions.WindowScreenshot.has_value();
  std::vector<unsigned char> capture;
  std::vector<unsigned char> windowCapture;
  if (int status = mMeasured.Open(mOptions, frames, mErr); status != 0) return status;
  std::vector<UiAction> startActions = mOptions.Actions;
  if (const ComparisonRun* comparison = mMeasured.Comparison()) {
    // Both values are tried once before the first block, so a value the
    // editor refuses stops the run at once.
    const CompareSpec& spec = comparison->Spec();
    startActions.push_back({UiAction::kSet, spec.Caption, spec.ValueB});
  }
  mLoopStart = Clock::now();

  for (long long i = 0; i < frames; ++i) {
    const bool last = i + 1 == frames;
    Frame(last, wantCapture ? &capture : nullptr, wantWindow ? &windowCapture : nullptr);
    if (i == 0) {
      for (const UiAction& action : startActions) {
        const ActionResult result = mDriver->Run(action);
        if (!result.Ok()) {
          mErr << "khost: " << result.Message << "\n";
          return result.ExitCode;
        }
      }
      if (!startActions.empty()) mToolDirty = true;
    }
    if (const std::optional<std::string> value = mMeasured.SwitchAfter(i)) {
      const ActionResult result =
          mDriver->Run({UiAction::kSet, mMeasured.Comparison()->Spec().Caption, *value});
      if (!result.Ok()) {
        mErr << "khost: --compare: " << result.Message << "\n";
        return result.ExitCode;
      }
      mToolDirty = true;
    }
    if (live && mSurface->ShouldClose()) {
      // The window closed before the last planned frame: capture what it
      // shows now.
      if (!last) {
        PaintTool();
        mToolLayer->Show(mViewportWidth, 0, mSurface->Height());
        if (wantCapture) mToolLayer->Read(capture);
        if (wantWindow) mSurface->ReadPixels(windowCapture);
      }
      break;
    }
  }

  FrameRecord tail;
  PreviousFrameInto(tail, Clock::now());
  if (int status = mMeasured.Finish(tail, mOut, mErr); status != 0) return status;

  if (wantCapture && WritePng(mScreenshot, "--screenshot", mToolLayer->Width(),
                              mToolLayer->Height(), capture) != 0) {
    return 1;
  }
  if (wantCapture && !mOptions.Screenshot) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(kDefaultScreenshot, ec);
    mOut << "khost: screenshot written to " << (ec ? kDefaultScreenshot : full.string()) << "\n";
  }
  if (wantWindow && WritePng(mWindowScreenshot, "--window-screenshot", mSurface->Width(),
                             mSurface->Height(), windowCapture) != 0) {
    return 1;
  }
  return 0;
}

int Application::WritePng(OutputFile& file, const char* flag, int width, int height,
                          const std::vector<unsigned char>& pixels) {
  std::string error;
  std::vector<unsigned char> png;
  if (pixels.empty()) {
    error = "the frame could not be read";
  } else if (KPng_Encode(width, height, pixels.data(), png, &error) &&
             file.Write(png.data(), png.size(), error) && file.Commit(error)) {
    return 0;
  }
  mErr << "khost: " << flag << ": " << error << "\n";
  return 1;
}

int Application::Finish() {
  mWorkload->Drain();
  if (mStats.IsOpen()) {
    KtList* list = mDriver->FindListWithItem("DisplayAll");
    if (!list) list = mDriver->FindFirstList();
    std::ostringstream csv;
    WriteChartRowsCsv(CollectChartRows(SelectedCycle(list)), csv);
    // What went to standard output so far comes first when the statistics
    // go there too.
    mOut.flush();
    std::string error;
    if (!mStats.Write(csv.str(), error) || !mStats.Commit(error)) {
      mErr << "khost: --stats: " << error << "\n";
      return 1;
    }
  }
  if (mOptions.PrintSettings) PrintSettings(mOut);
  mOut.flush();
  return 0;
}

void Application::Shutdown() {
  if (mWorkload) mWorkload->Drain();
  mDriver.reset();
  if (mSurface) mSurface->MakeCurrent();
  if (mWorkload) mWorkload->SetRenderer(nullptr);
  mViewport.reset();
  mToolLayer.reset();
  // Detach the window from the screen, then end it the way a host does.
  if (mHost) mHost->SetRoot(nullptr, 0, 0);
  mHost.reset();
  if (mTool) {
    mTool->Destroy(0);
    mTool = nullptr;
    mToolLayout = nullptr;
    mPanel = nullptr;
    mToolView = nullptr;
  }
  if (mGraphic) {
    mGraphic->Destroy(0);
    mGraphic = nullptr;
  }
  mSink.reset();
  mSurface.reset();
  // The registry holds the module's factory: forget it before the code goes.
  if (mModule.IsLoaded()) {
    Object_ClearRegistry();
    mModule.Unload();
  }
  mFeed.reset();
  mWorkload.reset();
  mPool.reset();
}

}  // namespace

int RunApplication(const Options& options, std::ostream& out, std::ostream& err) {
  try {
    Application app(options, out, err);
    return app.Run();
  } catch (const std::exception& e) {
    err << "khost: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace khost
