// The profiling tool window: a tab strip with one "ProfilingCenter" tab above
// the optimization settings panel.
#pragma once

#include "host/kdesktop.h"
#include "host/ktoolkit.h"

class ToolOptimizationLayout;

class KtProfiling : public KTool {
 public:
  // Builds the tab strip, creates the settings panel and places both. A
  // failure part-way ends what was built and propagates.
  KtProfiling();
  // Empties the "Adaptable" region, destroys the panel, then the tab strip
  // and the tool end.
  ~KtProfiling() override;

  KtTabPanel TabPanel;
  // The settings panel: owned, on the heap, never null after construction.
  ToolOptimizationLayout* OptimizationLayout;

 private:
  void BuildLayout();
};
