#include "khost/app/profiler_feed.h"

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
  const char* Name;
  float R, G, B;
};

// Distinct hues, light enough for the chart's white labels to stay readable
// next to them and different from the chart's grey background and lines.
constexpr SlotLook kSlotLooks[] = {
    {kSlotDevices, "Devices", 0.35f, 0.65f, 1.00f},
    {kSlotFrame, "Frame", 1.00f, 0.80f, 0.20f},
    {kSlotPresent, "Present", 0.55f, 0.90f, 0.55f},
    {kSlotSceneUpdate, "Scene Update", 0.75f, 0.55f, 1.00f},
    {kSlotInput, "Input", 1.00f, 0.50f, 0.75f},
    {kSlotAnimation, "Animation", 0.25f, 0.90f, 0.90f},
    {kSlotEvaluation, "Evaluation", 0.20f, 0.75f, 0.30f},
    {kSlotDeformation, "Deformation", 1.00f, 0.55f, 0.15f},
    {kSlotUpload, "Upload", 0.90f, 0.90f, 0.30f},
    {kSlotRendering, "Rendering", 0.95f, 0.30f, 0.30f},
    {kSlotToolPaint, "Tool Paint", 0.45f, 0.50f, 1.00f},
};

using Clock = std::chrono::steady_clock;

}  // namespace

ProfilerFeed::ProfilerFeed() {
  for (const SlotLook& look : kSlotLooks) {
    mSlots[look.Slot] = std::make_unique<KProfilingSampling>(look.Name, look.R, look.G, look.B);
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

bool IsWorkloadSlot(int slot) {
  return slot == kSlotAnimation || slot == kSlotEvaluation || slot == kSlotDeformation ||
         slot == kSlotUpload || slot == kSlotRendering;
}

SlotTiming FrameRecord::Slot(int slot) const {
  if (slot < 0 || slot >= KProfiler::kRootCycleCount) return {};
  if (!Work || !IsWorkloadSlot(slot)) return {Slots[slot], Starts[slot], Threads[slot]};
  const FrameTimings& w = *Work;
  switch (slot) {
    case kSlotAnimation:
      return {w.Animation, w.AnimationStart, w.EvaluationThread};
    case kSlotEvaluation:
      return {w.Evaluation, w.EvaluationStart, w.EvaluationThread};
    case kSlotDeformation:
      return {w.Deformation, w.DeformationStart, 0};
    case kSlotUpload:
      return {w.Upload, w.UploadStart, 0};
    default:  // kSlotRendering
      return {w.Culling + w.Submission, w.CullingStart, 0};
  }
}

void ProfilerFeed::Publish(const FrameRecord& record) {
  KProfiler* profiler = KProfiler::TheOne();
  const Clock::time_point start = Clock::now();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    const double micros = record.Slot(slot).Micros;
    if (mSlots[slot] && micros >= 0.0) KProfilingSampling_AddSample(*mSlots[slot], micros);
  }
  if (const FrameTimings* work = record.Work) {
    const std::size_t n = std::min(work->Characters.size(), mCharacters.size());
    for (std::size_t i = 0; i < n; ++i) {
      KProfilingSampling_AddSample(*mCharacters[i].Total, work->Characters[i].Total);
      KProfilingSampling_AddSample(*mCharacters[i].Skeleton, work->Characters[i].Skeleton);
      KProfilingSampling_AddSample(*mCharacters[i].Constraints, work->Characters[i].Constraints);
    }
    KProfilingSampling_AddSample(*mCulling, work->Culling);
    KProfilingSampling_AddSample(*mSubmission, work->Submission);
  }
  KProfiler_AddCost(*profiler,
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count());
}

const char* SlotName(int slot) {
  for (const SlotLook& look : kSlotLooks) {
    if (look.Slot == slot) return look.Name;
  }
  return nullptr;
}

KProfilingSampling* ProfilerFeed::GetSlot(int slot) const {
  return slot >= 0 && slot < KProfiler::kRootCycleCount ? mSlots[slot].get() : nullptr;
}

KProfilingSampling* ProfilerFeed::GetCharacter(int index) const {
  return index >= 0 && index < GetCharacterCount()
             ? mCharacters[static_cast<std::size_t>(index)].Total.get()
             : nullptr;
}

namespace {

void CollectCycle(KProfilingSampling* cycle, double reference, int depth,
                  std::vector<ChartRow>& rows) {
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
  rows.push_back({cycle->GetName(), depth, average, minimum, maximum});
  if (KProfiler::TheOne()->EvaluationDepth == 0) return;
  const int count = cycle->GetChildCount(1);
  for (int i = 0; i < count; ++i) {
    if (cycle->HasChild(1, i)) CollectCycle(cycle->GetChild(1, i), reference, depth + 1, rows);
  }
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::vector<ChartRow> CollectChartRows(KProfilingSampling* selected) {
  std::vector<ChartRow> rows;
  KProfiler* profiler = KProfiler::TheOne();
  if (profiler->ProfilingEnabled == 0) return rows;
  KProfilingSampling** root = profiler->RootCycles;
  KProfilingSampling* frame = root[kSlotFrame];
  const double upper = frame ? static_cast<double>(frame->GetAvgUsage()) : 0.0;
  CollectCycle(frame, upper, 0, rows);
  CollectCycle(root[kSlotPresent], upper, 0, rows);
  double lower = 16666.666666666668;
  if (profiler->FrameReference) {
    KProfilingSampling* devices = root[kSlotDevices];
    lower = devices ? static_cast<double>(devices->GetAvgUsage()) : 0.0;
  } else {
    const int divisor = static_cast<int>(KEvaluateManager::TheOne()->EvaluationRateDivisor);
    if (divisor >= 1) lower /= static_cast<double>(divisor);
  }
  if (selected) {
    CollectCycle(selected, lower, 0, rows);
  } else {
    for (int slot : {kSlotDevices, kSlotInput, kSlotAnimation, kSlotEvaluation, kSlotDeformation,
                     kSlotUpload, kSlotRendering, kSlotToolPaint, kSlotSceneUpdate}) {
      CollectCycle(root[slot], lower, 0, rows);
    }
  }
  return rows;
}

void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out) {
  out << "name,depth,average_us,minimum_us,maximum_us\n";
  char numbers[128];
  for (const ChartRow& row : rows) {
    std::snprintf(numbers, sizeof(numbers), ",%d,%.3f,%.3f,%.3f\n", row.Depth, row.Average,
                  row.Minimum, row.Maximum);
    out << CsvField(row.Name) << numbers;
  }
}

}  // namespace khost
