// The evaluation engine's settings.

#include "host/bcore.h"

KEvaluateManager* KEvaluateManager::TheOne() {
  // Never destroyed, so that it outlives every user during process exit.
  static KEvaluateManager* manager = new KEvaluateManager;
  return manager;
}

KEvaluateManager::KEvaluateManager()
    : ParallelPipeline("ParallelPipeline", &mParallelPipeline),
      ParallelEvaluation("ParallelEvaluation", 0),
      ParallelDeformation("ParallelDeformation", &mParallelDeformation),
      NodeCount("NodeCount", 0) {
  ParallelEvaluation.SetNamedValues("Serial~Parallel");
  ParallelEvaluation.SetRange(0, 1);
  NodeCount.SetRange(0, 100000);
}

KEvaluateManager::~KEvaluateManager() = default;
