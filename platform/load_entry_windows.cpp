// The load-time entry on Windows: DllMain, which the loader calls on process
// attach and detach and on thread attach and detach. Only process attach
// does anything (see kp::ModuleLoaded). Built into the module only.
#include <windows.h>

#include "platform/runtime.h"

BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
  return kp::ModuleLoaded(reason) ? TRUE : FALSE;
}
