#include "khost/frame/profiler_feed.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "host/bcore.h"
#include "standin/kbaselib/profiler.h"

namespace khost {

namespace {

struct SlotLook {
  int Slot;
  float R, G, B;
};

// Distinct hues, light enough for the chart's white labels to stay readable
// next to them and different from the chart's grey background and lines.
constexpr SlotLook kSlotLooks[] = {
    {kSlotDevices, 0.35f, 0.65f, 1.00f},    {kSlotFrame, 1.00f, 0.80f, 0.20f},
    {kSlotPresent, 0.55f, 0.90f, 0.55f},    {kSlotSceneUpdate, 0.75f, 0.55f, 1.00f},
    {kSlotInput, 1.00f, 0.50f, 0.75f},      {kSlotAnimation, 0.25f, 0.90f, 0.90f},
    {kSlotEvaluation, 0.20f, 0.75f, 0.30f}, {kSlotDeformation, 1.00f, 0.55f, 0.15f},
    {kSlotUpload, 0.90f, 0.90f, 0.30f},     {kSlotRendering, 0.95f, 0.30f, 0.30f},
    {kSlotToolPaint, 0.45f, 0.50f, 1.00f},
};

using Clock = std::chrono::steady_clock;

}  // namespace

ProfilerFeed::ProfilerFeed() {
  for (const SlotLook& look : kSlotLooks) {
    mSlots[look.Slot] =
        std::make_unique<KProfilingSampling>(SlotName(look.Slot), look.R, look.G, look.B);
  }
  mCulling = std::make_unique<KProfilingSampling>("Culling", 1.00f, 0.65f, 0.55f);
  mSubmission = std::make_unique<KProfilingSampling>("Submission", 0.80f, 0.35f, 0.65f);
  KProfilingSampling_AddChild(*mSlots[kSlotRendering], 1, mCulling.get());
  KProfilingSampling_AddChild(*mSlots[kSlotRendering], 1, mSubmission.get());
}

ProfilerFeed::~ProfilerFeed() {
  Uninstall();
  KProfilingSampling_ClearChildren(*mSlots[kSlotEvaluation], 1);
  KProfilingSampling_ClearChildren(*mSlots[kSlotRendering], 1);
}

void ProfilerFeed::Install() {
  KProfiler* profiler = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    KProfiler_SetRootCycle(*profiler, slot, mSlots[slot].get());  // slot 7 stays null
  }
  KProfiler_ApplyBufferSize(*profiler);
  mInstalled = true;
}

void ProfilerFeed::Uninstall() {
  if (!mInstalled) return;
  KProfiler* profiler = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    if (profiler->RootCycles[slot] == mSlots[slot].get())
      KProfiler_SetRootCycle(*profiler, slot, nullptr);
  }
  mInstalled = false;
}

void ProfilerFeed::SetCharacterCount(int count) {
  KProfilingSampling* evaluation = mSlots[kSlotEvaluation].get();
  KProfilingSampling_ClearChildren(*evaluation, 1);
  for (const CharacterCycles& c : mCharacters) {
    for (const auto* cycle : {c.Total.get(), c.Skeleton.get(), c.Constraints.get()}) {
      mCpu.erase(cycle);
    }
  }
  mCharacters.clear();
  mCharacters.resize(static_cast<std::size_t>(count < 0 ? 0 : count));
  for (int i = 0; i < static_cast<int>(mCharacters.size()); ++i) {
    CharacterCycles& c = mCharacters[static_cast<std::size_t>(i)];
    char name[32];
    std::snprintf(name, sizeof(name), "Character %d", i + 1);
    // Shades of the evaluation green, alternating so neighbours differ.
    const float shade = (i % 2 == 0) ? 0.0f : 0.15f;
    c.Total = std::make_unique<KProfilingSampling>(name, 0.35f + shade, 0.85f, 0.40f + shade);
    c.Skeleton = std::make_unique<KProfilingSampling>("Skeleton", 0.60f, 0.95f, 0.60f);
    c.Constraints = std::make_unique<KProfilingSampling>("Constraints", 0.30f, 0.70f, 0.95f);
    KProfilingSampling_AddChild(*c.Total, 1, c.Skeleton.get());
    KProfilingSampling_AddChild(*c.Total, 1, c.Constraints.get());
    KProfilingSampling_AddChild(*evaluation, 1, c.Total.get());
  }
  if (mInstalled) KProfiler_ApplyBufferSize(*KProfiler::TheOne());
}

void ProfilerFeed::Add(KProfilingSampling& cycle, double micros, double cpuMicros) {
  KProfilingSampling_AddSample(cycle, micros);
  if (cpuMicros < 0.0) return;  // not measured on the CPU clock
  std::unique_ptr<KProfilingSampling>& twin = mCpu[&cycle];
  if (!twin) twin = std::make_unique<KProfilingSampling>(cycle.GetName(), 0.0f, 0.0f, 0.0f);
  // The twin averages over the same window as its cycle.
  const int size = KProfilingSampling_GetBufferSize(cycle);
  if (KProfilingSampling_GetBufferSize(*twin) != size)
    KProfilingSampling_SetBufferSize(*twin, size);
  KProfilingSampling_AddSample(*twin, cpuMicros);
}

void ProfilerFeed::Publish(const MeasuredFrame& frame) {
  KProfiler* profiler = KProfiler::TheOne();
  KProfiler_BeginFrame(*profiler);
  const Clock::time_point start = Clock::now();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    const SlotTiming timing = frame.Slot(slot);
    if (mSlots[slot] && timing.Micros >= 0.0) Add(*mSlots[slot], timing.Micros, timing.CpuMicros);
  }
  if (const FrameTimings* work = frame.Work) {
    const std::size_t n = std::min(work->Characters.size(), mCharacters.size());
    for (std::size_t i = 0; i < n; ++i) {
      const CharacterTimings& t = work->Characters[i];
      Add(*mCharacters[i].Total, t.Total, -1.0);
      Add(*mCharacters[i].Skeleton, t.Skeleton, -1.0);
      Add(*mCharacters[i].Constraints, t.Constraints, -1.0);
    }
    Add(*mCulling, work->Culling, work->CullingCpu);
    Add(*mSubmission, work->Submission, work->SubmissionCpu);
  }
  KProfiler_AddCost(*profiler,
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  KProfiler_EndFrame(*profiler);
}

KProfilingSampling* ProfilerFeed::GetSlot(int slot) const {
  return slot >= 0 && slot < KProfiler::kRootCycleCount ? mSlots[slot].get() : nullptr;
}

KProfilingSampling* ProfilerFeed::GetCharacter(int index) const {
  return index >= 0 && index < GetCharacterCount()
             ? mCharacters[static_cast<std::size_t>(index)].Total.get()
             : nullptr;
}

int DisplayedSlot(std::string_view item) {
  // The selector's items after "DisplayAll", each showing the root cycle
  // of its name.
  for (int slot : {kSlotEvaluation, kSlotRendering, kSlotDevices}) {
    if (item == SlotName(slot)) return slot;
  }
  return -1;
}

void ProfilerFeed::CollectCycle(KProfilingSampling* cycle, double reference, int depth,
                                std::vector<ChartRow>& rows) const {
  if (!cycle) return;
  double average = 0.0;
  double minimum = 0.0;
  double maximum = 0.0;
  cycle->QueryAcquire();
  cycle->GetAvgMinMaxUsage(average, minimum, maximum);
  cycle->QueryRelease();
  // The chart leaves out a child without share (NaN counts as a share).
  const double share = average / reference;
  if (depth != 0 && share <= 0.0) return;
  double cpu = -1.0;
  if (const auto twin = mCpu.find(cycle); twin != mCpu.end()) {
    double low = 0.0;
    double high = 0.0;
    twin->second->GetAvgMinMaxUsage(cpu, low, high);
  }
  rows.push_back({cycle->GetName(), depth, average, minimum, maximum, cpu});
  if (KProfiler::TheOne()->EvaluationDepth == 0) return;
  const int count = cycle->GetChildCount(1);
  for (int i = 0; i < count; ++i) {
    if (cycle->HasChild(1, i)) CollectCycle(cycle->GetChild(1, i), reference, depth + 1, rows);
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::vector<ChartRow> ProfilerFeed::ChartRows(int displayed) const {
  std::vector<ChartRow> rows;
  KProfiler* profiler = KProfiler::TheOne();
  if (profiler->ProfilingEnabled == 0) return rows;
  KProfilingSampling** root = profiler->RootCycles;
  // The upper block against the frame's work; the lower one against the
  // frame period, or a fixed period with the frame reference off.
  KProfilingSampling* frame = root[kSlotFrame];
  const double upper = frame ? static_cast<double>(frame->GetAvgUsage()) : 0.0;
  for (int slot : kUpperBlockSlots) CollectCycle(root[slot], upper, 0, rows);
  double lower = 16666.666666666668;
  if (profiler->FrameReference) {
    KProfilingSampling* devices = root[kSlotDevices];
    lower = devices ? static_cast<double>(devices->GetAvgUsage()) : 0.0;
  } else {
    const int divisor = static_cast<int>(KEvaluateManager::TheOne()->EvaluationRateDivisor);
    if (divisor >= 1) lower /= static_cast<double>(divisor);
  }
  if (displayed >= 0 && displayed < KProfiler::kRootCycleCount) {
    CollectCycle(root[displayed], lower, 0, rows);
  } else {
    for (int slot : kLowerBlockSlots) CollectCycle(root[slot], lower, 0, rows);
  }
  return rows;
}

void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out) {
  out << "name,depth,average_us,minimum_us,maximum_us,average_cpu_us\n";
  char numbers[160];
  for (const ChartRow& row : rows) {
    std::snprintf(numbers, sizeof(numbers), ",%d,%.3f,%.3f,%.3f,", row.Depth, row.Average,
                  row.Minimum, row.Maximum);
    out << CsvField(row.Name) << numbers;
    // An empty field for a cycle not measured on the CPU clock.
    if (row.AverageCpu >= 0.0) {
      std::snprintf(numbers, sizeof(numbers), "%.3f", row.AverageCpu);
      out << numbers;
    }
    out << '\n';
  }
}

}  // namespace khost
