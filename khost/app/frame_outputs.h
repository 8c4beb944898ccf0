// The frame outputs: the per-frame recording (CSV, long form) and the trace
// (the trace event format that trace viewers open), both written as the run
// goes.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>

#include "khost/app/frame_capture.h"

namespace khost {

// frame,time_ms,cycle,depth,duration_us: one line per cycle that ran in a
// frame, flushed at least once a second so a run that is killed keeps what
// it recorded.
class FrameRecorder : public FrameSink {
 public:
  explicit FrameRecorder(std::ostream& out);
  void Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;
  // Flushes; false when anything could not be written.
  bool Finish();

 private:
  std::ostream& mOut;
  std::chrono::steady_clock::time_point mLastFlush;
};

// One complete event per cycle part per frame, on the track of the thread
// it ran on, plus the pool threads' shares of parallel passes; times in
// microseconds from the first frame's start.
class TraceWriter : public FrameSink {
 public:
  explicit TraceWriter(std::ostream& out);
  void Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;
  // Names the threads and closes the document; false when anything could
  // not be written.
  bool Finish();

 private:
  void Event(const std::string& name, const char* category, const Interval& span, long long frame,
             const std::string& path);
  std::ostream& mOut;
  bool mFirst = true;
  std::set<int> mThreads;
  // One event, filled in place for each write: its members stay where they
  // are, so a write changes values instead of building a document.
  nlohmann::json mEvent;
  nlohmann::json* mName = nullptr;
  nlohmann::json* mCategory = nullptr;
  nlohmann::json* mTs = nullptr;
  nlohmann::json* mDur = nullptr;
  nlohmann::json* mTid = nullptr;
  nlohmann::json* mFrame = nullptr;
  nlohmann::json* mPath = nullptr;
  std::string mText;
  std::chrono::steady_clock::time_point mLastFlush;
};

}  // namespace khost
