// Module code that writes tool sizes beyond the start size and names root
// cycle slots through the contract. Built with the module's include path it
// must not compile: the contract's tool base holds only the start size, and
// the contract knows the root cycle table by slot numbers alone.
#include "host/kbaselib.h"
#include "host/kdesktop.h"

class ProbeTool : public KTool {
 public:
  ProbeTool() {
    StartWSize = 800;
    StartHSize = 420;
    DrawingMinWSize = 522;
    DrawingMinHSize = 105;
    MinWSize = 200;
    MinHSize = 150;
  }
};

KProfilingSampling* ProbeFrameSlot() {
  return KProfiler::TheOne()->RootCycles[kSlotFrame];
}
