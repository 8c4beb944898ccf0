// The load-time entry on Linux: an ELF constructor, run by the dynamic loader
// when it loads the module, stands in for a process attach. Built into the
// module only.
#include "platform/runtime.h"

__attribute__((constructor)) static void ModuleLoadedByTheLoader() {
  kp::ModuleLoaded(1);
}
