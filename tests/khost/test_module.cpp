// Broken modules for khost's loader tests, built from this one source:
//   - KP_TEST_MODULE_THROWING exports both entry points; what throws is
//     chosen by KHOST_TEST_THROW: "init", "entry" (an int, not an
//     exception), "factory" or "tool" (a standard exception from the
//     factory);
//   - otherwise the module registers a factory while it loads but exports
//     only LIBRARY_INIT, so a host refuses it.
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/kbaselib.h"

#define KP_TEST_EXPORT __attribute__((visibility("default")))

namespace {

bool Throws(const char* what) {
  const char* chosen = std::getenv("KHOST_TEST_THROW");
  return chosen && std::strcmp(chosen, what) == 0;
}

IObject* Factory(IObject*, char*, void*) {
  if (Throws("factory")) throw 7;
  throw std::runtime_error("the tool's constructor failed");
}

void Register() {
  Object_Register(const_cast<char*>("UI/Tools"), const_cast<char*>("ProfilingCenter"),
                  const_cast<char*>("Broken Tool"), Factory, false, const_cast<char*>(""), nullptr);
}

#ifndef KP_TEST_MODULE_THROWING
const bool gRegisteredAtLoad = (Register(), true);
#endif

}  // namespace

#ifdef KP_TEST_MODULE_THROWING
KP_TEST_EXPORT void EntryPointtoolprofiling(kDllOperation operation) {
  if (Throws("entry")) throw 42;
  if (operation == kDllOperationRegister) Register();
}
#endif

extern "C" KP_TEST_EXPORT bool LIBRARY_INIT() {
  if (Throws("init")) throw std::bad_alloc();
  return true;
}
