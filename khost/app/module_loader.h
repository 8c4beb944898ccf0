// Loads an extension module with the platform loader and reaches its two
// entry points.
#pragma once

#include <string>

#include "host/kbaselib.h"

namespace khost {

class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();  // unloads
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // Loads `path` (the module registers its classes while it loads) and looks
  // up both entry points. False, with a message naming the path and what is
  // missing in `error`, when the file cannot be loaded or lacks an entry
  // point (the module is then unloaded again).
  bool Load(const std::string& path, std::string& error);
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

// The folder of the running executable ("" when it cannot be found).
std::string ExecutableFolder();

}  // namespace khost
