// The optimization settings panel of the profiling tool window: ten property
// editors bound to the host's engine and profiler settings, a selector of the
// task cycles the chart shows, a "Reset To Default" button and the drawing
// view, laid out in named regions.
#pragma once

#include <array>

#include "display/profiling_draw_view.h"
#include "host/kbaselib.h"
#include "host/kcontrols.h"
#include "host/ktoolkit.h"

class ToolOptimizationLayout : public KtLayout {
 public:
  // Builds the controls, binds the editors, lays out the regions and
  // subscribes the handlers. A failure at any step undoes the steps already
  // made and propagates.
  ToolOptimizationLayout();
  // Detaches the editors, unsubscribes the handlers, then the members end in
  // reverse order of declaration.
  ~ToolOptimizationLayout() override;

  // Members in construction order.
  KtProperty FrustumCullingEditor;
  KtProperty ParallelPipelineEditor;
  KtProperty ParallelEvaluationEditor;
  KtProperty ParallelDeformationEditor;
  KtProperty GPUSkinningEditor;
  KtProperty NodeCountEditor;
  KtProperty ProfilingModeEditor;
  KtProperty EvaluationDepthEditor;
  KtProperty BufferSizeEditor;
  KtProperty FrameReferenceEditor;
  KtStatic DisplayLabel;
  KtList DisplayList;
  KtButton ResetButton;
  KtProfilingDrawView DrawView;

 private:
  // The ten editors in member order.
  std::array<KtProperty*, 10> Editors();
  void BindEditors();
  void DetachEditors();
  void BuildLayout();

  // Event subscriptions (panel_actions.cpp).
  void AddEventHandlers();
  void RemoveEventHandlers();
  // The panel's layout event: repaint the drawing view.
  void OnLayoutRefreshEvent(IRegister* sender, KEventBase* event);
  // The display selector changed: choose the root cycle the chart shows.
  void OnDisplayListChange(IRegister* sender, KEventBase* event);
  // "Reset To Default": reload nine settings from the configuration files.
  void OnResetToDefaultClick(IRegister* sender, KEventBase* event);
};
