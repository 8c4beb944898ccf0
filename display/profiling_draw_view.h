// KtProfilingDrawView: the view the profiling data is drawn in. It paints the
// statistics header and, below it, the task-cycle chart it carries as a
// KTaskCycleOverlay, and owns a vertical scroll bar at its right edge with
// which the user scrolls a chart taller than the view.
//
// The settings panel holds one as a member: Destroy does nothing, the
// panel's destruction ends it.
#pragma once

#include "display/task_cycle_overlay.h"
#include "host/kbaselib.h"
#include "host/ktoolkit.h"

class KtProfilingDrawView : public KtView, public IKtScrollBarDriven, public KTaskCycleOverlay {
 public:
  // The scroll bar's event the view subscribes to (with a handler that does
  // nothing), at the highest priority.
  static constexpr int kScrollBarEventId = 556677123;

  KtProfilingDrawView();
  ~KtProfilingDrawView() override;
  KtProfilingDrawView(const KtProfilingDrawView&) = delete;
  KtProfilingDrawView& operator=(const KtProfilingDrawView&) = delete;

  // One implementation for every interface of the view: 0 and 2 the view,
  // 100190 its IKtView, 100255 its IKtScrollBarDriven, anything else null.
  IObject* IQuery(unsigned long interfaceId, int reserved) override;
  void Destroy(int flags) override;  // does nothing

  // IKtView
  void GetGraphicType(int& type, bool& flag) override;  // 0, true
  void ViewExpose(IKtGeometry* geometry) override;      // statistics_header.cpp
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;
  void Attach(IKtViewContainer* container, IKtGraphic* graphic) override;
  void Detach(IKtViewContainer* container) override;

  // IKtScrollBarDriven
  void ScrollNotify(int code) override;
  void ScrollValueChanged(float start) override;

  // KTaskCycleOverlay
  void ChartHeightChanged() override;

  // Places the bar along the right edge below the header, then fits its range.
  void LayoutScrollBar();
  // Fits the scroll range to the chart and clamps ScrollPosition to it.
  void UpdateScrollRange();

  KtScrollBar* GetScrollBar() const { return ScrollBar; }
  int GetScrollPosition() const { return ScrollPosition; }

 private:
  void OnScrollBarEvent(IRegister* sender, KEventBase* event);
  // Everything the expose draws, between its opening and its closing
  // (statistics_header.cpp).
  void Paint(bool layoutAgain);

  KtScrollBar* ScrollBar = nullptr;
  int ScrollPosition = 0;
};
