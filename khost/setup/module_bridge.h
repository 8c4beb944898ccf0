// The bridge to the profiling module: the one place that knows the module's
// shape. It loads and registers the module, creates its ProfilingCenter
// tool window and finds the panel inside it; it ends the tool and unloads
// the module again.
#pragma once

#include <string>

#include "host/kbaselib.h"
#include "host/ktoolkit.h"
#include "khost/base/status.h"
#include "khost/setup/module_loader.h"

namespace khost {

// What the tool window says of its size.
struct ToolSizes {
  int StartWidth = 0;
  int StartHeight = 0;
  int MinWidth = 0;
  int MinHeight = 0;
};

class ModuleBridge {
 public:
  ModuleBridge() = default;
  ~ModuleBridge();  // ends the tool, then unloads
  ModuleBridge(const ModuleBridge&) = delete;
  ModuleBridge& operator=(const ModuleBridge&) = delete;

  // Loads the module at `path`, lets it initialise and register, and
  // creates its tool window. Fails, naming the module and the step, when
  // any of that fails or throws, or the tool is not a tool window.
  Status Open(const std::string& path);

  // What the tool says of its size.
  const ToolSizes& Sizes() const { return mSizes; }
  // The tool window, as the view to show and as the layout scripted input
  // searches.
  IKtView& View() const { return *mView; }
  KtLayout& Layout() const { return *mLayout; }

  // Lets the tool lay out its content for a paint: the panel, or the whole
  // window when it has no panel.
  void RefreshLayout();

  // Ends the tool window the way a host does (the GL context current).
  void DestroyTool();
  // Forgets the module's registrations, then unloads its code.
  void Unload();

 private:
  LoadedModule mModule;
  IObject* mTool = nullptr;  // interface 0 of the tool window
  IKtView* mView = nullptr;
  KtLayout* mLayout = nullptr;
  KtLayout* mPanel = nullptr;
  ToolSizes mSizes;
};

}  // namespace khost
