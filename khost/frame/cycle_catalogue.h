// The catalogue of the task cycles khost measures, each fact of a cycle
// written once: its place in the profiler's tree (a root slot, or its
// parent), its name, its colour, its place in the chart's order, what
// measures it and whether it carries a CPU time. The per-character cycles
// are a pattern of rows repeated for every character of the scene.
//
// Everything that names or orders cycles derives from it: the profiler feed
// builds the profiler's tree, the frame capture names the recording's and
// the trace's cycles, the statistics walk the chart's blocks and the tuning
// search knows its targets.
//
// Adding a cycle is one row of the standard table (cycle_catalogue.cpp) and
// the code that measures it (a loop cycle of the frame clock or a stage of
// the workload).
//
// Threads: a catalogue does not change once built. [any thread; -]
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "khost/frame/measured_frame.h"

namespace khost {

struct CycleColour {
  float R = 0.0f;
  float G = 0.0f;
  float B = 0.0f;
};

// The chart's two blocks of root cycles: the upper one (against the first
// of its cycles) and the lower one (against the frame period).
enum class ChartBlock : unsigned char { kUpper, kLower };

// Where a cycle sits in the profiler's tree: a root, in its slot of the
// profiler's table and a block of the chart, or a child of another cycle.
struct CyclePlace {
  int Slot = -1;                          // a root's; -1 for a child
  ChartBlock Block = ChartBlock::kLower;  // a root's
  const char* Parent = nullptr;           // a child's parent, by name
};
constexpr CyclePlace Upper(int slot) {
  return {slot, ChartBlock::kUpper, nullptr};
}
constexpr CyclePlace Lower(int slot) {
  return {slot, ChartBlock::kLower, nullptr};
}
constexpr CyclePlace ChildOf(const char* parent) {
  return {-1, ChartBlock::kLower, parent};
}

// What measures a cycle: a loop cycle of the frame clock, a stage of the
// workload, or (kSumOfChildren) its children, whose times it adds up and
// whose intervals it spans.
enum class MeasuredBy : unsigned char { kLoop, kStage, kChildren };
struct CycleSource {
  MeasuredBy Kind = MeasuredBy::kChildren;
  int By = 0;  // the LoopCycle or WorkStage
  constexpr CycleSource() = default;
  // Implicit on purpose: a cell of the table.
  constexpr CycleSource(LoopCycle cycle) : Kind(MeasuredBy::kLoop), By(cycle) {}   // NOLINT
  constexpr CycleSource(WorkStage stage) : Kind(MeasuredBy::kStage), By(stage) {}  // NOLINT
};
inline constexpr CycleSource kSumOfChildren{};

// One cycle. Rows are in the chart's order: the roots of the upper block,
// then those of the lower block; a parent's children in their order under
// it. A child comes after its parent.
struct CycleRow {
  const char* Name = "";
  CyclePlace Place = {};
  CycleColour Colour = {};
  CycleSource Source = {};
  bool Cpu = true;  // carries a CPU time (false: the steady clock's only)
};

// A row of the per-character pattern. The first row is the character's own
// cycle, named Name followed by the character's number from 1 ("Character
// 3"); the others are its parts, its children, in their order. Steady clock
// only: a character's work is shorter than a read of a CPU clock.
struct CharacterRow {
  const char* Name = "";
  CycleColour Colour;     // of the first, third, ... character
  CycleColour OddColour;  // of the second, fourth, ...: neighbours differ
  int Part = 0;           // the CharacterPart that measures it
};

struct CharacterPattern {
  const char* Parent = nullptr;  // the root cycle the characters go under
  std::span<const CharacterRow> Rows;
};

// A task cycle as the recording, the trace and the comparison name it.
struct CapturedCycle {
  std::string Path;  // from its root, such as "Evaluation/Character 1/Skeleton"
  std::string Name;  // the last part of the path
  int Depth = 0;
  // Sorts cycles in the chart's order: the root's rank there, then the
  // child's and grandchild's positions plus one (0: none).
  int Order[3] = {0, 0, 0};
  bool Cpu = true;  // carries a CPU time
};

class CycleCatalogue {
 public:
  // The cycles khost measures.
  static const CycleCatalogue& Standard();

  // A catalogue of `rows` and `characters` (borrowed: both outlive it).
  // Throws std::invalid_argument when the table does not hold together: a
  // root slot outside the table or given twice, an upper-block root after a
  // lower-block one, a parent that is no earlier row or a character's parent
  // that is no root, a tree deeper than three levels, a name given twice
  // under one parent.
  CycleCatalogue(std::span<const CycleRow> rows, CharacterPattern characters);

  // The table and the pattern it was built from.
  std::span<const CycleRow> Rows() const { return mRows; }
  const CharacterPattern& Characters() const { return mPattern; }
  int RowCount() const { return static_cast<int>(mRows.size()); }
  const CycleRow& Row(int row) const { return mRows[static_cast<std::size_t>(row)]; }
  // The row's parent (-1 for a root) and children, in the chart's order.
  int Parent(int row) const { return mEntries[Index(row)].Parent; }
  std::span<const int> Children(int row) const { return mEntries[Index(row)].Children; }
  const CapturedCycle& Named(int row) const { return mEntries[Index(row)].Named; }
  // The root rows of `block`, in the chart's order.
  std::span<const int> Roots(ChartBlock block) const;
  // Every row in the chart's order: each root, then its descendants.
  std::span<const int> ChartOrder() const { return mChartOrder; }
  // The row of the root in `slot`, or -1.
  int RootOfSlot(int slot) const;

  // The per-character pattern: the row the characters go under, and the
  // rows of each character (0 the character's own, then its parts).
  int CharacterParent() const { return mCharacterParent; }
  int CharacterRowCount() const { return static_cast<int>(mPattern.Rows.size()); }
  const CharacterRow& CharacterRowAt(int part) const {
    return mPattern.Rows[static_cast<std::size_t>(part)];
  }
  // Character `character`'s (from 0) pattern row `part`, named.
  CapturedCycle NamedCharacter(int character, int part) const;
  // The name of character `character`'s own cycle ("Character 1" for 0).
  std::string CharacterName(int character) const;

  // The cycle at `path` in a scene of `characters` characters, or none.
  std::optional<CapturedCycle> Find(std::string_view path, int characters) const;

  // Row `row`'s times in `frame`: what measures it, or its children's sum.
  // A row that carries no CPU time has none (negative).
  CycleTiming Timing(const MeasuredFrame& frame, int row) const;
  // Character `character`'s pattern row `part` in `frame`. The parts lie
  // back to back from the character's start, the last one ending with the
  // character.
  CycleTiming CharacterTiming(const MeasuredFrame& frame, int character, int part) const;

 private:
  struct Entry {
    int Parent = -1;
    std::vector<int> Children;
    CapturedCycle Named;
  };
  static std::size_t Index(int row) { return static_cast<std::size_t>(row); }

  std::span<const CycleRow> mRows;
  CharacterPattern mPattern;
  std::vector<Entry> mEntries;
  std::vector<int> mUpper;
  std::vector<int> mLower;
  std::vector<int> mChartOrder;
  int mCharacterParent = -1;
  int mCharacterRank = 0;  // the characters' first position under their parent
};

}  // namespace khost
