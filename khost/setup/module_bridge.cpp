#include "khost/setup/module_bridge.h"

#include <exception>

#include "host/bcore.h"
#include "host/kdesktop.h"
#include "khost/base/quoting.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kbaselib/registry.h"
#include "standin/ktoolkit/view_tree.h"

namespace khost {

namespace {

// The module's names for its tool and the region that holds its panel.
constexpr const char* kToolFolder = "UI/Tools";
constexpr const char* kToolName = "ProfilingCenter";
constexpr const char* kPanelRegion = "Adaptable";

// Runs a call into the module's code, which may throw anything; a failure
// saying what threw when it does.
template <class Call>
Status CallModule(const std::string& what, Call&& call) {
  try {
    call();
    return {};
  } catch (const std::exception& e) {
    return Failure(what + " threw: " + e.what());
  } catch (...) {
    return Failure(what + " threw something that is not a standard exception");
  }
}

}  // namespace

ModuleBridge::~ModuleBridge() {
  DestroyTool();
  Unload();
}

Status ModuleBridge::Open(const std::string& path) {
  if (Status loaded = mModule.Load(path); !loaded) return loaded;
  bool initialised = false;
  if (Status called = CallModule("LIBRARY_INIT of module " + QuoteArgument(path),
                                 [&] { initialised = mModule.Init(); });
      !called) {
    return called;
  }
  if (Status called = CallModule("EntryPointtoolprofiling of module " + QuoteArgument(path),
                                 [&] {
                                   if (initialised) mModule.Entry(kDllOperationRegister);
                                 });
      !called) {
    return called;
  }
  if (!initialised) {
    return Failure("module " + QuoteArgument(path) +
                   " refused to initialise (LIBRARY_INIT returned false)");
  }

  const KRegisteredClass* tool = Object_Find(kToolFolder, kToolName);
  if (!tool || !tool->Factory) {
    return Failure("module " + QuoteArgument(path) + " registered no \"" + kToolName +
                   "\" under \"" + kToolFolder + "\"");
  }
  if (Status created = CallModule(
          "the module's ProfilingCenter factory",
          [&] { mTool = tool->Factory(nullptr, const_cast<char*>(kToolName), nullptr); });
      !created) {
    return Failure("the ProfilingCenter tool could not be created: " + created.GetError().Message);
  }
  if (!mTool) return Failure("the ProfilingCenter factory returned no tool");
  ITool* itool = KQueryInterface<ITool>(mTool, kIID_ITool);
  mView = KQueryInterface<IKtView>(mTool, kIID_IKtView);
  mLayout = dynamic_cast<KtLayout*>(mTool);
  if (!itool || !mView || !mLayout) return Failure("the ProfilingCenter tool is not a tool window");
  mPanel = dynamic_cast<KtLayout*>(
      dynamic_cast<KtView*>(KtLayout_GetRegionView(*mLayout, kPanelRegion)));
  mSizes = {itool->ToolGetStartWSize(), itool->ToolGetStartHSize(), itool->ToolGetMinWSize(),
            itool->ToolGetMinHSize()};
  return {};
}

void ModuleBridge::RefreshLayout() {
  if (mPanel) {
    mPanel->LayoutRefresh();
  } else if (mLayout) {
    mLayout->LayoutRefresh();
  }
}

void ModuleBridge::DestroyTool() {
  if (!mTool) return;
  mTool->Destroy(0);
  mTool = nullptr;
  mView = nullptr;
  mLayout = nullptr;
  mPanel = nullptr;
}

void ModuleBridge::Unload() {
  // The registry holds the module's factory: forget it before the code goes.
  if (mModule.IsLoaded()) {
    Object_ClearRegistry();
    mModule.Unload();
  }
}

}  // namespace khost
