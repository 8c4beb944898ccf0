#include "khost/outputs/frame_outputs.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace khost {

namespace {

using Clock = std::chrono::steady_clock;

// The trace's thread ids: the host's loop is 1, pool worker n is n + 1.
int TraceThread(int thread) {
  return thread + 1;
}

}  // namespace

FrameRecorder::FrameRecorder(std::ostream& out) : mOut(out), mLastFlush(Clock::now()) {
  mOut << kRecordingColumns << '\n';
  mOut.flush();
}

void FrameRecorder::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  char head[64];
  std::snprintf(head, sizeof(head), "%lld,%.3f,", frame.Index,
                static_cast<double>(frame.StartNs) / 1e6);
  char tail[96];
  for (const CycleSample& c : frame.Cycles) {
    const CapturedCycle& cycle = cycles[static_cast<std::size_t>(c.Cycle)];
    // An empty cpu_us for a cycle not measured on the CPU clock.
    if (c.CpuMicros >= 0.0) {
      std::snprintf(tail, sizeof(tail), ",%d,%.3f,%.3f\n", cycle.Depth, c.Micros, c.CpuMicros);
    } else {
      std::snprintf(tail, sizeof(tail), ",%d,%.3f,\n", cycle.Depth, c.Micros);
    }
    mOut << head << CsvField(cycle.Path) << tail;
  }
  const Clock::time_point now = Clock::now();
  if (now - mLastFlush >= kFrameOutputFlush) {
    mOut.flush();
    mLastFlush = now;
  }
}

bool FrameRecorder::Finish() {
  mOut.flush();
  return static_cast<bool>(mOut);
}

void TraceWriter::Template::Bind(nlohmann::json event) {
  Event = std::move(event);
  Name = &Event["name"];
  Category = &Event["cat"];
  Ts = &Event["ts"];
  Dur = &Event["dur"];
  Tid = &Event["tid"];
  Frame = &Event["args"]["frame"];
  Path = &Event["args"]["cycle"];
  Measured = Event["args"].contains("measured_us") ? &Event["args"]["measured_us"] : nullptr;
  Cpu = Event["args"].contains("cpu_us") ? &Event["args"]["cpu_us"] : nullptr;
}

TraceWriter::TraceWriter(std::ostream& out) : mOut(out), mLastFlush(Clock::now()) {
  mOut << "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[";
  const nlohmann::json event = {{"name", ""}, {"cat", ""},
                                {"ph", "X"},  {"ts", 0.0},
                                {"dur", 0.0}, {"pid", static_cast<int>(getpid())},
                                {"tid", 0},   {"args", {{"frame", 0LL}, {"cycle", ""}}}};
  mPool.Bind(event);
  nlohmann::json cycle = event;
  cycle["args"]["cpu_us"] = 0.0;
  mPlain.Bind(cycle);
  cycle["args"]["measured_us"] = 0.0;
  mWithMeasured.Bind(std::move(cycle));
}

void TraceWriter::Event(const Pending& event, const std::vector<CapturedCycle>& cycles,
                        long long frame) {
  const CapturedCycle& cycle = cycles[static_cast<std::size_t>(event.Cycle)];
  Template& t = event.Pool ? mPool : event.Measured ? mWithMeasured : mPlain;
  mName.assign(cycle.Name);
  if (event.Piece != 0) mName += event.Piece == 1 ? " (1 of 2)" : " (2 of 2)";
  t.Name->get_ref<std::string&>().assign(mName);
  t.Category->get_ref<std::string&>().assign(event.Pool ? "pool" : "cycle");
  *t.Ts = static_cast<double>(event.Span.StartNs) / 1000.0;
  *t.Dur = static_cast<double>(event.Span.EndNs - event.Span.StartNs) / 1000.0;
  *t.Tid = TraceThread(event.Span.Thread);
  *t.Frame = frame;
  t.Path->get_ref<std::string&>().assign(cycle.Path);
  if (t.Measured) *t.Measured = std::round(event.Micros * 1000.0) / 1000.0;
  if (t.Cpu) {
    // null for a cycle not measured on the CPU clock.
    if (event.CpuMicros >= 0.0) {
      *t.Cpu = std::round(event.CpuMicros * 1000.0) / 1000.0;
    } else {
      *t.Cpu = nullptr;
    }
  }
  mText.assign(mFirst ? "\n" : ",\n");
  mText += t.Event.dump();
  mOut << mText;
  mFirst = false;
  mThreads.insert(event.Span.Thread);
}

void TraceWriter::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  mPending.clear();
  for (const CycleSample& c : frame.Cycles) {
    for (int p = 0; p < c.PartCount; ++p) {
      Pending event;
      event.Span = c.Parts[p];
      event.Cycle = c.Cycle;
      event.Piece = c.PartCount > 1 ? p + 1 : 0;
      event.Measured = c.PartCount > 1 || c.Encloses;
      event.Micros = c.Micros;
      event.CpuMicros = c.CpuMicros;
      mPending.push_back(event);
    }
  }
  for (const PoolWork& w : frame.Work) {
    Pending event;
    event.Span = w.Span;
    event.Cycle = w.Cycle;
    event.Pool = true;
    mPending.push_back(event);
  }
  // Per track in time order, an event before those it holds (a longer one
  // first where two start together), so that viewers that keep the file's
  // order for equal times nest them as they are.
  std::stable_sort(mPending.begin(), mPending.end(), [](const Pending& a, const Pending& b) {
    if (a.Span.Thread != b.Span.Thread) return a.Span.Thread < b.Span.Thread;
    if (a.Span.StartNs != b.Span.StartNs) return a.Span.StartNs < b.Span.StartNs;
    return a.Span.EndNs > b.Span.EndNs;
  });
  for (const Pending& event : mPending) Event(event, cycles, frame.Index);
  const Clock::time_point now = Clock::now();
  if (now - mLastFlush >= kFrameOutputFlush) {
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
