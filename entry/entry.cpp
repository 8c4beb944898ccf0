// The module's front door: its two exports, the load-time entry and the
// registration of the profiling tool class with the host's object registry.
#include "host/kbaselib.h"
#include "platform/runtime.h"
#include "tool/profiling_tool.h"

#if defined(_WIN32)
#define KP_EXPORT __declspec(dllexport)
#else
#define KP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Reasons the load-time entry is called with (the operating system's values).
constexpr unsigned long kReasonProcessAttach = 1;

// The factory handed to the registry: a new, independent window each call,
// whatever the arguments. A window whose construction fails is never handed
// out: its constructor ends what it built and the memory is released.
IObject* CreateProfilingTool(IObject* /*parent*/, char* /*name*/, void* /*data*/) {
  KtProfiling* tool = new KtProfiling();
  return tool->IQuery(kIID_IObject, 0);
}

void RegisterProfilingTool() {
  Object_Register(const_cast<char*>("UI/Tools"), const_cast<char*>("ProfilingCenter"),
                  const_cast<char*>("ProfilingCenter Tool"), &CreateProfilingTool, false,
                  const_cast<char*>("kapp/kapp-video.png"), nullptr);
  Object_Register(const_cast<char*>("UI/Browsing"), const_cast<char*>("ProfilingCenter"),
                  const_cast<char*>("ProfilingCenter Tool"), &CreateProfilingTool, false,
                  const_cast<char*>("kapp/kapp-generic.png"), nullptr);
}

}  // namespace

// The load-time entry's work (the platform's loader hook calls it):
// registers on process attach, ignores every other reason, and never makes
// loading fail. It runs inside the loader, where an escaping exception would
// end the host, so a failed registration is dropped like a refused one.
int kp::ModuleLoaded(unsigned long reason) {
  if (reason == kReasonProcessAttach) {
    try {
      RegisterProfilingTool();
    } catch (...) {
    }
  }
  return 1;
}

KP_EXPORT void EntryPointtoolprofiling(kDllOperation operation) {
  if (operation == kDllOperationRegister) RegisterProfilingTool();
}

extern "C" KP_EXPORT bool LIBRARY_INIT() {
  return true;
}
