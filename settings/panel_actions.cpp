// The settings panel's event handlers: the layout event repaints the drawing
// view, the display selector chooses the charted cycle, and the reset button
// reloads nine settings from the host's configuration files.
#include <cstring>

#include "display/root_cycle_slots.h"
#include "host/bcore.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "platform/runtime.h"
#include "settings/tool_optimization_layout.h"

namespace {

// "Yes" in any mix of case.
bool IsYes(const char* text) {
  return kp::EqualsIgnoringCase(text, "Yes");
}

// Parallel unless the text is "Serial" in any mix of case.
bool IsParallel(const char* text) {
  return !kp::EqualsIgnoringCase(text, "Serial");
}

}  // namespace

void ToolOptimizationLayout::AddEventHandlers() {
  LayoutRefreshEvent.Add(this, KCALLBACK_HANDLER(ToolOptimizationLayout::OnLayoutRefreshEvent));
  DisplayList.OnChange.Add(this, KCALLBACK_HANDLER(ToolOptimizationLayout::OnDisplayListChange));
  ResetButton.OnClick.Add(this, KCALLBACK_HANDLER(ToolOptimizationLayout::OnResetToDefaultClick));
}

void ToolOptimizationLayout::RemoveEventHandlers() {
  LayoutRefreshEvent.Remove(this, KCALLBACK_HANDLER(ToolOptimizationLayout::OnLayoutRefreshEvent));
  DisplayList.OnChange.Remove(this, KCALLBACK_HANDLER(ToolOptimizationLayout::OnDisplayListChange));
  ResetButton.OnClick.Remove(this,
                             KCALLBACK_HANDLER(ToolOptimizationLayout::OnResetToDefaultClick));
}

void ToolOptimizationLayout::OnLayoutRefreshEvent(IRegister*, KEventBase*) {
  static_cast<IKtView&>(DrawView).ViewRefresh(false);
}

void ToolOptimizationLayout::OnDisplayListChange(IRegister*, KEventBase*) {
  const int index = DisplayList.SelectedIndex;
  KProfilingSampling* const* roots = KProfiler::TheOne()->RootCycles;
  KProfilingSampling* cycle = nullptr;
  switch (index) {
    case 1:
      cycle = roots[kp_display::kEvaluationSlot];
      break;
    case 2:
      cycle = roots[kp_display::kRenderingSlot];
      break;
    case 3:
      cycle = roots[kp_display::kDevicesSlot];
      break;
    default:
      break;  // DisplayAll, or an index the list does not offer: the full chart
  }
  static_cast<KTaskCycleOverlay&>(DrawView).SetSelectedCycle(cycle);
}

void ToolOptimizationLayout::OnResetToDefaultClick(IRegister*, KEventBase*) {
  // Declared in this order so that the task file closes first, also when a
  // write below throws.
  KConfigFile application("@Application.txt", false);
  KConfigFile task("@Task.txt", false);

  // This key counts as on only when it reads exactly "Yes".
  const bool frustumCulling =
      std::strcmp(application.Get("Display", "EarlyFrustumCulling", "Yes"), "Yes") == 0;
  KShaders_GetRenderer()->EarlyFrustumCulling = frustumCulling;

  const bool parallelPipeline = IsParallel(task.Get("Evaluation", "Pipeline", "Serial"));
  KEvaluateManager::TheOne()->ParallelPipeline = parallelPipeline;

  int parallelEvaluation = kp::ReadInteger(task.Get("Evaluation", "Evaluation", "0"));
  KEvaluateManager::TheOne()->ParallelEvaluation.SetFromPointer(&parallelEvaluation, 0, 0);

  const bool parallelDeformation = IsParallel(task.Get("Evaluation", "Deformation", "Serial"));
  KEvaluateManager::TheOne()->ParallelDeformation = parallelDeformation;

  const bool gpuSkinDeform = IsYes(application.Get("Display", "UseGPUSkinDeform", "No"));
  KGPGPU_GetGPGPUManager()->GPUSkinDeform = gpuSkinDeform;

  const int bufferSize = kp::ReadInteger(application.Get("Benchmark", "BufferSize", "20"));
  KProfiler::TheOne()->BufferSize = bufferSize;

  // Frame reference and evaluation depth are stored into the profiler's
  // values themselves, not through their properties.
  const bool frameReference = IsYes(application.Get("Benchmark", "FrameReference", "Yes"));
  KProfiler::TheOne()->FrameReference = frameReference;

  const int evaluationDepth = kp::ReadInteger(application.Get("Benchmark", "EvaluationDepth", "0"));
  KProfiler::TheOne()->EvaluationDepth = evaluationDepth;

  int profilingType = kp::ReadInteger(application.Get("Benchmark", "ProfilingType", "1"));
  KProfiler::TheOne()->ProfilingType.SetFromPointer(&profilingType, 0, 0);
}
