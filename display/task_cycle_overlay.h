// KTaskCycleOverlay: the geometry and selection of the task-cycle bar chart,
// and the chart's drawing operations.
//
// The drawing view inherits it, sets its working values and overrides the
// destructor and ChartHeightChanged. Everything else reaches the overlay only
// through its virtual operations; the chart drawing itself reads the geometry
// back through the getters, so an override of a getter applies to the chart.
#pragma once

#include "host/kbaselib.h"
#include "host/ktoolkit.h"

class KTaskCycleOverlay {
 public:
  // Children deeper than this below a top-level row are not drawn. Ordinary
  // task trees are a handful of levels deep; the bound only stops a
  // pathological (or, through a host bug, cyclic) tree from exhausting the
  // stack. A row at this depth is still drawn, its children are not.
  static constexpr int kMaxChildDepth = 256;
  // Rows drawn below one top-level row, the top-level row included, at most.
  // A tree shares no cycle between parents and stays far below this; a host
  // whose child lists join again (the same cycle under several parents,
  // level after level) would otherwise multiply its rows at every level.
  static constexpr int kMaxRowsPerTopLevelRow = 65536;
  // Child indices looked at below one top-level row, at most: a child count
  // far beyond the children a cycle has costs no more than this.
  static constexpr int kMaxChildIndicesPerTopLevelRow = 1 << 20;

  KTaskCycleOverlay() = default;
  KTaskCycleOverlay(const KTaskCycleOverlay&) = default;
  KTaskCycleOverlay& operator=(const KTaskCycleOverlay&) = default;

  // Virtual operations, in slot order.
  virtual ~KTaskCycleOverlay();
  virtual int GetLeft();
  virtual int GetTop();
  virtual int GetBarScale();
  virtual int GetRowHeight();
  virtual void SetLeft(int value);
  virtual void SetTop(int value);
  virtual void SetMinBarScale(int value);
  virtual void SetMinRowHeight(int value);
  // Stores the larger of MinBarScale and value; returns what it stored.
  virtual int SetBarScale(int value);
  // Stores the larger of MinRowHeight and value; returns what it stored.
  virtual int SetRowHeight(int value);
  // Draws the whole chart and updates ChartHeight (task_cycle_chart.cpp).
  virtual void DrawChart(IKtGraphic* graphic, int evaluationRateDivisor);
  // Null selects the full chart.
  virtual void SetSelectedCycle(KProfilingSampling* cycle);
  virtual int GetChartHeight();
  // Called by DrawChart before it stores a new height; does nothing here.
  virtual void ChartHeightChanged();
  // Draws one cycle's row at *cursor, advances *cursor by rowHeight, then
  // draws the cycle's children (task_cycle_chart.cpp).
  virtual void DrawCycle(IKtGraphic* graphic, int left, int* cursor, int rowHeight,
                         KProfilingSampling* cycle, double referencePeriod, int depth);

 protected:
  int MinBarScale = 0;
  int MinRowHeight = 0;
  int BarScale = 0;
  int RowHeight = 0;
  int Left = 0;
  int Top = 0;
  int ChartHeight = 200;
  KProfilingSampling* SelectedCycle = nullptr;

 private:
  class DrawPathEntry;  // task_cycle_chart.cpp

  // The walk's state, reset by DrawChart before every draw. While DrawCycle
  // visits a row's children: the cycles from the top-level row down to that
  // row. A child already on this path is not drawn again, so a cycle in the
  // child lists ends there instead of repeating to the depth bound. Fixed
  // size, so drawing allocates nothing.
  KProfilingSampling* DrawPath[kMaxChildDepth] = {};
  int DrawPathLength = 0;
  int RowsLeft = 0;  // of the current top-level row's budgets
  int ChildIndicesLeft = 0;
};
