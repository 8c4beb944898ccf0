// Loads an extension module with the platform loader and reaches its two
// entry points.
#pragma once

#include <string>

#include "host/kbaselib.h"
#include "khost/base/status.h"

namespace khost {

class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();  // unloads
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // Loads `path` (the module registers its classes while it loads) and looks
  // up both entry points. A failure names the path and what is missing when
  // the file cannot be loaded or lacks an entry point (the module is then
  // unloaded again).
  Status Load(const std::string& path);
  bool IsLoaded() const { return mHandle != nullptr; }

  // LIBRARY_INIT(): the module's go-ahead.
  bool Init();
  // EntryPointtoolprofiling(operation).
  void Entry(kDllOperation operation);

  void Unload();

 private:
  void* mHandle = nullptr;
  void (*mEntry)(kDllOperation) = nullptr;
  bool (*mInit)() = nullptr;
};

}  // namespace khost
