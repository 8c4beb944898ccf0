#include "khost/frame/profiler_feed.h"

#include <algorithm>
#include <chrono>

#include "standin/kbaselib/profiler.h"

namespace khost {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

ProfilerFeed::FedCycle::FedCycle(const char* name, CycleColour colour, bool cpu)
    : KProfilingSampling(name, colour.R, colour.G, colour.B) {
  if (cpu) Cpu = std::make_unique<KProfilingSampling>(name, 0.0f, 0.0f, 0.0f);
}

ProfilerFeed::ProfilerFeed(const CycleCatalogue& catalogue) : mCatalogue(catalogue) {
  for (int row = 0; row < mCatalogue.RowCount(); ++row) {
    const CycleRow& r = mCatalogue.Row(row);
    mCycles.push_back(std::make_unique<FedCycle>(r.Name, r.Colour, r.Cpu));
    if (const int parent = mCatalogue.Parent(row); parent >= 0) {
      KProfilingSampling_AddChild(*mCycles[static_cast<std::size_t>(parent)], 1,
                                  mCycles.back().get());
    }
  }
}

ProfilerFeed::~ProfilerFeed() {
  Uninstall();
}

void ProfilerFeed::Install() {
  KProfiler* profiler = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    KProfiler_SetRootCycle(*profiler, slot, GetSlot(slot));
  }
  KProfiler_ApplyBufferSize(*profiler);
  mInstalled = true;
}

void ProfilerFeed::Uninstall() {
  if (!mInstalled) return;
  KProfiler* profiler = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    if (KProfilingSampling* mine = GetSlot(slot); mine && profiler->RootCycles[slot] == mine)
      KProfiler_SetRootCycle(*profiler, slot, nullptr);
  }
  mInstalled = false;
}

void ProfilerFeed::SetCharacterCount(int count) {
  // A destroyed cycle leaves its parent's child list by itself.
  mCharacters.clear();
  mCharacterCount = std::max(0, count);
  const int parent = mCatalogue.CharacterParent();
  if (parent < 0) return;
  FedCycle& under = *mCycles[static_cast<std::size_t>(parent)];
  const int parts = mCatalogue.CharacterRowCount();
  for (int c = 0; c < mCharacterCount; ++c) {
    for (int part = 0; part < parts; ++part) {
      const CharacterRow& row = mCatalogue.CharacterRowAt(part);
      const std::string name = part == 0 ? mCatalogue.CharacterName(c) : row.Name;
      mCharacters.push_back(
          std::make_unique<FedCycle>(name.c_str(), c % 2 == 0 ? row.Colour : row.OddColour, false));
      FedCycle& parentCycle = part == 0 ? under : *mCharacters[mCharacters.size() - 1 - part];
      KProfilingSampling_AddChild(parentCycle, 1, mCharacters.back().get());
    }
  }
  if (mInstalled) KProfiler_ApplyBufferSize(*KProfiler::TheOne());
}

void ProfilerFeed::Add(FedCycle& cycle, double micros, double cpuMicros) {
  KProfilingSampling_AddSample(cycle, micros);
  if (!cycle.Cpu || cpuMicros < 0.0) return;  // not measured on the CPU clock
  // The twin averages over the same window as its cycle.
  const int size = KProfilingSampling_GetBufferSize(cycle);
  if (KProfilingSampling_GetBufferSize(*cycle.Cpu) != size)
    KProfilingSampling_SetBufferSize(*cycle.Cpu, size);
  KProfilingSampling_AddSample(*cycle.Cpu, cpuMicros);
}

void ProfilerFeed::Publish(const MeasuredFrame& frame) {
  KProfiler* profiler = KProfiler::TheOne();
  KProfiler_BeginFrame(*profiler);
  const Clock::time_point start = Clock::now();
  for (int row = 0; row < mCatalogue.RowCount(); ++row) {
    const CycleTiming t = mCatalogue.Timing(frame, row);
    if (t.Micros >= 0.0) Add(*mCycles[static_cast<std::size_t>(row)], t.Micros, t.CpuMicros);
  }
  const int parts = mCatalogue.CharacterRowCount();
  const int characters = std::min(static_cast<int>(frame.Characters.size()), mCharacterCount);
  for (int c = 0; c < characters; ++c) {
    for (int part = 0; part < parts; ++part) {
      const CycleTiming t = mCatalogue.CharacterTiming(frame, c, part);
      Add(*mCharacters[static_cast<std::size_t>(c * parts + part)], t.Micros, -1.0);
    }
  }
  KProfiler_AddCost(*profiler,
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  KProfiler_EndFrame(*profiler);
}

KProfilingSampling* ProfilerFeed::GetSlot(int slot) const {
  const int row = mCatalogue.RootOfSlot(slot);
  return row >= 0 ? mCycles[static_cast<std::size_t>(row)].get() : nullptr;
}

double ProfilerFeed::CpuAverage(KProfilingSampling& cycle) {
  const auto* fed = dynamic_cast<const FedCycle*>(&cycle);
  // None for a cycle without CPU times, or before its first one.
  if (!fed || !fed->Cpu || KProfilingSampling_GetSampleCount(*fed->Cpu) == 0) return -1.0;
  double average = 0.0;
  double low = 0.0;
  double high = 0.0;
  fed->Cpu->GetAvgMinMaxUsage(average, low, high);
  return average;
}

std::vector<ChartRow> ProfilerFeed::ChartRows(int displayed) const {
  return WalkChart(mCatalogue, displayed, &ProfilerFeed::CpuAverage);
}

}  // namespace khost
