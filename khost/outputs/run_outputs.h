// Everything a run writes: the tool's screenshot, the whole window's
// screenshot, the chart's statistics, the measured outputs (recording,
// trace, comparison table) and the HTML report of the measured frames. One
// lifecycle: Open once all input has been checked and before the first
// frame, so that a path that cannot take its output costs nothing and
// destroys nothing; Finish once, at the end.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/frame/cycle_percentiles.h"
#include "khost/frame/profiler_feed.h"
#include "khost/outputs/measured_run.h"
#include "khost/outputs/output_file.h"
#include "khost/outputs/output_paths.h"
#include "khost/outputs/report_frames.h"
#include "khost/outputs/run_report.h"

namespace khost {

// The files `request` writes, each named by its flag, for CheckOutputPaths.
std::vector<NamedPath> OutputPathsOf(const OutputRequest& request);

class RunOutputs {
 public:
  // Opens every file; the recording, the trace and the report take the
  // frames `capture` hands on (borrowed; it outlives Finish), the report
  // with room for the `frames` the run plans. A failure names the flag and
  // the file.
  Status Open(const OutputRequest& request, FrameCapture& capture, long long frames);

  MeasuredRun& Measured() { return mMeasured; }
  // Checks that every output can still reach its path (OutputFile::
  // CheckPlace), at most once per OutputFile::kPlaceCheckPeriod however
  // often it is called. [loop thread] between frames.
  void CheckPlaces();
  // An output failed while the run goes (a write, or its place lost): the
  // run may as well end; Finish names it.
  bool OutputFailed() const;
  // Where the last frame's pictures go; null when not asked for.
  std::vector<unsigned char>* ToolCapture() { return mWantTool ? &mToolPixels : nullptr; }
  std::vector<unsigned char>* WindowCapture() { return mWantWindow ? &mWindowPixels : nullptr; }

  // What Finish needs of the run's end.
  struct Ending {
    int ToolWidth = 0;  // the captured pictures' sizes
    int ToolHeight = 0;
    int WindowWidth = 0;
    int WindowHeight = 0;
    std::vector<ChartRow> Rows;  // the chart's rows, for --stats
    bool DisplayLost = false;    // a picture not read yet cannot be read any more
    // What ran, for the report's title: the scene, and the settings as
    // they stand at the end (name=value, comma separated).
    std::string Scene;
    std::string Settings;
  };
  // Finishes every output in order: the recording and the trace, the
  // run's report (`report`, null for none: the comparison's table or the
  // tune's answer to `out`, its CSV file, then what it applies), the HTML
  // report, the screenshots, then the statistics (after what went to `out`
  // before them). A step that fails does not keep the later ones from being
  // written; the result names every failure. When a text output
  // itself goes to standard output, the table and notes go to `err`
  // instead, so that what a pipe reads is that output alone.
  Status Finish(const Ending& ending, RunReport* report, std::ostream& out, std::ostream& err);

 private:
  Status WritePng(OutputFile& file, const char* flag, int width, int height,
                  const std::vector<unsigned char>& pixels, bool displayLost);

  // The report's CSV file: the one of these the run asks for.
  Status FinishReport(RunReport& report, std::ostream& notes);
  // --report: the page from the frames taken and what `report` (null for
  // none) adds.
  Status FinishHtml(const Ending& ending, const RunReport* report);

  MeasuredRun mMeasured;
  OutputFile mCompareCsv;
  OutputFile mTuneCsv;
  OutputFile mScreenshot;
  OutputFile mWindowScreenshot;
  OutputFile mStats;
  OutputFile mHtml;
  std::unique_ptr<ReportFrames> mReportFrames;  // --report's frames
  std::unique_ptr<ReportFrameSink> mReportSink;
  MeasureClock mClock = kDefaultClock;
  long long mPlannedFrames = 0;
  CyclePercentiles mPercentiles;  // the run's frames, for --stats
  bool mWantTool = false;
  bool mDefaultScreenshot = false;
  bool mWantWindow = false;
  bool mTextToStdout = false;  // a text output is standard output
  std::vector<unsigned char> mToolPixels;
  std::vector<unsigned char> mWindowPixels;
  std::chrono::steady_clock::time_point mNextPlaceCheck{};
};

}  // namespace khost
