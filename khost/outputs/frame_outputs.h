// The frame outputs: the per-frame recording (CSV, long form) and the trace
// (the trace event format that trace viewers open), both written as the run
// goes.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "khost/cli/run_requests.h"
#include "khost/frame/frame_capture.h"
#include "khost/frame/profiler_feed.h"

namespace khost {

// The recording's first line: its columns (recording_read.h reads them).
inline constexpr std::string_view kRecordingColumns =
    "frame,time_ms,cycle,depth,duration_us,cpu_us";

// kRecordingColumns: one line per cycle that
// ran in a frame, flushed at the end of a frame once kFrameOutputFlush has
// passed since the last flush, so a run that is killed keeps what it
// recorded.
class FrameRecorder : public FrameSink {
 public:
  explicit FrameRecorder(std::ostream& out);
  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;
  // Flushes; false when anything could not be written.
  bool Finish();

 private:
  std::ostream& mOut;
  std::chrono::steady_clock::time_point mLastFlush;
};

// One complete event per cycle per frame, on the track of the thread it ran
// on, plus the pool threads' shares of parallel passes; times in
// microseconds from the first frame's start. Every event is a real stretch
// of time and the events of a track nest (each lies inside or outside
// another, never across its end): a cycle whose time is two stretches with
// other work between them is two events named "NAME (1 of 2)" and "NAME (2
// of 2)", and an event longer than its cycle's measured time (rendering,
// which holds deformation and upload between its two parts) carries that
// time as "measured_us". Every cycle's event carries the cycle's CPU time
// as "cpu_us" (pool threads' shares carry none).
class TraceWriter : public FrameSink {
 public:
  explicit TraceWriter(std::ostream& out);
  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;
  // Names the threads and closes the document; false when anything could
  // not be written.
  bool Finish();

 private:
  // One event, filled in place for each write: its members stay where they
  // are, so a write changes values instead of building a document.
  struct Template {
    nlohmann::json Event;
    nlohmann::json* Name = nullptr;
    nlohmann::json* Category = nullptr;
    nlohmann::json* Ts = nullptr;
    nlohmann::json* Dur = nullptr;
    nlohmann::json* Tid = nullptr;
    nlohmann::json* Frame = nullptr;
    nlohmann::json* Path = nullptr;
    nlohmann::json* Measured = nullptr;  // only in the templates that have it
    nlohmann::json* Cpu = nullptr;
    void Bind(nlohmann::json event);
  };
  // An event of the frame being written, before they are put in order.
  struct Pending {
    Interval Span;
    int Cycle = 0;
    int Piece = 0;  // 0: the whole cycle; 1 or 2: that piece of it
    bool Pool = false;
    bool Measured = false;  // carries the cycle's measured time
    double Micros = 0.0;
    double CpuMicros = 0.0;
  };
  void Event(const Pending& event, const std::vector<CapturedCycle>& cycles, long long frame);
  std::ostream& mOut;
  bool mFirst = true;
  std::set<int> mThreads;
  Template mPool;          // a pool thread's share
  Template mPlain;         // a cycle
  Template mWithMeasured;  // a cycle whose event is not its measured time
  std::vector<Pending> mPending;
  std::string mName;
  std::string mText;
  std::chrono::steady_clock::time_point mLastFlush;
};

}  // namespace khost
