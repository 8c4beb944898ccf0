// The application's state and its steps: start-up as a host (app_start.cpp),
// the frame loop and its end (app.cpp). Internal to the app layer.
//
// Every call is made on the loop thread.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "khost/app/display.h"
#include "khost/app/host_engine.h"
#include "khost/app/repaint_policy.h"
#include "khost/app/run_script.h"
#include "khost/app/window_layout.h"
#include "khost/base/status.h"
#include "khost/cli/run_plan.h"
#include "khost/frame/frame_capture.h"
#include "khost/frame/frame_clock.h"
#include "khost/input/input_sink.h"
#include "khost/input/ui_driver.h"
#include "khost/outputs/output_paths.h"
#include "khost/outputs/run_outputs.h"
#include "khost/render/tool_layer.h"
#include "khost/render/viewport.h"
#include "khost/scene/camera_control.h"
#include "khost/setup/module_bridge.h"
#include "ksurface.h"
#include "standin/ktoolkit/viewhost.h"

namespace khost {

class Application {
 public:
  Application(const RunPlan& plan, std::ostream& out, std::ostream& err)
      : mPlan(plan), mOut(out), mErr(err), mRepaint(mPlan.UiRate) {}
  ~Application() { Shutdown(); }
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  Status Run();
  // Finishing an output failed (a write, or its place lost during the run).
  bool OutputsFailed() const { return mOutputsFailed; }

 private:
  // Start-up, in order.
  Status StartHost();
  Status OpenTool();
  Status OpenSurface();
  Status OpenOutputs();
  // The files the run reads, which no output may replace.
  std::vector<NamedPath> InputPaths() const;
  // The frames, then the outputs' end.
  Status Loop();
  Status Finish();
  // The display was lost (in the middle of a frame): the run ends as the
  // window's closing ends it, without drawing.
  Status EndWithoutDisplay();
  void Shutdown();

  // A frame, and its steps in order.
  void Frame(bool last);
  void StartFrame();
  void Publish(const MeasuredFrame& frame);
  void PollInput();
  double SceneSeconds() const;
  void RunWorkload(double seconds, const EngineSettings& settings);
  void SubmitViewport();
  void RepaintTool(double seconds, bool last);
  void Present(bool last);

  // Between frames.
  void CaptureClosingWindow();

  // The scene that runs, as the report's title says it.
  std::string SceneText() const;
  Status CreateSurface();
  Status ApplyLayout(const WindowLayout& layout);
  void PlaceViewport();
  void PaintTool();
  void DrawAndFinish();

  const RunPlan mPlan;
  std::ostream& mOut;
  std::ostream& mErr;

  // The scene's workload and the profiler's cycles it is measured in.
  std::unique_ptr<HostEngine> mEngine;

  // The module's tool, and the window it is shown in beside the viewport.
  ModuleBridge mModule;
  ToolSize mToolSize;
  WindowLayout mLayout;
  SizeNote mSizeNote;  // a live size beyond a limit, said once
  bool mHeadless = true;
  std::unique_ptr<KSurface> mSurface;
  IKtGraphic* mGraphic = nullptr;
  std::unique_ptr<KtViewHost> mHost;
  std::unique_ptr<InputSink> mSink;
  CameraControl mCamera;
  std::unique_ptr<UiDriver> mDriver;
  std::unique_ptr<Viewport> mViewport;
  std::unique_ptr<ToolLayer> mToolLayer;

  // The run.
  long long mFrames = 0;
  long long mFrameIndex = 0;
  TimePoint mLoopStart{};
  FrameClock mClock;
  // Hands each measured frame to the outputs and the experiment that keep
  // frames.
  FrameCapture mCapture;
  RepaintPolicy mRepaint;
  RunOutputs mOutputs;
  bool mOutputsFailed = false;
  bool mDisplayLost = false;           // nothing may draw
  LostDisplayEnd mLostDisplay;         // a live run's, once its outputs are open
  std::unique_ptr<RunScript> mScript;  // once the tool can take input
};

}  // namespace khost
