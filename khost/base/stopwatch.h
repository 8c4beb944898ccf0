// The clocks a frame is measured with: the steady clock (how long a stretch
// of work took, waits included) and CPU clocks (how much processor time it
// used): the running thread's for one cycle, the whole process's (every
// thread, the renderer's included) for a frame.
//
// A stretch reads the steady clock first and last and the thread's CPU
// clock inside that, so its CPU time never exceeds its wall time by more
// than the two clocks' granularity.
#pragma once

#include <time.h>

#include <chrono>

namespace khost {

// Scene time on a fixed clock: frame n is at n / kFixedFrameRate seconds
// (a headless run, so that runs repeat exactly; the step of a first frame,
// which has no earlier one to measure it from).
inline constexpr int kFixedFrameRate = 60;

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

// Microseconds from `from` to `to` on the steady clock.
inline double MicrosBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// CPU time in nanoseconds of the calling thread, or of the whole process,
// since it started. [any thread]
inline long long CpuNanos(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}
inline long long ThreadCpuNanos() {
  return CpuNanos(CLOCK_THREAD_CPUTIME_ID);
}
inline long long ProcessCpuNanos() {
  return CpuNanos(CLOCK_PROCESS_CPUTIME_ID);
}
inline double CpuMicrosBetween(long long from, long long to) {
  return static_cast<double>(to - from) / 1000.0;
}

// One measured stretch of work on one thread.
struct Stretch {
  TimePoint Start{};
  TimePoint End{};
  double CpuMicros = 0.0;  // the running thread's CPU time in it
  double Micros() const { return MicrosBetween(Start, End); }
};

// Runs `step` on the calling thread and measures it with both clocks.
// [any thread] borrows `step` for the call.
template <class Step>
Stretch Measure(Step&& step) {
  Stretch s;
  s.Start = SteadyClock::now();
  const long long cpu = ThreadCpuNanos();
  step();
  s.CpuMicros = CpuMicrosBetween(cpu, ThreadCpuNanos());
  s.End = SteadyClock::now();
  return s;
}

}  // namespace khost
