#include "khost/frame/cycle_catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "standin/kbaselib/profiler.h"

namespace khost {

namespace {

using enum MeasuredBy;

// One row per cycle, in the chart's order. Distinct hues, light enough for
// the chart's white labels to stay readable next to them and different from
// the chart's grey background and lines.
// clang-format off
constexpr CycleRow kCycles[] = {
//   name            place                    colour              measured by        CPU time
    {"Frame",        Upper(kSlotFrame),       {1.00, 0.80, 0.20}, kLoopFrame,        true},
    {"Present",      Upper(kSlotPresent),     {0.55, 0.90, 0.55}, kLoopPresent,      true},
    {"Devices",      Lower(kSlotDevices),     {0.35, 0.65, 1.00}, kLoopDevices,      true},
    {"Input",        Lower(kSlotInput),       {1.00, 0.50, 0.75}, kLoopInput,        true},
    {"Animation",    Lower(kSlotAnimation),   {0.25, 0.90, 0.90}, kStageAnimation,   true},
    {"Evaluation",   Lower(kSlotEvaluation),  {0.20, 0.75, 0.30}, kStageEvaluation,  true},
    {"Deformation",  Lower(kSlotDeformation), {1.00, 0.55, 0.15}, kStageDeformation, true},
    {"Upload",       Lower(kSlotUpload),      {0.90, 0.90, 0.30}, kStageUpload,      true},
    {"Rendering",    Lower(kSlotRendering),   {0.95, 0.30, 0.30}, kSumOfChildren,    true},
    {"Culling",      ChildOf("Rendering"),    {1.00, 0.65, 0.55}, kStageCulling,     true},
    {"Submission",   ChildOf("Rendering"),    {0.80, 0.35, 0.65}, kStageSubmission,  true},
    {"Tool Paint",   Lower(kSlotToolPaint),   {0.45, 0.50, 1.00}, kLoopToolPaint,    true},
    {"Scene Update", Lower(kSlotSceneUpdate), {0.75, 0.55, 1.00}, kLoopSceneUpdate,  true},
};
// clang-format on

// Each character in shades of the evaluation green, alternating so that
// neighbours differ; its parts in their own colours.
// clang-format off
constexpr CharacterRow kCharacterRows[] = {
//   name           colour              odd characters' colour  measured by
    {"Character ",  {0.35, 0.85, 0.40}, {0.50, 0.85, 0.55},     kCharacterTotal},
    {"Skeleton",    {0.60, 0.95, 0.60}, {0.60, 0.95, 0.60},     kCharacterSkeleton},
    {"Constraints", {0.30, 0.70, 0.95}, {0.30, 0.70, 0.95},     kCharacterConstraints},
};
// clang-format on

constexpr int kMaxDepth = 2;  // CapturedCycle::Order holds three levels

[[noreturn]] void Refuse(const std::string& what) {
  throw std::invalid_argument("cycle catalogue: " + what);
}

TimePoint After(TimePoint start, double micros) {
  return start + std::chrono::round<SteadyClock::duration>(
                     std::chrono::duration<double, std::micro>(micros));
}

}  // namespace

const CycleCatalogue& CycleCatalogue::Standard() {
  static const CycleCatalogue catalogue(kCycles, {"Evaluation", kCharacterRows});
  return catalogue;
}

CycleCatalogue::CycleCatalogue(std::span<const CycleRow> rows, CharacterPattern characters)
    : mRows(rows), mPattern(characters), mEntries(rows.size()) {
  bool slotTaken[KProfiler::kRootCycleCount] = {};
  int roots = 0;
  for (int row = 0; row < RowCount(); ++row) {
    const CycleRow& r = Row(row);
    Entry& e = mEntries[Index(row)];
    e.Named.Name = r.Name;
    e.Named.Cpu = r.Cpu;
    const CyclePlace& place = r.Place;
    if (!place.Parent) {
      if (place.Slot < 0 || place.Slot >= KProfiler::kRootCycleCount || slotTaken[place.Slot]) {
        Refuse("root '" + e.Named.Name + "' has no slot of its own");
      }
      slotTaken[place.Slot] = true;
      const bool upper = place.Block == ChartBlock::kUpper;
      if (upper && !mLower.empty()) {
        Refuse("root '" + e.Named.Name + "' of the upper block comes after the lower block's");
      }
      e.Named.Path = e.Named.Name;
      e.Named.Order[0] = roots++;
      (upper ? mUpper : mLower).push_back(row);
      continue;
    }
    for (int p = 0; p < row && e.Parent < 0; ++p) {
      if (std::strcmp(Row(p).Name, place.Parent) == 0) e.Parent = p;
    }
    if (e.Parent < 0) Refuse("'" + e.Named.Name + "' comes before its parent or has none");
    Entry& parent = mEntries[Index(e.Parent)];
    if (parent.Named.Depth >= kMaxDepth) Refuse("'" + e.Named.Name + "' lies too deep");
    for (int sibling : parent.Children) {
      if (mEntries[Index(sibling)].Named.Name == e.Named.Name) {
        Refuse("'" + e.Named.Name + "' is given twice");
      }
    }
    parent.Children.push_back(row);
    e.Named.Path = parent.Named.Path + "/" + e.Named.Name;
    e.Named.Depth = parent.Named.Depth + 1;
    std::copy(std::begin(parent.Named.Order), std::end(parent.Named.Order), e.Named.Order);
    e.Named.Order[e.Named.Depth] = static_cast<int>(parent.Children.size());
  }
  const auto inOrder = [&](const auto& self, int row) -> void {
    mChartOrder.push_back(row);
    for (int child : Children(row)) self(self, child);
  };
  for (int root : mUpper) inOrder(inOrder, root);
  for (int root : mLower) inOrder(inOrder, root);
  if (mPattern.Rows.empty()) return;
  for (int row = 0; row < RowCount(); ++row) {
    if (!Row(row).Place.Parent && std::strcmp(Row(row).Name, mPattern.Parent) == 0) {
      mCharacterParent = row;
    }
  }
  if (mCharacterParent < 0) Refuse("the characters' parent is no root");
  // The characters follow their parent's own children.
  mCharacterRank = static_cast<int>(Children(mCharacterParent).size());
}

std::span<const int> CycleCatalogue::Roots(ChartBlock block) const {
  return block == ChartBlock::kUpper ? mUpper : mLower;
}

int CycleCatalogue::RootOfSlot(int slot) const {
  for (int row = 0; row < RowCount(); ++row) {
    if (!Row(row).Place.Parent && Row(row).Place.Slot == slot) return row;
  }
  return -1;
}

std::string CycleCatalogue::CharacterName(int character) const {
  return std::string(CharacterRowAt(0).Name) + std::to_string(character + 1);
}

CapturedCycle CycleCatalogue::NamedCharacter(int character, int part) const {
  const CapturedCycle& parent = Named(mCharacterParent);
  CapturedCycle named;
  named.Name = part == 0 ? CharacterName(character) : CharacterRowAt(part).Name;
  named.Path = parent.Path + "/" + CharacterName(character);
  if (part != 0) named.Path += "/" + named.Name;
  named.Depth = parent.Depth + (part == 0 ? 1 : 2);
  named.Order[0] = parent.Order[0];
  named.Order[1] = mCharacterRank + character + 1;
  named.Order[2] = part;
  named.Cpu = false;
  return named;
}

std::optional<CapturedCycle> CycleCatalogue::Find(std::string_view path, int characters) const {
  for (const Entry& e : mEntries) {
    if (e.Named.Path == path) return e.Named;
  }
  for (int c = 0; c < characters && mCharacterParent >= 0; ++c) {
    for (int part = 0; part < CharacterRowCount(); ++part) {
      CapturedCycle named = NamedCharacter(c, part);
      if (named.Path == path) return named;
    }
  }
  return std::nullopt;
}

CycleTiming CycleCatalogue::Timing(const MeasuredFrame& frame, int row) const {
  const CycleRow& r = Row(row);
  CycleTiming t;
  switch (r.Source.Kind) {
    case kLoop:
      t = frame.Loop(r.Source.By);
      break;
    case kStage:
      t = frame.Stage(r.Source.By);
      break;
    case kChildren: {
      const std::span<const int> children = Children(row);
      if (children.empty()) return t;
      t.Micros = 0.0;
      t.CpuMicros = 0.0;
      for (int child : children) {
        const CycleTiming c = Timing(frame, child);
        if (c.Micros < 0.0) return {};
        t.Micros += c.Micros;
        t.CpuMicros = c.CpuMicros < 0.0 || t.CpuMicros < 0.0 ? -1.0 : t.CpuMicros + c.CpuMicros;
        const TimeSpan span = {c.Parts[0].Start, c.Parts[c.PartCount - 1].End};
        if (child == children.front()) {
          t.Thread = c.Thread;
          t.Parts[0] = span;
        }
        t.Parts[0].Start = std::min(t.Parts[0].Start, span.Start);
        t.Parts[0].End = std::max(t.Parts[0].End, span.End);
      }
      // Its children run with other cycles between them.
      t.PartCount = 1;
      t.Encloses = true;
      break;
    }
  }
  if (!r.Cpu) t.CpuMicros = -1.0;
  return t;
}

CycleTiming CycleCatalogue::CharacterTiming(const MeasuredFrame& frame, int character,
                                            int part) const {
  const CharacterTimings& c = frame.Characters[static_cast<std::size_t>(character)];
  CycleTiming t;
  t.Micros = c.Micros[CharacterRowAt(part).Part];
  t.CpuMicros = -1.0;
  t.Thread = c.Thread;
  t.PartCount = 1;
  const TimePoint end = After(c.Start, c.Micros[CharacterRowAt(0).Part]);
  if (part == 0) {
    t.Parts[0] = {c.Start, end};
  } else if (part + 1 == CharacterRowCount()) {
    // The last part ends where the character's evaluation ends, to the
    // nanosecond.
    t.Parts[0] = {After(end, -t.Micros), end};
  } else {
    double before = 0.0;
    for (int p = 1; p < part; ++p) before += c.Micros[CharacterRowAt(p).Part];
    const TimePoint start = After(c.Start, before);
    t.Parts[0] = {start, After(start, t.Micros)};
  }
  return t;
}

}  // namespace khost
