#include "tool/profiling_tool.h"

#include "settings/tool_optimization_layout.h"

KtProfiling::KtProfiling() : KTool(), TabPanel(1), OptimizationLayout(new ToolOptimizationLayout) {
  try {
    BuildLayout();
  } catch (...) {
    // The panel is not a member: end it here, before the tab strip and the
    // tool end by themselves.
    ClearControl("Adaptable");
    OptimizationLayout->Destroy(0);
    OptimizationLayout = nullptr;
    throw;
  }
}

KtProfiling::~KtProfiling() {
  ClearControl("Adaptable");
  OptimizationLayout->Destroy(0);
}

void KtProfiling::BuildLayout() {
  StartWSize = 800;
  StartHSize = 420;

  TabPanel.Items = "ProfilingCenter";

  AddRegion("TabPanel", "", 6, kLayoutAttachLeft, nullptr, 1.0f, 6, kLayoutAttachTop, nullptr, 1.0f,
            -6, kLayoutAttachRight, nullptr, 1.0f, 25, kLayoutAttachNone, nullptr, 1.0f);
  AddRegion("Adaptable", "", 6, kLayoutAttachLeft, nullptr, 1.0f, 6, kLayoutAttachBottom,
            "TabPanel", 1.0f, -6, kLayoutAttachRight, nullptr, 1.0f, -1, kLayoutAttachBottom,
            nullptr, 1.0f);

  SetControl("TabPanel", TabPanel);
  SetControl("Adaptable", *OptimizationLayout);
}
