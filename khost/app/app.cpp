#include "khost/app/app.h"

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

namespace {

// The settings as PrintSettings says them, on one line.
std::string SettingsText() {
  std::ostringstream lines;
  PrintSettings(lines);
  std::string text = lines.str();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
    text.replace(at, 1, ", ");
  }
  return text;
}

}  // namespace

Status Application::Run() {
  if (Status started = StartHost(); !started) return started;
  if (Status opened = OpenTool(); !opened) return opened;
  if (Status opened = OpenSurface(); !opened) return opened;
  mScript = std::make_unique<RunScript>(mPlan, *mDriver, mOutputs.Measured(), mRepaint);
  if (Status checked =
          mScript->Check(mEngine->GetScene().GetCharacterCount(), mPlan.FramesToRun(!mHeadless));
      !checked) {
    return checked;
  }
  if (Status opened = OpenOutputs(); !opened) return opened;
  if (!mHeadless) mLostDisplay.Arm([this] { return EndWithoutDisplay(); }, mOut, mErr);
  const Status looped = Loop();
  // The last frame is whole once the loop ends: its period ends with the
  // run. It goes to the frame outputs only, so the profiler's numbers stay
  // those the last screenshot shows.
  if (const MeasuredFrame* last = mClock.EndRun()) mCapture.Capture(*last);
  if (!looped) return looped;
  if (Status ended = mScript->End(); !ended) return ended;
  return Finish();
}

void Application::PaintTool() {
  mToolLayer->Begin();
  mModule.RefreshLayout();
  mHost->Expose();
  mToolLayer->End();
}

void Application::DrawAndFinish() {
  if (mDisplayLost) return;
  // Scripted input draws outside the frame loop; finishing each of these
  // drawings keeps the renderer from piling up their commands.
  mToolLayer->Begin();
  mHost->Expose();
  mToolLayer->End();
  mRepaint.MarkOutOfDate();
  FinishDrawing();
}

void Application::Frame(bool last) {
  StartFrame();
  mClock.Time(kLoopInput, [&] { PollInput(); });
  EngineSettings settings;
  mClock.Time(kLoopSceneUpdate, [&] { settings = mEngine->Update(); });
  const double seconds = SceneSeconds();
  RunWorkload(seconds, settings);
  SubmitViewport();
  RepaintTool(seconds, last);
  Present(last);
  ++mFrameIndex;
}

void Application::StartFrame() {
  // The frame before is whole once this one starts: its period is known.
  // The first frame has none before it, so every frame published has every
  // cycle's sample.
  if (const MeasuredFrame* done = mClock.StartFrame(mFrameIndex)) Publish(*done);
}

void Application::Publish(const MeasuredFrame& frame) {
  // Every frame goes to the profiler, which with profiling off keeps the
  // statistics it has (the header's numbers stand still; the chart goes
  // away) and only fills a cycle that has none yet, as when profiling is
  // switched off before the first frame is published.
  mEngine->Publish(frame);
  mCapture.Capture(frame);
}

void Application::PollInput() {
  mSink->Touched = false;
  mSurface->PollEvents(mSink.get());
  if (mSink->Touched) mRepaint.MarkOutOfDate();
  if (mSink->Resized) {
    mSink->Resized = false;
    const WindowLayout resized = mLayout.Resized(mSurface->Width(), mSurface->Height());
    mSizeNote.Say(resized.LiveSizeProblem(mOutputs.WindowCapture(), mOutputs.ToolCapture()), mErr);
    if (Status applied = ApplyLayout(resized); !applied) {
      mErr << "khost: the window's new size cannot be used: " << applied.GetError().Message << "\n";
    }
  }
}

double Application::SceneSeconds() const {
  // Scene time: a fixed step headless, so runs repeat exactly; the wall
  // clock live.
  return mHeadless ? static_cast<double>(mFrameIndex) / kFixedFrameRate
                   : std::chrono::duration<double>(mClock.FrameStart() - mLoopStart).count();
}

void Application::RunWorkload(double seconds, const EngineSettings& settings) {
  // Parts of the window neither the viewport nor the tool covers.
  if (mLayout.LeavesGaps()) ClearWindow(mSurface->Width(), mSurface->Height());
  mClock.SetWork(mEngine->RunFrame(mFrameIndex, seconds, settings));
}

void Application::SubmitViewport() {
  // The viewport's drawing goes to the renderer, as the first part of
  // presenting. It is flushed, not finished: waiting for the rasterisation
  // here stalls a software renderer's pipeline and doubles the frame. The
  // tool's paint may still wait for it when drawing moves to the tool's
  // layer; that wait is the paint's time off the processor, which the
  // frame clock counts in Present, not in Tool Paint.
  mClock.TimeSubmission([] { FlushDrawing(); });
}

void Application::RepaintTool(double seconds, bool last) {
  // Between repaints the tool's last picture is shown again and "Tool
  // Paint" records 0.
  if (!mRepaint.Due(seconds, last)) {
    mClock.NotPainted();
    return;
  }
  mClock.TimePaint([&] { PaintTool(); });
  mRepaint.Painted(seconds);
}

void Application::Present(bool last) {
  // The last frame's tool picture is captured as painted.
  if (std::vector<unsigned char>* capture = mOutputs.ToolCapture(); last && capture) {
    mToolLayer->Read(*capture);
  }
  // The tool's picture goes beside the viewport, then the swap.
  mClock.TimeSwap([&] {
    mToolLayer->Show(mLayout.Tool().X, 0, mSurface->Height());
    if (std::vector<unsigned char>* capture = mOutputs.WindowCapture(); last && capture) {
      mSurface->ReadPixels(*capture);
    }
    mSurface->Present();
  });
}

void Application::CaptureClosingWindow() {
  PaintTool();
  mToolLayer->Show(mLayout.Tool().X, 0, mSurface->Height());
  if (std::vector<unsigned char>* capture = mOutputs.ToolCapture()) mToolLayer->Read(*capture);
  if (std::vector<unsigned char>* capture = mOutputs.WindowCapture()) {
    mSurface->ReadPixels(*capture);
  }
}

Status Application::Loop() {
  const bool live = !mHeadless;
  mLoopStart = SteadyClock::now();
  for (long long i = 0; i < mFrames; ++i) {
    const bool last = i + 1 == mFrames;
    Frame(last);
    // An output that failed (a recording's or trace's write, any output's
    // place lost) ends the run with the next frame.
    mOutputs.CheckPlaces();
    if (mOutputs.OutputFailed() && mFrames > i + 2) mFrames = i + 2;
    if (InterruptSignal() != 0) {
      // Asked to stop: this frame is the last, as when the window closes.
      if (!last) CaptureClosingWindow();
      break;
    }
    if (i == 0) {
      if (Status done = mScript->AtStart(); !done) return done;
    }
    if (Status switched = mScript->After(i, mFrames); !switched) return switched;
    if (live && mSurface->ShouldClose()) {
      // The window closed before the last planned frame: capture what it
      // shows now.
      if (!last) CaptureClosingWindow();
      break;
    }
  }
  return {};
}

Status Application::Finish() {
  mLostDisplay.Disarm();
  RunOutputs::Ending ending;
  ending.ToolWidth = mToolLayer->Width();
  ending.ToolHeight = mToolLayer->Height();
  ending.WindowWidth = mSurface->Width();
  ending.WindowHeight = mSurface->Height();
  ending.DisplayLost = mDisplayLost;
  // The statistics read the cycles once the workload's last frame is done,
  // with what the display selector shows now, whichever input chose it.
  mEngine->Drain();
  ending.Rows = mEngine->ChartRows(DisplayedSlot(mDriver->FindFirstList()));
  ending.Scene = SceneText();
  ending.Settings = SettingsText();
  if (Status finished = mOutputs.Finish(ending, mScript->Report(), mOut, mErr); !finished) {
    mOutputsFailed = true;
    return finished;
  }
  if (mPlan.PrintSettings) PrintSettings(mOut);
  mOut.flush();
  return {};
}

Status Application::EndWithoutDisplay() {
  mDisplayLost = true;
  const Status ended = mScript->End();
  return Both(ended, Finish());
}

void Application::Shutdown() {
  mLostDisplay.Disarm();
  if (mEngine) mEngine->Drain();
  mDriver.reset();
  if (mSurface) mSurface->MakeCurrent();
  if (mEngine) mEngine->SetRenderer(nullptr);
  mViewport.reset();
  mToolLayer.reset();
  // Detach the window from the screen, then end it the way a host does.
  if (mHost) mHost->SetRoot(nullptr, 0, 0);
  mHost.reset();
  mModule.DestroyTool();
  if (mGraphic) {
    mGraphic->Destroy(0);
    mGraphic = nullptr;
  }
  mSink.reset();
  mSurface.reset();
  mModule.Unload();
  mEngine.reset();
}

int RunApplication(const RunPlan& plan, std::ostream& out, std::ostream& err) {
  try {
    // Two recordings compared: no scene, no window, no module.
    if (plan.Outputs.Measured.CompareRecordings) {
      const Status compared = CompareRecordingFiles(plan, out, err);
      if (!compared) err << "khost: " << compared.GetError().Message << "\n";
      return ExitCode(compared.Code());
    }
    Application app(plan, out, err);
    const Status status = app.Run();
    if (!status) err << "khost: " << status.GetError().Message << "\n";
    if (const int signal = InterruptSignal(); signal != 0) {
      // The outputs are finished (or named above when they could not be:
      // then the run failed, whatever stopped it).
      err << "khost: interrupted by " << SignalName(signal) << "\n";
      if (!app.OutputsFailed()) return SignalExitCode(signal);
    }
    return ExitCode(status.Code());
  } catch (const std::exception& e) {
    err << "khost: " << e.what() << "\n";
    return ExitCode(ExitStatus::kFailure);
  }
}

}  // namespace khost
