#include "khost/outputs/run_outputs.h"

#include <climits>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "khost/base/quoting.h"
#include "khost/base/standard_output.h"
#include "khost/frame/profiler_feed.h"
#include "khost/outputs/html_report.h"
#include "ksurface.h"

namespace khost {

Status RunOutputs::Open(const OutputRequest& request, FrameCapture& capture, long long frames) {
  mWantTool = request.Screenshot || request.DefaultScreenshot;
  mDefaultScreenshot = !request.Screenshot && request.DefaultScreenshot;
  mWantWindow = request.WindowScreenshot.has_value();
  mTextToStdout = false;
  for (const auto* path :
       {&request.Stats, &request.Measured.Record, &request.Measured.Trace,
        &request.Measured.CompareCsv, &request.Measured.TuneCsv, &request.Measured.Report}) {
    if (*path && **path == kStandardOutputName) mTextToStdout = true;
  }
  if (mWantTool) {
    const std::string path = request.Screenshot ? *request.Screenshot : kDefaultScreenshot;
    if (Status opened = OpenOutputFile(mScreenshot, path, "--screenshot"); !opened) return opened;
  }
  if (mWantWindow) {
    if (Status opened =
            OpenOutputFile(mWindowScreenshot, *request.WindowScreenshot, "--window-screenshot");
        !opened) {
      return opened;
    }
  }
  if (request.Stats) {
    if (Status opened = OpenOutputFile(mStats, *request.Stats, "--stats"); !opened) return opened;
    capture.AddSink(&mPercentiles);
  }
  const MeasuredRequest& measured = request.Measured;
  if (measured.CompareCsv) {
    if (Status opened = OpenOutputFile(mCompareCsv, *measured.CompareCsv, "--compare-csv");
        !opened) {
      return opened;
    }
  }
  if (measured.TuneCsv) {
    if (Status opened = OpenOutputFile(mTuneCsv, *measured.TuneCsv, "--tune-csv"); !opened) {
      return opened;
    }
  }
  if (measured.Report) {
    if (Status opened = OpenOutputFile(mHtml, *measured.Report, "--report"); !opened) {
      return opened;
    }
    mClock = measured.Clock;
    mPlannedFrames = frames;
    mReportFrames = std::make_unique<ReportFrames>(frames);
    mReportSink = std::make_unique<ReportFrameSink>(*mReportFrames, mClock);
    capture.AddSink(mReportSink.get());
  }
  return mMeasured.Open(measured, capture);
}

Status RunOutputs::FinishReport(RunReport& report, std::ostream& notes) {
  OutputFile* csv = mCompareCsv.IsOpen() ? &mCompareCsv : mTuneCsv.IsOpen() ? &mTuneCsv : nullptr;
  const char* flag = csv == &mCompareCsv ? "--compare-csv" : "--tune-csv";
  if (Status written = report.Write(notes, csv ? &csv->Stream() : nullptr); !written) {
    return written;
  }
  Status status;
  if (csv) status = Prefixed(std::string(flag) + ": ", csv->Commit());
  return Both(status, report.Apply(notes));
}

void RunOutputs::CheckPlaces() {
  const auto now = std::chrono::steady_clock::now();
  if (now < mNextPlaceCheck) return;
  mNextPlaceCheck = now + OutputFile::kPlaceCheckPeriod;
  for (OutputFile* file : {&mScreenshot, &mWindowScreenshot, &mStats, &mCompareCsv, &mTuneCsv}) {
    if (file->IsOpen()) file->CheckPlace();
  }
  mMeasured.CheckPlaces();
}

bool RunOutputs::OutputFailed() const {
  if (mMeasured.OutputFailed()) return true;
  for (const OutputFile* file :
       {&mScreenshot, &mWindowScreenshot, &mStats, &mCompareCsv, &mTuneCsv}) {
    if (file->Failed()) return true;
  }
  return false;
}

std::vector<NamedPath> OutputPathsOf(const OutputRequest& request) {
  std::vector<NamedPath> paths;
  if (request.Screenshot) {
    paths.push_back({"--screenshot", *request.Screenshot});
  } else if (request.DefaultScreenshot) {
    paths.push_back({"the default screenshot", kDefaultScreenshot});
  }
  const auto add = [&](const char* flag, const std::optional<std::string>& path) {
    if (path) paths.push_back({flag, *path});
  };
  add("--window-screenshot", request.WindowScreenshot);
  add("--stats", request.Stats);
  add("--record", request.Measured.Record);
  add("--trace", request.Measured.Trace);
  add("--compare-csv", request.Measured.CompareCsv);
  add("--tune-csv", request.Measured.TuneCsv);
  add("--report", request.Measured.Report);
  return paths;
}

Status RunOutputs::FinishHtml(const Ending& ending, const RunReport* report) {
  ReportData data;
  mReportFrames->Fill(data);
  data.Clock = ClockText(mClock);
  data.Title = "khost report: " + ending.Scene;
  std::string frames = std::to_string(data.Series.Frames) + " frames";
  // Fewer than planned: stopped, its window closed, or a search that ended
  // early.
  // A live run without --frames plans no number.
  if (data.Series.Frames < mPlannedFrames && mPlannedFrames < LLONG_MAX) {
    frames += " (" + std::to_string(mPlannedFrames) + " planned)";
  }
  data.Subtitles.push_back("Scene: " + ending.Scene + "; " + frames + "; frame period on the " +
                           ClockText(mClock) + " (--clock " + ClockName(mClock) + ")");
  if (!ending.Settings.empty()) data.Subtitles.push_back("Settings at the end: " + ending.Settings);
  if (report) report->Describe(data);
  std::ostringstream page;
  WriteHtmlReport(data, page);
  Status written = mHtml.Write(page.str());
  if (written) written = mHtml.Commit();
  return Prefixed("--report: ", written);
}

Status RunOutputs::WritePng(OutputFile& file, const char* flag, int width, int height,
                            const std::vector<unsigned char>& pixels, bool displayLost) {
  const std::string prefix = std::string(flag) + ": ";
  if (pixels.empty()) {
    return Failure(prefix + (displayLost ? "not taken: the display was lost before the last "
                                           "frame was read"
                                         : "the frame could not be read"));
  }
  std::string error;
  std::vector<unsigned char> png;
  if (!KPng_Encode(width, height, pixels.data(), png, &error)) return Failure(prefix + error);
  Status written = file.Write(png.data(), png.size());
  if (written) written = file.Commit();
  return Prefixed(prefix, written);
}

Status RunOutputs::Finish(const Ending& ending, RunReport* report, std::ostream& out,
                          std::ostream& err) {
  std::ostream& notes = mTextToStdout ? err : out;
  // An output that cannot be finished does not keep the others from being
  // written; every failure is reported and the run's status is then 1.
  Status status = mMeasured.Finish();
  if (report) status = Both(status, FinishReport(*report, notes));
  if (mHtml.IsOpen()) status = Both(status, FinishHtml(ending, report));
  if (mWantTool) {
    Status written = WritePng(mScreenshot, "--screenshot", ending.ToolWidth, ending.ToolHeight,
                              mToolPixels, ending.DisplayLost);
    if (written && mDefaultScreenshot) {
      std::error_code ec;
      const std::filesystem::path full = std::filesystem::absolute(kDefaultScreenshot, ec);
      notes << "khost: screenshot written to " << (ec ? kDefaultScreenshot : full.string()) << "\n";
    }
    status = Both(status, written);
  }
  if (mWantWindow) {
    status = Both(status, WritePng(mWindowScreenshot, "--window-screenshot", ending.WindowWidth,
                                   ending.WindowHeight, mWindowPixels, ending.DisplayLost));
  }
  if (mStats.IsOpen()) {
    std::ostringstream csv;
    std::vector<ChartRow> rows = ending.Rows;
    AddRunPercentiles(rows, mPercentiles);
    WriteChartRowsCsv(rows, csv);
    // What went to standard output so far comes first when the statistics
    // go there too.
    out.flush();
    Status written = mStats.Write(csv.str());
    if (written) written = mStats.Commit();
    status = Both(status, Prefixed("--stats: ", written));
  }
  return status;
}

}  // namespace khost
