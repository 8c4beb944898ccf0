// bcore: the host's evaluation engine settings.
//
// Sections: evaluation manager. Notes on operations: [thread; ownership]
// (see host/kbaselib.h).
//
// Threads: the properties are for the user-interface thread; the engine reads
// their values at the start of each frame.
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Evaluation manager
//-----------------------------------------------------------------------------

class KHOST_API KEvaluateManager {
 public:
  static KEvaluateManager* TheOne();  // [any; returns borrowed]

 private:
  bool mParallelPipeline = false;
  bool mParallelDeformation = false;

 public:
  // Overlap evaluation of the next frame with rendering of this one.
  KPropertyNoValueTemplate<bool> ParallelPipeline;
  // Evaluation mode: 0 serial, 1 parallel (named values "Serial~Parallel").
  KPropertyTemplate<int> ParallelEvaluation;
  // Deform on several threads.
  KPropertyNoValueTemplate<bool> ParallelDeformation;
  // Number of nodes in the evaluated scene.
  KPropertyTemplate<int> NodeCount;
  // Evaluations per displayed frame divide the fixed 60 Hz reference; read as
  // a signed value, below 1 means undivided.
  unsigned int EvaluationRateDivisor = 1;

 private:
  KEvaluateManager();  // [ui; -]
  ~KEvaluateManager();
};
