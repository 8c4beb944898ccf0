// What the HTML report (--report, html_report.h) draws, as plain values: the
// page's title and lines under it, the frame period over the run with the
// stretches of frames an experiment ran each setting in, the frame times'
// histogram with its percentiles, and the ratios an experiment measured.
// Whatever makes a report fills one: a run from its frames (report_frames.h
// gathers them) and its experiment (RunReport::Describe), or anything else
// that has frame periods and ratios to show.
#pragma once

#include <string>
#include <vector>

namespace khost {

// The frame periods over the run, in milliseconds. Point i stands for the
// frames from i * FramesPerPoint on (the last point may stand for fewer):
// one frame each, unless the run was too long to keep every frame, in which
// case each point is the longest period of its frames.
struct ReportSeries {
  std::vector<float> PeriodsMs;
  long long FramesPerPoint = 1;
  long long Frames = 0;  // the frames the points stand for
};

// Frames [First, First + Count) ran with label Label (an index into
// ReportData::Labels). Frames in no stretch ran with none.
struct ReportSpan {
  long long First = 0;
  long long Count = 0;
  int Label = 0;
};

// One bar of the histogram: the frames whose period lay in [LowMs, HighMs).
struct ReportBin {
  double LowMs = 0.0;
  double HighMs = 0.0;
  long long Frames = 0;
};

// Nearest-rank percentiles of the frame periods, in milliseconds.
struct ReportPercentiles {
  long long Frames = 0;  // none: nothing to mark
  double Median = 0.0;
  double P95 = 0.0;
  double P99 = 0.0;
  double P999 = 0.0;
};

// One row of the forest plot: a ratio with its 95 % interval. High may be
// infinite (no interval: too few blocks). Without a ratio (measured on one
// side only) the row shows its verdict alone.
struct ReportRatio {
  std::string Name;
  int Depth = 0;  // indents the name
  bool HasRatio = true;
  double Ratio = 1.0;
  double Low = 0.0;
  double High = 0.0;
  std::string Verdict;  // "faster", "slower", "no clear difference", or why there is no ratio
};

struct ReportData {
  std::string Title;                   // what ran, in a line
  std::vector<std::string> Subtitles;  // one line each under the title
  std::string Clock;                   // what the periods are, for the axes: "wall-clock time"

  ReportSeries Series;
  std::vector<std::string> Labels;  // what each stretch's label stands for ("A: Culling=0")
  std::vector<ReportSpan> Spans;    // in frame order, not overlapping

  std::vector<ReportBin> Histogram;  // in order of their periods
  ReportPercentiles Percentiles;

  std::string RatioTitle;            // the forest plot's heading; no plot without ratios
  std::string RatioCaption;          // what a ratio is: "B / A (below 1: B is faster)"
  std::string RatioNames = "cycle";  // what the rows' names are, for their column's head
  std::vector<ReportRatio> Ratios;
  // Said in the forest plot's place when there are no ratios to show (an
  // experiment that measured too little for an answer).
  std::string NoRatios;
};

}  // namespace khost
