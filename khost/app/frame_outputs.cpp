#include "khost/app/frame_outputs.h"

#include <unistd.h>

#include <cstdio>

namespace khost {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFlushEvery = std::chrono::milliseconds(500);

// The trace's thread ids: the host's loop is 1, pool worker n is n + 1.
int TraceThread(int thread) {
  return thread + 1;
}

}  // namespace

FrameRecorder::FrameRecorder(std::ostream& out) : mOut(out), mLastFlush(Clock::now()) {
  mOut << "frame,time_ms,cycle,depth,duration_us\n";
  mOut.flush();
}

void FrameRecorder::Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  char head[64];
  std::snprintf(head, sizeof(head), "%lld,%.3f,", frame.Index,
                static_cast<double>(frame.StartNs) / 1e6);
  char tail[64];
  for (const CycleSample& c : frame.Cycles) {
    const CapturedCycle& cycle = cycles[static_cast<std::size_t>(c.Cycle)];
    std::snprintf(tail, sizeof(tail), ",%d,%.3f\n", cycle.Depth, c.Micros);
    mOut << head << CsvField(cycle.Path) << tail;
  }
  const Clock::time_point now = Clock::now();
  if (now - mLastFlush >= kFlushEvery) {
    mOut.flush();
    mLastFlush = now;
  }
}

bool FrameRecorder::Finish() {
  mOut.flush();
  return static_cast<bool>(mOut);
}

TraceWriter::TraceWriter(std::ostream& out) : mOut(out), mLastFlush(Clock::now()) {
  mOut << "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[";
  mEvent = {{"name", ""}, {"cat", ""},
            {"ph", "X"},  {"ts", 0.0},
            {"dur", 0.0}, {"pid", static_cast<int>(getpid())},
            {"tid", 0},   {"args", {{"frame", 0LL}, {"cycle", ""}}}};
  mName = &mEvent["name"];
  mCategory = &mEvent["cat"];
  mTs = &mEvent["ts"];
  mDur = &mEvent["dur"];
  mTid = &mEvent["tid"];
  mFrame = &mEvent["args"]["frame"];
  mPath = &mEvent["args"]["cycle"];
}

void TraceWriter::Event(const std::string& name, const char* category, const Interval& span,
                        long long frame, const std::string& path) {
  mName->get_ref<std::string&>().assign(name);
  mCategory->get_ref<std::string&>().assign(category);
  *mTs = static_cast<double>(span.StartNs) / 1000.0;
  *mDur = static_cast<double>(span.EndNs - span.StartNs) / 1000.0;
  *mTid = TraceThread(span.Thread);
  *mFrame = frame;
  mPath->get_ref<std::string&>().assign(path);
  mText.assign(mFirst ? "\n" : ",\n");
  mText += mEvent.dump();
  mOut << mText;
  mFirst = false;
  mThreads.insert(span.Thread);
}

void TraceWriter::Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  for (const CycleSample& c : frame.Cycles) {
    const CapturedCycle& cycle = cycles[static_cast<std::size_t>(c.Cycle)];
    for (int p = 0; p < c.PartCount; ++p) {
      Event(cycle.Name, "cycle", c.Parts[p], frame.Index, cycle.Path);
    }
  }
  for (const PoolWork& w : frame.Work) {
    const CapturedCycle& cycle = cycles[static_cast<std::size_t>(w.Cycle)];
    Event(cycle.Name, "pool", w.Span, frame.Index, cycle.Path);
  }
  const Clock::time_point now = Clock::now();
  if (now - mLastFlush >= kFlushEvery) {
    mOut.flush();
    mLastFlush = now;
  }
}

bool TraceWriter::Finish() {
  // Thread names for the viewers' track labels. These metadata events
  // carry ts and dur 0 too, so every event of the file has the same fields.
  const int pid = static_cast<int>(getpid());
  for (int thread : mThreads) {
    const std::string name = thread == 0 ? "khost loop" : "worker " + std::to_string(thread);
    const nlohmann::json event = {{"name", "thread_name"},
                                  {"ph", "M"},
                                  {"ts", 0},
                                  {"dur", 0},
                                  {"pid", pid},
                                  {"tid", TraceThread(thread)},
                                  {"args", {{"name", name}}}};
    mOut << (mFirst ? "\n" : ",\n") << event.dump();
    mFirst = false;
  }
  const nlohmann::json process = {
      {"name", "process_name"},     {"ph", "M"}, {"ts", 0}, {"dur", 0}, {"pid", pid}, {"tid", 1},
      {"args", {{"name", "khost"}}}};
  mOut << (mFirst ? "\n" : ",\n") << process.dump() << "\n]}\n";
  mOut.flush();
  return static_cast<bool>(mOut);
}

}  // namespace khost
