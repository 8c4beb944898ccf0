// The application's start-up: the host libraries and the scene, the module's
// tool, the window or headless surface, and the outputs, in that order.
#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/bcore.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "khost/app/application.h"
#include "khost/app/display.h"
#include "khost/app/host_engine.h"
#include "khost/app/interrupt.h"
#include "khost/app/repaint_policy.h"
#include "khost/app/run_script.h"
#include "khost/app/window_layout.h"
#include "khost/base/config_files.h"
#include "khost/base/quoting.h"
#include "khost/base/status.h"
#include "khost/cli/run_plan.h"
#include "khost/experiments/recordings_run.h"
#include "khost/frame/frame_capture.h"
#include "khost/frame/frame_clock.h"
#include "khost/frame/measured_frame.h"
#include "khost/frame/profiler_feed.h"
#include "khost/input/input_sink.h"
#include "khost/input/ui_driver.h"
#include "khost/outputs/output_paths.h"
#include "khost/outputs/run_outputs.h"
#include "khost/render/address_space.h"
#include "khost/render/tool_layer.h"
#include "khost/render/viewport.h"
#include "khost/scene/scene.h"
#include "khost/scene/workload.h"
#include "khost/setup/host_settings.h"
#include "khost/setup/module_bridge.h"
#include "khost/setup/module_loader.h"
#include "ksurface.h"
#include "standin/kbaselib/config.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kbaselib/registry.h"
#include "standin/ktoolkit/viewhost.h"

namespace khost {

Status Application::StartHost() {
  if (Status resolved = ResolveConfigFolder(mPlan.ConfigDir); !resolved) return resolved;

  // The registry, the profiler and the engine settings come to life here.
  Object_GetRegisteredCount();
  KProfiler::TheOne();
  KEvaluateManager::TheOne();
  KShaders_GetRenderer();
  KGPGPU_GetGPGPUManager();

  for (const std::string& warning : ConfigFileWarnings()) mErr << "khost: " << warning << "\n";
  const ConfiguredSettings configured = ReadConfiguredSettings();
  ApplyConfiguredSettings(configured);

  // The scene file is read (in a child process) before any thread starts.
  // A stop asked while the file is read abandons the reading at once.
  const ImportOptions import{mPlan.SceneUp, InterruptSignal, mPlan.Textures};
  Result<SceneChoice> scene =
      ChooseScene(mPlan.ScenePath, configured.SceneFile, ConfigFileFolder(kSceneFileKey.File),
                  configured.SceneInstances, configured.Characters, mErr, import);
  if (!scene) return scene.AsStatus();
  mEngine = std::make_unique<HostEngine>(*scene, mErr);
  return {};
}

Status Application::OpenTool() {
  if (Status opened = mModule.Open(mPlan.ModuleFile()); !opened) return opened;
  Result<ToolSize> size = ChooseToolSize(mPlan.ToolWidth, mPlan.ToolHeight, mModule.Sizes());
  if (!size) return size.AsStatus();
  mToolSize = *size;
  return {};
}

Status Application::CreateSurface() {
  std::string error;
  const int width = mLayout.WindowWidth();
  const int height = mLayout.WindowHeight();
  if (!mHeadless) {
    mSurface = KSurface_CreateWindow(width, height, "ProfilingCenter Tool", &error);
    if (!mSurface) {
      mErr << "khost: no window (" << error << "); drawing headless instead\n";
      mHeadless = true;
    }
  }
  if (mHeadless) {
    mSurface = KSurface_CreateHeadless(width, height, &error);
    if (!mSurface) return Failure("no headless surface: " + error);
  }
  // The tool keeps at least its minimum size; the viewport may shrink to
  // nothing.
  mSurface->SetMinimumSize(mToolSize.MinWidth, mToolSize.MinHeight);
  return {};
}

Status Application::OpenSurface() {
  mLayout = WindowLayout::Beside(mToolSize, mPlan.ViewportWidth.value_or(kDefaultViewportWidth),
                                 mPlan.ViewportHeight.value_or(mToolSize.Height));
  if (Status checked = mLayout.CheckWindow(mPlan.Outputs.WindowScreenshot.has_value()); !checked) {
    return checked;
  }
  // The GL driver does not survive a failed mapping: an address-space
  // limit that leaves it too little is refused before its first context.
  if (Status room = CheckRendererAddressSpace(
          static_cast<long long>(mLayout.WindowWidth()) * mLayout.WindowHeight(),
          mEngine->GetScene().GetVertexCount());
      !room) {
    return room;
  }
  mHeadless = ChooseHeadless(mPlan.Headless, mErr);
  if (Status created = CreateSurface(); !created) return created;
  // Without a viewport on screen the characters still go to the GPU's
  // buffers each frame; only the drawing is left out.
  Result<std::unique_ptr<Viewport>> viewport = Viewport::Create(&mErr);
  if (!viewport) return Failure("no viewport renderer: " + viewport.GetError().Message);
  mViewport = std::move(*viewport);
  if (Status drawable =
          mViewport->CheckScene(mEngine->GetScene(), CurrentEngineSettings().GPUSkinning);
      !drawable) {
    return Failure("scene file " + QuoteArgument(mEngine->GetScene().GetModel()->Source) + ": " +
                   drawable.GetError().Message);
  }
  mEngine->SetRenderer(mViewport.get());
  // A window the window system sized differently is laid out as a resize.
  if (mSurface->Width() != mLayout.WindowWidth() || mSurface->Height() != mLayout.WindowHeight()) {
    mLayout = mLayout.Resized(mSurface->Width(), mSurface->Height());
  }
  const PixelRect& tool = mLayout.Tool();
  Result<std::unique_ptr<ToolLayer>> layer =
      ToolLayer::Create(std::max(1, tool.Width), std::max(1, tool.Height));
  if (!layer) return Failure("no tool layer: " + layer.GetError().Message);
  mToolLayer = std::move(*layer);
  PlaceViewport();
  std::string error;
  mGraphic = KtGraphic_CreateGL(tool.Width, tool.Height, &error);
  if (!mGraphic) return Failure("no graphic context: " + error);
  mHost = std::make_unique<KtViewHost>(mGraphic);
  mHost->SetRoot(&mModule.View(), tool.Width, tool.Height);
  mSink = std::make_unique<InputSink>(*mHost);
  mSink->ToolX = tool.X;
  mSink->ViewportHeight = mLayout.Viewport().Height;
  mSink->Camera = &mCamera;
  mSink->Scene = &mEngine->GetWorkload();
  mDriver = std::make_unique<UiDriver>(mModule.Layout(), *mHost, tool.Width, tool.Height,
                                       [this] { DrawAndFinish(); });
  return {};
}

std::string Application::SceneText() const {
  const Scene& scene = mEngine->GetScene();
  const int characters = scene.GetCharacterCount();
  const std::string crowd =
      std::to_string(characters) + (characters == 1 ? " character" : " characters");
  if (const Model* model = scene.GetModel()) return model->Source + " (" + crowd + ")";
  return "the built-in procedural characters (" + crowd + ")";
}

Status Application::OpenOutputs() {
  mFrames = mScript->Frames(mPlan.FramesToRun(!mHeadless));
  OutputRequest request = mPlan.Outputs;
  request.DefaultScreenshot = mHeadless;
  if (Status apart = CheckOutputPaths(OutputPathsOf(request), InputPaths()); !apart) return apart;
  if (Status opened = mOutputs.Open(request, mCapture, mFrames); !opened) return opened;
  mScript->Follow(mCapture);
  return {};
}

std::vector<NamedPath> Application::InputPaths() const {
  std::vector<NamedPath> inputs = {{"the module", mPlan.ModuleFile()}};
  if (const Model* model = mEngine->GetScene().GetModel()) {
    inputs.push_back({"the scene file", model->Source});
    // The files beside it that the import read (a glTF's buffers, an OBJ's
    // materials, the materials' images).
    for (const std::string& file : model->ReadFiles) {
      if (file != model->Source) inputs.push_back({"a file the scene file reads", file});
    }
  }
  for (const char* name : {kApplicationConfig, kTaskConfig}) {
    inputs.push_back({"the configuration file", KConfig_ResolvePath(name)});
  }
  return inputs;
}

void Application::PlaceViewport() {
  const PixelRect& viewport = mLayout.Viewport();
  mViewport->SetRectangle(viewport.X, viewport.Y, viewport.Width, viewport.Height,
                          mLayout.WindowHeight());
  if (const float aspect = mLayout.ViewportAspect(); aspect > 0.0f) {
    mEngine->SetCameraAspect(aspect);
  }
}

Status Application::ApplyLayout(const WindowLayout& layout) {
  mLayout = layout;
  const PixelRect& tool = mLayout.Tool();
  if (Status resized = mToolLayer->Resize(std::max(1, tool.Width), std::max(1, tool.Height));
      !resized) {
    return resized;
  }
  KtGraphic_ResizeGL(mGraphic, tool.Width, tool.Height);
  mHost->Resize(tool.Width, tool.Height);
  mSink->ToolX = tool.X;
  mSink->ViewportHeight = mLayout.Viewport().Height;
  PlaceViewport();
  mRepaint.MarkOutOfDate();
  return {};
}

}  // namespace khost
