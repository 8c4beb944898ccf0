// Construction and destruction of the panel and the window: the order of the
// tear-down as the host sees it, independence of two windows, and failures
// injected at every allocation made while building (each must leave no
// allocation behind and no editor bound to a host property).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "module/module_test_support.h"
#include "settings/tool_optimization_layout.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/controls.h"
#include "standin/ktoolkit/view_tree.h"
#include "tool/profiling_tool.h"

//-----------------------------------------------------------------------------
// Allocation accounting and failure injection
//-----------------------------------------------------------------------------

namespace {

std::atomic<long> gLiveBlocks{0};
std::atomic<long> gAllocations{0};
// Allocations left before the injected failure; negative: none armed.
std::atomic<long> gFailAfter{-1};
// Called just before an injected failure is thrown.
void (*gOnInjectedFailure)() = nullptr;

// Called on every allocation while set (the measuring pass of a sweep).
void (*gOnAllocation)() = nullptr;

void* Allocate(std::size_t size) {
  if (gOnAllocation) gOnAllocation();
  const long left = gFailAfter.load();
  if (left >= 0) {
    if (left == 0) {
      gFailAfter = -1;  // one failure per arming; clean-up may allocate again
      if (gOnInjectedFailure) gOnInjectedFailure();
      throw std::bad_alloc();
    }
    gFailAfter = left - 1;
  }
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  ++gLiveBlocks;
  ++gAllocations;
  return block;
}

void Release(void* block) noexcept {
  if (!block) return;
  --gLiveBlocks;
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  Release(block);
}
void operator delete[](void* block) noexcept {
  Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Release(block);
}

namespace {

using kptest::HostSettings;

// Change handlers on the host settings: each bound editor adds one.
// Allocates nothing (it also runs inside the allocation functions).
int HostHandlerCount() {
  static KProperty* properties[10] = {};
  if (!properties[0]) {
    const long saved = gFailAfter.exchange(-1);
    void (*savedHook)() = gOnAllocation;
    gOnAllocation = nullptr;
    int i = 0;
    for (const kptest::HostSetting& setting : HostSettings()) properties[i++] = setting.Property;
    gOnAllocation = savedHook;
    gFailAfter = saved;
  }
  int count = 0;
  for (KProperty* property : properties) count += property->GetChangeHandlerCount();
  return count;
}

std::vector<int> HostHandlerCounts() {
  std::vector<int> counts;
  for (const kptest::HostSetting& setting : HostSettings())
    counts.push_back(setting.Property->GetChangeHandlerCount());
  return counts;
}

// Editors bound (to host settings) at the moment of the injected failure.
int gBoundAtFailure = -1;
int gBaselineHandlers = 0;
void RecordBoundEditors() {
  gBoundAtFailure = HostHandlerCount() - gBaselineHandlers;
}

// One injected failure: where it struck and what it left behind.
struct Attempt {
  int Allocation;          // the allocation that failed
  int BoundAtFailure;      // editors bound to host settings when it failed
  long LeakedBlocks;       // allocations left behind
  bool HostListenersBack;  // host settings' change handlers as before
};

struct SweepResult {
  int Allocations = 0;    // made by one successful construction
  int AllBoundFrom = -1;  // the first of them made with all ten editors bound
  std::vector<Attempt> Failures;
};

int gMeasured = 0;
int gAllBoundFrom = -1;
void MeasureAllocation() {
  if (gAllBoundFrom < 0 && HostHandlerCount() - gBaselineHandlers >= 10) gAllBoundFrom = gMeasured;
  ++gMeasured;
}

enum class Phase { kMembers, kAfterMembers };

// One attempt: builds with `make`, failing its allocation number `n`, and
// destroys what a surviving build made. Returns whether the build failed;
// `leaked` gets the blocks still live afterwards that were not before.
template <class Make>
bool BuildFailingAt(Make& make, int n, long& leaked) {
  const long liveBefore = gLiveBlocks;
  gBoundAtFailure = -1;
  gOnInjectedFailure = &RecordBoundEditors;
  gFailAfter = n;
  bool failed = false;
  try {
    auto destroy = make();
    gFailAfter = -1;
    destroy();
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  gFailAfter = -1;
  gOnInjectedFailure = nullptr;
  leaked = gLiveBlocks - liveBefore;
  return failed;
}

// Builds with `make` (which returns a function that destroys what it built),
// failing each allocation of a construction in turn. Each attempt either
// propagates std::bad_alloc or succeeds (and is destroyed again).
// kMembers fails only allocations made before the editors are bound (the
// members' constructors), kAfterMembers only those made after all ten are
// (laying out, subscribing), so that each test answers for its own steps,
// also to the sanitizer's leak checker.
template <class Make>
SweepResult SweepFailures(Make make, Phase phase) {
  SweepResult result;
  make()();  // host singletons and caches come to life first
  gBaselineHandlers = HostHandlerCount();
  const std::vector<int> baselineCounts = HostHandlerCounts();
  {
    const long before = gAllocations;
    gMeasured = 0;
    gAllBoundFrom = -1;
    gOnAllocation = &MeasureAllocation;
    auto destroy = make();
    gOnAllocation = nullptr;
    result.Allocations = static_cast<int>(gAllocations - before);
    result.AllBoundFrom = gAllBoundFrom;
    destroy();
  }
  result.Failures.reserve(static_cast<size_t>(result.Allocations));
  const int from = phase == Phase::kMembers ? 0 : result.AllBoundFrom;
  const int to = phase == Phase::kMembers ? result.AllBoundFrom : result.Allocations;
  EXPECT_GT(result.AllBoundFrom, 0);
  for (int n = std::max(from, 0); n < to; ++n) {
    long leaked = 0;
    const bool failed = BuildFailingAt(make, n, leaked);
    if (failed)
      result.Failures.push_back(
          {n, gBoundAtFailure, leaked, HostHandlerCounts() == baselineCounts});
    else
      EXPECT_EQ(leaked, 0) << "a build that survived failing allocation " << n;
  }
  return result;
}

bool StruckWith(const SweepResult& result, int bound) {
  for (const Attempt& a : result.Failures)
    if (a.BoundAtFailure == bound) return true;
  return false;
}

// Failures whose number of bound editors lies in [low, high] leave nothing.
// `countBlocks`: compare the allocation count too (not where the host keeps
// storage it grew during the attempt; the leak checker of the sanitizer
// build covers those runs).
void ExpectCleanFailures(const SweepResult& result, int low, int high, bool countBlocks = true) {
  int checked = 0;
  for (const Attempt& a : result.Failures) {
    if (a.BoundAtFailure < low || a.BoundAtFailure > high) continue;
    ++checked;
    if (countBlocks) {
      EXPECT_EQ(a.LeakedBlocks, 0) << "failing allocation " << a.Allocation << " with "
                                   << a.BoundAtFailure << " editors bound";
    }
    EXPECT_TRUE(a.HostListenersBack) << "failing allocation " << a.Allocation;
  }
  EXPECT_GT(checked, 0);
}

ToolOptimizationLayout* NewPanel() {
  return new ToolOptimizationLayout();
}

SweepResult SweepPanel(Phase phase) {
  return SweepFailures(
      [] {
        ToolOptimizationLayout* panel = NewPanel();
        return [panel] { panel->Destroy(0); };
      },
      phase);
}

SweepResult SweepWindow(Phase phase) {
  return SweepFailures(
      [] {
        KtProfiling* window = new KtProfiling();
        return [window] { window->Destroy(0); };
      },
      phase);
}

// Like SweepFailures, but without building once beforehand: the host
// settings have never had a listener, so each editor's binding makes the
// first allocation of its setting's listener list, and failing it fails that
// binding. Attempts go on until one builds.
template <class Make>
SweepResult SweepFromFreshHost(Make make, int firstFailure) {
  SweepResult result;
  gBaselineHandlers = HostHandlerCount();
  const std::vector<int> baselineCounts = HostHandlerCounts();
  result.Failures.reserve(4096);
  for (int n = firstFailure; n < 4096; ++n) {
    long leaked = 0;
    const bool failed = BuildFailingAt(make, n, leaked);
    if (!failed) {
      result.Allocations = n;
      break;
    }
    result.Failures.push_back({n, gBoundAtFailure, leaked, HostHandlerCounts() == baselineCounts});
  }
  return result;
}

// Declared first so that it runs before anything binds an editor, also when
// the whole executable runs in one process.
TEST(Lifecycle, PanelFailingWhileBindingLeavesNothing) {
  // The host objects and the controls' own first-use state come first.
  KShaders_GetRenderer();
  KEvaluateManager::TheOne();
  KGPGPU_GetGPGPUManager();
  KProfiler::TheOne();
  // The allocations of the panel object and its members, built on their own:
  // failures start after them (member failures are the tests below).
  const long before = gAllocations;
  ::operator delete(::operator new(sizeof(ToolOptimizationLayout)));
  { KtLayout base; }
  for (int i = 0; i < 10; ++i) KtProperty editor(1);
  { KtStatic label(1); }
  { KtList list(1); }
  { KtButton button(1); }
  { KtProfilingDrawView view; }
  const int memberAllocations = static_cast<int>(gAllocations - before);
  const SweepResult result = SweepFromFreshHost(
      [] {
        ToolOptimizationLayout* panel = NewPanel();
        return [panel] { panel->Destroy(0); };
      },
      memberAllocations);
  ASSERT_GT(result.Allocations, memberAllocations);
  // Failures struck in the middle of the bindings (at those whose setting had
  // no listener list yet).
  int bindingsStruck = 0;
  for (int bound = 1; bound <= 9; ++bound) bindingsStruck += StruckWith(result, bound) ? 1 : 0;
  EXPECT_GE(bindingsStruck, 2);
  // Each binding that succeeded grew its setting's listener list for good.
  ExpectCleanFailures(result, 0, 10, /*countBlocks=*/false);
}

// Failures while laying out and subscribing (all editors bound): the panel's
// own clean-up.
TEST(Lifecycle, PanelFailingAfterItsMembersLeavesNothing) {
  const SweepResult result = SweepPanel(Phase::kAfterMembers);
  ASSERT_GT(result.Allocations, 0);
  // Failures struck after all ten bindings.
  EXPECT_TRUE(StruckWith(result, 10));
  ExpectCleanFailures(result, 1, 10);
}

// Failures while the members are built (nothing bound yet): the members
// already built, and the base, end in reverse order.
TEST(Lifecycle, PanelFailingInAMemberConstructorLeavesNothing) {
  const SweepResult result = SweepPanel(Phase::kMembers);
  EXPECT_TRUE(StruckWith(result, 0));
  ExpectCleanFailures(result, 0, 0);
}

TEST(Lifecycle, WindowFailingAfterItsMembersLeavesNothing) {
  const SweepResult result = SweepWindow(Phase::kAfterMembers);
  ASSERT_GT(result.Allocations, 0);
  EXPECT_TRUE(StruckWith(result, 10));
  ExpectCleanFailures(result, 1, 10);
}

TEST(Lifecycle, WindowFailingInAMemberConstructorLeavesNothing) {
  const SweepResult result = SweepWindow(Phase::kMembers);
  EXPECT_TRUE(StruckWith(result, 0));
  ExpectCleanFailures(result, 0, 0);
}

//-----------------------------------------------------------------------------
// Tear-down order
//-----------------------------------------------------------------------------

// Watches the editors' edited-property settings and records, when each is
// cleared, what the panel (and the window holding it) still had.
class DetachObserver final : public ICallback {
 public:
  struct Event {
    int Editor;
    int Subscriptions;  // the panel's three events
    int FilledRegions;  // regions of the panel that still hold a control
    bool PanelInWindow;
  };

  DetachObserver(ToolOptimizationLayout& panel, KtLayout* window) : mPanel(panel), mWindow(window) {
    KtProperty* editors[] = {&panel.FrustumCullingEditor,     &panel.ParallelPipelineEditor,
                             &panel.ParallelEvaluationEditor, &panel.ParallelDeformationEditor,
                             &panel.GPUSkinningEditor,        &panel.NodeCountEditor,
                             &panel.ProfilingModeEditor,      &panel.EvaluationDepthEditor,
                             &panel.BufferSizeEditor,         &panel.FrameReferenceEditor};
    for (KtProperty* editor : editors) {
      mEditors.push_back(editor);
      editor->EditedProperty.AddChangeHandler(this, KCALLBACK_HANDLER(DetachObserver::OnChange));
    }
  }

  IObject* IQuery(unsigned long, int) override { return this; }
  void Destroy(int) override {}

  void OnChange(IRegister*, KEventBase* event) {
    KProperty* changed = static_cast<KProperty*>(event->Data);
    for (int i = 0; i < static_cast<int>(mEditors.size()); ++i) {
      if (&mEditors[i]->EditedProperty != changed || mEditors[i]->GetEditedProperty()) continue;
      int filled = 0;
      for (int r = 0; r < KtLayout_GetRegionCount(mPanel); ++r)
        if (KtLayout_GetRegionView(mPanel, KtLayout_GetRegionName(mPanel, r))) ++filled;
      Events.push_back(
          {i,
           mPanel.LayoutRefreshEvent.GetCount() + mPanel.DisplayList.OnChange.GetCount() +
               mPanel.ResetButton.OnClick.GetCount(),
           filled, mWindow && KtLayout_GetRegionView(*mWindow, "Adaptable") != nullptr});
    }
  }

  std::vector<Event> Events;

 private:
  ToolOptimizationLayout& mPanel;
  KtLayout* mWindow;
  std::vector<KtProperty*> mEditors;
};

void ExpectEditorsDetachedFirst(const std::vector<DetachObserver::Event>& events) {
  ASSERT_EQ(events.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(testing::Message() << "editor " << i);
    EXPECT_EQ(events[i].Editor, i);  // member order
    // Still subscribed, and all fourteen controls still in their regions.
    EXPECT_EQ(events[i].Subscriptions, 3);
    EXPECT_EQ(events[i].FilledRegions, 14);
    EXPECT_FALSE(events[i].PanelInWindow);
  }
}

TEST(Lifecycle, PanelDetachesEditorsBeforeAnythingElse) {
  const std::vector<int> baseline = HostHandlerCounts();
  DetachObserver* observer = nullptr;
  {
    ToolOptimizationLayout* panel = new ToolOptimizationLayout();
    EXPECT_EQ(panel->LayoutRefreshEvent.GetCount(), 1);
    EXPECT_EQ(panel->DisplayList.OnChange.GetCount(), 1);
    EXPECT_EQ(panel->ResetButton.OnClick.GetCount(), 1);
    for (int count : HostHandlerCounts()) EXPECT_GE(count, 1);
    observer = new DetachObserver(*panel, nullptr);
    panel->Destroy(0);
  }
  ExpectEditorsDetachedFirst(observer->Events);
  EXPECT_EQ(HostHandlerCounts(), baseline);
  delete observer;

  // Nothing of the panel listens any more: writes to every setting are safe.
  kptest::SetDistinctHostSettings();
  KShaders_GetRenderer()->EarlyFrustumCulling = true;
  KProfiler::TheOne()->BufferSize = 21;
}

TEST(Lifecycle, WindowClearsItsRegionThenDestroysThePanelOnce) {
  const std::vector<int> baseline = HostHandlerCounts();
  KtProfiling* window = new KtProfiling();
  DetachObserver observer(*window->OptimizationLayout, window);
  window->Destroy(0);
  // Exactly one tear-down of the panel, after it left "Adaptable".
  ExpectEditorsDetachedFirst(observer.Events);
  EXPECT_EQ(HostHandlerCounts(), baseline);
}

TEST(Lifecycle, TwoWindowsAreIndependent) {
  kptest::ConfigFolder config;
  KProfilingSampling evaluation("Evaluation", 0.f, 1.f, 0.f);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 6, &evaluation);

  KtProfiling* first = new KtProfiling();
  KtProfiling* second = new KtProfiling();
  ASSERT_NE(first->OptimizationLayout, second->OptimizationLayout);
  ToolOptimizationLayout& a = *first->OptimizationLayout;
  ToolOptimizationLayout& b = *second->OptimizationLayout;

  const int refreshA = KtView_GetRefreshCount(a.DrawView);
  const int refreshB = KtView_GetRefreshCount(b.DrawView);
  a.LayoutRefreshEvent.Fire(static_cast<IRegister*>(&a), nullptr);
  EXPECT_EQ(KtView_GetRefreshCount(a.DrawView), refreshA + 1);
  EXPECT_EQ(KtView_GetRefreshCount(b.DrawView), refreshB);

  first->Destroy(0);

  // The second window keeps its editors, its controls and its handlers.
  EXPECT_EQ(b.FrustumCullingEditor.GetEditedProperty(),
            &KShaders_GetRenderer()->EarlyFrustumCulling);
  EXPECT_EQ(b.FrameReferenceEditor.GetEditedProperty(),
            &KProfiler::TheOne()->FrameReferenceProperty);
  EXPECT_EQ(KtLayout_GetRegionView(*second, "Adaptable"), static_cast<IKtView*>(&b));
  EXPECT_EQ(KtLayout_GetRegionView(b, "DrawingRegion"), static_cast<IKtView*>(&b.DrawView));
  b.LayoutRefreshEvent.Fire(static_cast<IRegister*>(&b), nullptr);
  EXPECT_EQ(KtView_GetRefreshCount(b.DrawView), refreshB + 1);
  KProfiler::TheOne()->BufferSize = 3;
  KtButton_Click(b.ResetButton);
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 20);

  second->Destroy(0);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 6, nullptr);
}

}  // namespace

// The allocation functions above use malloc and free for every form of new
// and delete; the sanitizer's own pairing check cannot see that.
extern "C" const char* __asan_default_options() {
  return "alloc_dealloc_mismatch=0";
}
