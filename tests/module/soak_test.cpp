// The built module over a long session: the tool window opened through the
// registry's factory, attached, painted and closed again and again. The
// heap in use must not grow with the number of openings; under the asan
// preset LeakSanitizer checks at exit that nothing is left behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>

#include "host/kbaselib.h"
#include "host/ktoolkit.h"
#include "module/module_test_support.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kbaselib/registry.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainHeap = false;  // the sanitizers keep their own heap
#else
constexpr bool kPlainHeap = true;
#endif

// One opening: the factory's window, attached to a window host, painted,
// then closed as the host closes it.
void OpenPaintClose(kptest::FakeGraphic& graphic) {
  IObject* object = Object_Create("UI/Tools", "ProfilingCenter", nullptr, nullptr);
  ASSERT_NE(object, nullptr);
  IKtView* view = KQueryInterface<IKtView>(object, kIID_IKtView);
  ASSERT_NE(view, nullptr);
  {
    KtViewHost host(&graphic);
    host.SetRoot(view, 800, 420);
    host.Expose();
    host.SetRoot(nullptr, 0, 0);
  }
  object->Destroy(0);
}

TEST(ModuleSoak, TenThousandOpeningsDoNotGrowTheHeap) {
  void* module = dlopen(KP_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  KProfilingSampling devices("Devices", 0.2f, 0.4f, 0.8f);
  KProfilingSampling frame("Frame", 0.8f, 0.4f, 0.2f);
  KProfilingSampling_AddSample(devices, 16666.0);
  KProfilingSampling_AddSample(frame, 9000.0);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 0, &devices);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 1, &frame);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 6, &frame);
  kptest::FakeGraphic graphic;

  // Warm-up: first-use allocations (registry lookups, caches) settle.
  for (int i = 0; i < 200; ++i) OpenPaintClose(graphic);
  malloc_trim(0);
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 10000; ++i) {
    OpenPaintClose(graphic);
    if (HasFatalFailure()) break;
  }
  malloc_trim(0);
  const size_t after = mallinfo2().uordblks;
  std::printf("heap in use after warm-up %zu bytes, after 10,000 openings %zu bytes\n", before,
              after);
  if (kPlainHeap) {
    // A leak of even a few bytes per opening would show as tens of kilobytes.
    EXPECT_LT(after, before + 16 * 1024) << "heap in use: " << before << " then " << after;
  }
  for (KProfilingSampling*& slot : KProfiler::TheOne()->RootCycles) slot = nullptr;
  // The module stays loaded: the registry keeps its factory.
}

}  // namespace
