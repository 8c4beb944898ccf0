// Module code that reaches for a stand-in header. Built with the module's
// include path it must not compile: the module sees only the contract.
#include "display/profiling_draw_view.h"
#include "standin/ktoolkit/viewhost.h"

int ProbeViewHostSize() {
  return static_cast<int>(sizeof(KtViewHost));
}
