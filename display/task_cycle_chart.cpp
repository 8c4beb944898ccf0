// The task-cycle bar chart: DrawChart lays out the two blocks of rows and
// their separators, DrawCycle draws one row and, when the profiler's
// evaluation depth asks for it, the rows of the cycle's descendants.
//
// Coordinates are computed in 32-bit integers (saturating, see pixel_math.h)
// and converted to floating point at each drawing call.
#include <GL/gl.h>

#include <climits>
#include <cstdint>

#include "display/pixel_math.h"
#include "display/root_cycle_slots.h"
#include "display/row_label.h"
#include "display/task_cycle_overlay.h"

namespace {

using kp_display::kDevicesSlot;
using kp_display::kLowerBlockSlots;
using kp_display::kUpperFirstSlot;
using kp_display::kUpperSecondSlot;
using kp_display::Saturate;
using kp_display::TruncToInt;

constexpr double kFixedReferencePeriod = 16666.666666666668;  // 1/60 s in microseconds
constexpr int kLabelSize = 200;

// A grey line segment from (x0, y0) to (x1, y1).
void DrawGreyLine(IKtGraphic* graphic, double x0, double y0, double x1, double y1) {
  graphic->BeginPrimitive(kPrimitiveLines);
  glColor3d(0.8, 0.8, 0.8);
  glVertex2d(x0, y0);
  glVertex2d(x1, y1);
  graphic->EndPrimitive();
}

// The separator below a block of rows whose cursor ends at y.
void DrawBlockSeparator(IKtGraphic* graphic, int left, int scale, int y) {
  const double lineY = Saturate(static_cast<int64_t>(y) + 2);
  DrawGreyLine(graphic, Saturate(static_cast<int64_t>(left) - 10), lineY, scale * 3.5 + left,
               lineY);
}

double AverageOrZero(KProfilingSampling* sampling) {
  return sampling ? static_cast<double>(sampling->GetAvgUsage()) : 0.0;
}

// A label cut at the buffer's end must not end inside a multi-byte UTF-8
// character: drop the trailing partial character.
void TrimPartialCharacter(char* text, int length) {
  int end = length;
  int start = end;
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return;
  const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
  if (lead < 0xC0) return;  // plain ASCII before the continuation bytes (or none)
  const int needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (end - (start - 1) < needed) text[start - 1] = '\0';
}

// Holds a sampling's statistics still for as long as it lives: QueryAcquire
// on construction, QueryRelease on every way out.
class QueryBracket {
 public:
  explicit QueryBracket(KProfilingSampling* cycle) : mCycle(cycle) { mCycle->QueryAcquire(); }
  ~QueryBracket() { mCycle->QueryRelease(); }
  QueryBracket(const QueryBracket&) = delete;
  QueryBracket& operator=(const QueryBracket&) = delete;

 private:
  KProfilingSampling* mCycle;
};

}  // namespace

// Puts a cycle on the draw path for as long as its children are drawn and
// takes it off on every way out, a host call that throws included.
class KTaskCycleOverlay::DrawPathEntry {
 public:
  DrawPathEntry(KTaskCycleOverlay& overlay, KProfilingSampling* cycle) : mOverlay(overlay) {
    mOverlay.DrawPath[mOverlay.DrawPathLength++] = cycle;
  }
  ~DrawPathEntry() { --mOverlay.DrawPathLength; }
  DrawPathEntry(const DrawPathEntry&) = delete;
  DrawPathEntry& operator=(const DrawPathEntry&) = delete;

 private:
  KTaskCycleOverlay& mOverlay;
};

void KTaskCycleOverlay::DrawChart(IKtGraphic* graphic, int evaluationRateDivisor) {
  // Every draw starts its walk afresh: nothing an earlier, interrupted draw
  // left behind can hide rows.
  DrawPathLength = 0;
  RowsLeft = 0;
  ChildIndicesLeft = 0;

  const int left = GetLeft();
  int y = GetTop();
  const int rowHeight = GetRowHeight();
  const int scale = GetBarScale();

  DrawGreyLine(graphic, Saturate(static_cast<int64_t>(left) - 10), y, scale * 5.5 + left, y);

  // Upper block: slots 1 and 2, both against slot 1's average.
  const double upperReference = AverageOrZero(KProfiler::TheOne()->RootCycles[kUpperFirstSlot]);
  y = Saturate(static_cast<int64_t>(y) + 5);
  DrawCycle(graphic, left, &y, rowHeight, KProfiler::TheOne()->RootCycles[kUpperFirstSlot],
            upperReference, 0);
  DrawCycle(graphic, left, &y, rowHeight, KProfiler::TheOne()->RootCycles[kUpperSecondSlot],
            upperReference, 0);
  DrawBlockSeparator(graphic, left, scale, y);
  y = Saturate(static_cast<int64_t>(y) + 5);

  // Lower block: against the devices cycle in percent mode, otherwise
  // against the fixed period divided by the evaluation rate divisor.
  double lowerReference;
  if (KProfiler::TheOne()->FrameReference) {
    lowerReference = AverageOrZero(KProfiler::TheOne()->RootCycles[kDevicesSlot]);
  } else {
    lowerReference = kFixedReferencePeriod;
    if (evaluationRateDivisor >= 1) lowerReference /= static_cast<double>(evaluationRateDivisor);
  }

  if (SelectedCycle != nullptr) {
    DrawCycle(graphic, left, &y, rowHeight, SelectedCycle, lowerReference, 0);
  } else {
    for (int slot : kLowerBlockSlots) {
      DrawCycle(graphic, left, &y, rowHeight, KProfiler::TheOne()->RootCycles[slot], lowerReference,
                0);
    }
  }
  DrawBlockSeparator(graphic, left, scale, y);

  // The zero line of every bar.
  graphic->BeginPrimitive(kPrimitiveLines);
  glColor3d(0.8, 0.8, 0.8);
  const double zeroX0 = Saturate(static_cast<int64_t>(GetLeft()) + 2 * static_cast<int64_t>(scale));
  const double zeroTop = GetTop();
  glVertex2d(zeroX0, zeroTop);
  const double zeroX1 = Saturate(static_cast<int64_t>(GetLeft()) + 2 * static_cast<int64_t>(scale));
  glVertex2d(zeroX1, Saturate(static_cast<int64_t>(y) + 7));
  graphic->EndPrimitive();

  // The hook compares the stored height with the final cursor itself and runs
  // before the new height is stored, so the view's scroll range follows the
  // chart one draw later.
  if (ChartHeight != y) {
    ChartHeightChanged();
    ChartHeight = Saturate(static_cast<int64_t>(y) - GetTop());
  }
}

void KTaskCycleOverlay::DrawCycle(IKtGraphic* graphic, int left, int* cursor, int rowHeight,
                                  KProfilingSampling* cycle, double referencePeriod, int depth) {
  if (cycle == nullptr) return;
  if (DrawPathLength == 0) {
    RowsLeft = kMaxRowsPerTopLevelRow;
    ChildIndicesLeft = kMaxChildIndicesPerTopLevelRow;
  } else {
    for (int i = 0; i < DrawPathLength; ++i) {
      if (DrawPath[i] == cycle) return;  // a cycle in the child lists
    }
  }
  if (RowsLeft <= 0) return;
  const int64_t y = *cursor;

  double average = 0.0;
  double minimum = 0.0;
  double maximum = 0.0;
  {
    const QueryBracket bracket(cycle);
    cycle->GetAvgMinMaxUsage(average, minimum, maximum);
  }

  const double averageMs = average / 1000.0;
  const double minimumShare = minimum / referencePeriod;
  const double averageShare = average / referencePeriod;
  const double maximumShare = maximum / referencePeriod;

  // A child that used nothing is left out with its descendants. NaN (a zero
  // usage of a zero reference) does not compare as "0 or less".
  if (depth != 0 && averageShare <= 0.0) return;
  --RowsLeft;

  // A reference of zero (the devices cycle before its first sample) makes
  // every share infinite or not a number: such rows get zero-length bars and
  // 0 in their percentages instead of saturated lengths across the view.
  const bool noReference = referencePeriod == 0.0;
  const double shownMinimum = noReference ? 0.0 : minimumShare;
  const double shownAverage = noReference ? 0.0 : averageShare;
  const double shownMaximum = noReference ? 0.0 : maximumShare;

  const int64_t averageW = TruncToInt(GetBarScale() * shownAverage);
  const int64_t minimumW = TruncToInt(GetBarScale() * shownMinimum);
  const int64_t maximumW = TruncToInt(GetBarScale() * shownMaximum);
  const int64_t zeroX = static_cast<int64_t>(left) + 2 * static_cast<int64_t>(GetBarScale());

  const float* color = cycle->GetColor();
  const float red = color[0];
  const float green = color[1];
  const float blue = color[2];
  glColor3f(red, green, blue);
  graphic->DrawRectangle(static_cast<float>(Saturate(zeroX)), static_cast<float>(Saturate(y)),
                         static_cast<float>(Saturate(zeroX + averageW)),
                         static_cast<float>(Saturate(y + rowHeight)));

  glColor3f(static_cast<float>(red * 0.5), static_cast<float>(green * 0.5),
            static_cast<float>(blue * 0.5));
  const int third = rowHeight / 3;
  graphic->DrawRectangle(static_cast<float>(Saturate(zeroX + minimumW)),
                         static_cast<float>(Saturate(y + third)),
                         static_cast<float>(Saturate(zeroX + maximumW)),
                         static_cast<float>(Saturate(y + rowHeight - third)));

  glColor3f(1.0f, 1.0f, 1.0f);

  // The name is read no further than the buffer can hold, so a very long
  // name costs no more than a short one; the label is the same.
  char label[kLabelSize];
  int length;
  if (KProfiler::TheOne()->FrameReference) {
    length = kp_display::FormatPercentLabel(
        label, kLabelSize, cycle->GetName(), kLabelSize - 1, TruncToInt(shownAverage * 100),
        TruncToInt(shownMinimum * 100), TruncToInt(shownMaximum * 100));
  } else {
    length = kp_display::FormatMillisecondLabel(label, kLabelSize, cycle->GetName(), kLabelSize - 1,
                                                averageMs);
  }
  if (length < 0) {
    label[0] = '\0';
  } else if (length >= kLabelSize) {
    TrimPartialCharacter(label, kLabelSize - 1);
  }

  graphic->DrawString(label, static_cast<float>(Saturate(left + 3 * static_cast<int64_t>(depth))),
                      static_cast<float>(Saturate(y + rowHeight / 2)), INT_MIN, INT_MAX, -1);

  *cursor = Saturate(static_cast<int64_t>(*cursor) + rowHeight);

  if (KProfiler::TheOne()->EvaluationDepth == 0) return;
  if (depth >= kMaxChildDepth || DrawPathLength >= kMaxChildDepth) return;
  const int count = cycle->GetChildCount(1);
  const DrawPathEntry onPath(*this, cycle);
  for (int index = 0; index < count && RowsLeft > 0 && ChildIndicesLeft > 0; ++index) {
    --ChildIndicesLeft;
    if (cycle->HasChild(1, index)) {
      DrawCycle(graphic, left, cursor, rowHeight, cycle->GetChild(1, index), referencePeriod,
                depth + 1);
    }
  }
}
