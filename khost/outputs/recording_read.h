// A recording (--record's CSV file) read back, for --compare-recordings.
//
// The file is checked as the recorder writes it: the columns line
// (kRecordingColumns) first, then one line per cycle per frame, six fields,
// frames in order that never go back, each cycle at most once a frame and
// always at the same depth, every line ended by a line end. Anything else
// (another file's columns, a field that is not a number where one belongs,
// a last line cut off by a run that was killed mid-write) is refused with
// exit status 2 and a message naming the file and the line.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "khost/base/status.h"

namespace khost {

struct RecordedCycle {
  std::string Path;  // as the recording names it: "Evaluation/Character 1/Skeleton"
  int Depth = 0;
  // One entry per frame the cycle ran in, in order: the frame's position
  // among the recording's frames (0: its first), its duration and its CPU
  // time (-1: none, a cycle measured on the steady clock only).
  std::vector<long long> Frames;
  std::vector<double> Micros;
  std::vector<double> CpuMicros;
};

struct Recording {
  std::string Name;          // the file, as given
  long long FrameCount = 0;  // the frames it holds
  // Every cycle, in the order the recording first names it (a frame's lines
  // follow the chart's order).
  std::vector<RecordedCycle> Cycles;
};

// Reads the recording at `path`. A file that cannot be opened, is a folder,
// is not a recording or holds no frame is bad input (exit status 2); an
// error while reading is a failure (exit status 1). Messages name `path`.
Result<Recording> ReadRecording(const std::string& path);

// The same from `in`, named `name` in messages.
Result<Recording> ParseRecording(std::istream& in, const std::string& name);

}  // namespace khost
