// Feeds the host profiler: owns the task cycles khost measures, puts them in
// the profiler's root table and records each frame's measurements.
//
// Root slots: 0 Devices (the frame period), 1 Frame (the CPU work of a
// frame), 2 Present, 3 Scene Update, 4 Input, 5 Animation, 6 Evaluation
// (children "Character N", each with "Skeleton" and "Constraints"), 8
// Deformation, 9 Upload, 10 Rendering (children "Culling", "Submission"),
// 11 Tool Paint. Slot 7 stays empty.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "khost/scene/workload.h"
#include "standin/kbaselib/profiler.h"

namespace khost {

// One slot's measurement: microseconds (negative: not recorded), where its
// interval began and the thread it ran on.
struct SlotTiming {
  double Micros = -1.0;
  TimePoint Start{};
  int Thread = 0;
};

// One frame's measurements in microseconds. Slots left negative are not
// recorded this frame. Each slot also keeps where its interval began and
// the thread it ran on; a slot flagged OfPreviousFrame measured the frame
// before (its period, work, present and paint are complete only once the
// next frame starts).
//
// The workload's stages (Animation, Evaluation, Deformation, Upload,
// Rendering) are read from Work, the workload's own timings, when it is
// set, and from the slot arrays only when it is not: the loop hands the
// timings over once and nothing copies them. Rendering is culling plus
// submission, measured apart; its parts' intervals are in Work.
struct FrameRecord {
  double Slots[KProfiler::kRootCycleCount];
  TimePoint Starts[KProfiler::kRootCycleCount];
  int Threads[KProfiler::kRootCycleCount];
  bool OfPreviousFrame[KProfiler::kRootCycleCount];
  // The slot's work did not run in its frame (a frame that does not repaint
  // the tool): the profiler records the 0, recordings leave the cycle out.
  bool NotRun[KProfiler::kRootCycleCount];
  // How the frame before presented, for the trace: its viewport's
  // submission, then (after the tool's paint) the swap. "Present" is these
  // two stretches and "Frame" the two around the first; set with the
  // OfPreviousFrame slots.
  struct Presenting {
    TimePoint SubmitStart{};
    TimePoint SubmitEnd{};
    TimePoint SwapStart{};
    TimePoint SwapEnd{};
    bool Known = false;
  } Presented;
  TimePoint FrameStart{};              // when the frame that publishes this began
  const FrameTimings* Work = nullptr;  // evaluation children and rendering parts
  FrameRecord() {
    for (double& s : Slots) s = -1.0;
    for (TimePoint& t : Starts) t = TimePoint{};
    for (int& t : Threads) t = 0;
    for (bool& p : OfPreviousFrame) p = false;
    for (bool& n : NotRun) n = false;
  }
  // Slot `slot`'s measurement, a workload stage's from Work when set.
  SlotTiming Slot(int slot) const;
};

// Whether `slot` is one of the workload's stages, measured in FrameTimings.
bool IsWorkloadSlot(int slot);

// The name of a root slot's cycle (null for the empty slot 7 and outside
// the table).
const char* SlotName(int slot);

// The root slots in the order the full chart lists them: the upper block,
// then the lower.
constexpr int kChartSlotOrder[] = {kSlotFrame,     kSlotPresent,    kSlotDevices,     kSlotInput,
                                   kSlotAnimation, kSlotEvaluation, kSlotDeformation, kSlotUpload,
                                   kSlotRendering, kSlotToolPaint,  kSlotSceneUpdate};

class ProfilerFeed {
 public:
  ProfilerFeed();
  // Takes its cycles out of the profiler's table.
  ~ProfilerFeed();
  ProfilerFeed(const ProfilerFeed&) = delete;
  ProfilerFeed& operator=(const ProfilerFeed&) = delete;

  // Puts the cycles in the profiler's root table (slot 7 left empty).
  void Install();
  void Uninstall();
  // One "Character N" child (with "Skeleton" and "Constraints") per
  // character of the evaluation cycle.
  void SetCharacterCount(int count);

  // Records a frame's samples; the time this takes is reported to the
  // profiler as its own cost (AddCost, inside BeginFrame/EndFrame).
  void Publish(const FrameRecord& record);

  KProfilingSampling* GetSlot(int slot) const;
  KProfilingSampling* GetCharacter(int index) const;
  int GetCharacterCount() const { return static_cast<int>(mCharacters.size()); }

 private:
  struct CharacterCycles {
    std::unique_ptr<KProfilingSampling> Total;
    std::unique_ptr<KProfilingSampling> Skeleton;
    std::unique_ptr<KProfilingSampling> Constraints;
  };
  std::unique_ptr<KProfilingSampling> mSlots[KProfiler::kRootCycleCount];
  std::unique_ptr<KProfilingSampling> mCulling;
  std::unique_ptr<KProfilingSampling> mSubmission;
  std::vector<CharacterCycles> mCharacters;
  bool mInstalled = false;
};

// A row of the task-cycle chart: the cycles the chart shows, in its order,
// with the rules it uses (the upper block of slots 1 and 2, then the
// selected cycle or the nine listed slots; children when the evaluation
// depth is not 0, a child with no share left out with its descendants).
struct ChartRow {
  std::string Name;
  int Depth = 0;
  double Average = 0.0;  // microseconds
  double Minimum = 0.0;
  double Maximum = 0.0;
};

// The rows the chart shows for `selected` (null: the full chart). Empty
// while profiling is off, as the chart is then not drawn.
std::vector<ChartRow> CollectChartRows(KProfilingSampling* selected);
// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote
// or a line break.
std::string CsvField(const std::string& text);
// CSV: a header line, then one line per row.
void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out);

}  // namespace khost
