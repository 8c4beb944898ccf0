#include "khost/app/module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace khost {

namespace {

// The entry point is exported with C++ linkage: its name carries its
// parameter type.
constexpr const char* kEntrySymbol = "_Z23EntryPointtoolprofiling13kDllOperation";
constexpr const char* kInitSymbol = "LIBRARY_INIT";

}  // namespace

LoadedModule::~LoadedModule() {
  Unload();
}

bool LoadedModule::Load(const std::string& path, std::string& error) {
  Unload();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    error = "module not found: " + path;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "module is not a file: " + path;
    return false;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = "cannot load module " + path + ": " + (reason ? reason : "unknown reason");
    return false;
  }
  void* entry = dlsym(handle, kEntrySymbol);
  void* init = dlsym(handle, kInitSymbol);
  if (!entry || !init) {
    std::string missing;
    if (!entry) missing = "EntryPointtoolprofiling(kDllOperation)";
    if (!init) missing += std::string(missing.empty() ? "" : " and ") + "LIBRARY_INIT()";
    error = "module " + path + " does not export " + missing;
    dlclose(handle);
    return false;
  }
  mHandle = handle;
  mEntry = reinterpret_cast<void (*)(kDllOperation)>(entry);
  mInit = reinterpret_cast<bool (*)()>(init);
  return true;
}

bool LoadedModule::Init() {
  return mInit ? mInit() : false;
}

void LoadedModule::Entry(kDllOperation operation) {
  if (mEntry) mEntry(operation);
}

void LoadedModule::Unload() {
  if (!mHandle) return;
  dlclose(mHandle);
  mHandle = nullptr;
  mEntry = nullptr;
  mInit = nullptr;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace khost
