#include "khost/frame/measured_frame.h"

#include <chrono>

namespace khost {

CycleTiming MeasuredFrame::Loop(int cycle) const {
  return cycle >= 0 && cycle < kLoopCycleCount ? Loops[cycle] : CycleTiming{};
}

CycleTiming MeasuredFrame::Stage(int stage) const {
  if (stage < 0 || static_cast<std::size_t>(stage) >= Stages.size()) return {};
  const StageTiming& s = Stages[static_cast<std::size_t>(stage)];
  CycleTiming t;
  t.Micros = s.Micros;
  t.CpuMicros = s.CpuMicros;
  t.Thread = s.Thread;
  t.Parts[0] = {s.Start, s.Start + std::chrono::round<SteadyClock::duration>(
                                       std::chrono::duration<double, std::micro>(s.Micros))};
  t.PartCount = 1;
  return t;
}

std::span<const WorkSpan> MeasuredFrame::StageShares(int stage) const {
  if (stage < 0 || static_cast<std::size_t>(stage) >= Shares.size()) return {};
  return Shares[static_cast<std::size_t>(stage)];
}

}  // namespace khost
