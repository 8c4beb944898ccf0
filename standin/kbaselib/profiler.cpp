// Task cycles, samplings and the host profiler.

#include "standin/kbaselib/profiler.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kMinBufferSize = 1;
constexpr int kMaxBufferSize = 100000;
// Child categories are small numbers; larger ones are refused.
constexpr int kMaxCategories = 32;
// Largest sample, in nanoseconds, such that a full window's sum cannot
// overflow int64 (about 25 hours per sample).
constexpr int64_t kMaxSampleNs = INT64_MAX / kMaxBufferSize;

int ClampBufferSize(int size) {
  return std::clamp(size, kMinBufferSize, kMaxBufferSize);
}

int64_t MicrosecondsToNs(double microseconds) {
  // Negative values and NaN become 0, huge ones kMaxSampleNs; then rounded
  // half away from zero (as llround rounds a positive value) with one
  // truncating conversion. No branch and no library call.
  double ns = microseconds * 1000.0;
  ns = ns > 0.0 ? ns : 0.0;
  ns = ns < static_cast<double>(kMaxSampleNs) ? ns : static_cast<double>(kMaxSampleNs);
  return static_cast<int64_t>(ns + 0.5);
}

// Whether samplings take samples: KProfiler::ProfilingType not 0. Recording
// may run on any thread, so it reads this rather than ProfilingEnabled.
std::atomic<bool> gProfiling{true};

// A lock whose uncontended acquire is one atomic exchange and whose release
// is one store: recording takes it for a few nanoseconds, and QueryAcquire
// holds it across a read of three numbers. A waiter spins briefly, then
// yields the processor to whoever holds it.
class SpinLock {
 public:
  void lock() {
    if (mLocked.exchange(true, std::memory_order_acquire)) LockContended();
  }
  void unlock() { mLocked.store(false, std::memory_order_release); }

 private:
  [[gnu::noinline, gnu::cold]] void LockContended() {
    do {
      for (int spin = 0; mLocked.load(std::memory_order_relaxed); ++spin) {
        if (spin < 64) {
#if defined(__x86_64__) || defined(__i386__)
          __builtin_ia32_pause();
#endif
        } else {
          std::this_thread::yield();
        }
      }
    } while (mLocked.exchange(true, std::memory_order_acquire));
  }
  std::atomic<bool> mLocked{false};
};

}  // namespace

//-----------------------------------------------------------------------------
// KTaskCycle
//-----------------------------------------------------------------------------

KTaskCycle::KTaskCycle(const char* name, float red, float green, float blue)
    : mName(name ? name : "") {
  SetColor(red, green, blue);
}

KTaskCycle::~KTaskCycle() = default;

void KTaskCycle::SetName(const char* name) {
  mName = name ? name : "";
}

void KTaskCycle::SetColor(float red, float green, float blue) {
  const auto channel = [](float value) {
    return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
  };
  mColor[0] = channel(red);
  mColor[1] = channel(green);
  mColor[2] = channel(blue);
}

//-----------------------------------------------------------------------------
// KProfilingSampling
//
// The window of the last W samples, in integer nanoseconds, is cut into
// blocks of W samples: the block being filled ("current") and the block
// before it ("previous"). Ring slot p holds the current block's sample p for
// p < Pos and the previous block's sample p from Pos on, so a new sample
// overwrites exactly the one that leaves the window. The window's minimum is
// the smaller of the current block's running minimum and the previous
// block's minimum from slot Pos on, which SuffixMin holds (worked out once
// when a block completes); the maximum likewise. Recording is therefore O(1)
// (amortised: one pass over W slots per W samples) with no data-dependent
// branch and no division, whatever the window size.
//
// The running sum is exact, so the average never drifts however long the
// sampling runs. After every change the sum, count and extremes are
// published to atomics, which readers load without the lock and turn into
// microseconds themselves, so the dividing is done by the reader.
//
// Memory grows with the samples: the ring as they arrive, the two suffix
// arrays when the first block completes.
//-----------------------------------------------------------------------------

struct KProfilingSampling::Impl {
  // What a record touches lies in this first cache line: the lock, the
  // position, the block's extremes and what readers load (the sum is
  // written only under the lock, so it needs no read-modify-write).
  alignas(64) SpinLock Lock;
  std::atomic<int> PublishedCount{0};
  uint32_t Pos = 0;       // slot of the next sample
  uint32_t Count = 0;     // samples in the window: W once a block completed
  uint32_t Capacity = 0;  // W
  std::atomic<int> PublishedCapacity{0};
  int64_t BlockMin = INT64_MAX;  // of the current block's samples
  int64_t BlockMax = INT64_MIN;
  std::atomic<int64_t> Sum{0};
  std::atomic<int64_t> PublishedMin{0};
  std::atomic<int64_t> PublishedMax{0};

  // Read by every walk of the tree, so next to the line above.
  std::vector<std::vector<KProfilingSampling*>> Children;  // by category
  std::vector<KProfilingSampling*> Parents;                // one entry per (parent, category) link

  std::vector<int64_t> Ring;       // grows to W while the first block fills
  std::vector<int64_t> SuffixMin;  // W + 1 entries once a block completed; [W] is neutral
  std::vector<int64_t> SuffixMax;

  void Resize(size_t capacity) {
    Capacity = static_cast<uint32_t>(capacity);
    Ring = {};
    SuffixMin = {};
    SuffixMax = {};
    Pos = 0;
    Count = 0;
    Sum.store(0, std::memory_order_relaxed);
    BlockMin = INT64_MAX;
    BlockMax = INT64_MIN;
  }

  // The window's samples, oldest first.
  std::vector<int64_t> Window() const {
    std::vector<int64_t> samples;
    samples.reserve(Count);
    if (Count == Capacity) samples.insert(samples.end(), Ring.begin() + Pos, Ring.end());
    samples.insert(samples.end(), Ring.begin(), Ring.begin() + Pos);
    return samples;
  }

  // Kept small: one atomic exchange already takes most of a sample's time.
  [[gnu::always_inline]] void Record(int64_t ns) {
    if (Count != Capacity) {
      RecordWhileFilling(ns);
      return;
    }
    // A full window: the previous block's sample in this slot leaves.
    const uint32_t pos = Pos;
    int64_t* ring = Ring.data();
    const int64_t blockMin = std::min(BlockMin, ns);
    const int64_t blockMax = std::max(BlockMax, ns);
    BlockMin = blockMin;
    BlockMax = blockMax;
    Sum.store(Sum.load(std::memory_order_relaxed) + (ns - ring[pos]), std::memory_order_relaxed);
    ring[pos] = ns;
    PublishedMin.store(std::min(blockMin, SuffixMin[pos + 1]), std::memory_order_relaxed);
    PublishedMax.store(std::max(blockMax, SuffixMax[pos + 1]), std::memory_order_relaxed);
    Pos = pos + 1;
    if (pos + 1 == Capacity) CompleteBlock();
  }

  // The first block: slot Pos is the ring's next entry.
  [[gnu::noinline]] void RecordWhileFilling(int64_t ns) {
    Ring.push_back(ns);
    Sum.store(Sum.load(std::memory_order_relaxed) + ns, std::memory_order_relaxed);
    BlockMin = std::min(BlockMin, ns);
    BlockMax = std::max(BlockMax, ns);
    PublishedMin.store(BlockMin, std::memory_order_relaxed);
    PublishedMax.store(BlockMax, std::memory_order_relaxed);
    PublishedCount.store(static_cast<int>(++Count), std::memory_order_release);
    if (++Pos == Capacity) CompleteBlock();
  }

  // The current block becomes the previous one: its suffix extremes are
  // worked out and the next block starts at slot 0.
  [[gnu::noinline]] void CompleteBlock() {
    if (SuffixMin.size() != Capacity + 1) {
      SuffixMin.resize(Capacity + 1);
      SuffixMax.resize(Capacity + 1);
    }
    int64_t minimum = INT64_MAX;
    int64_t maximum = INT64_MIN;
    SuffixMin[Capacity] = minimum;
    SuffixMax[Capacity] = maximum;
    for (size_t i = Capacity; i-- > 0;) {
      minimum = std::min(minimum, Ring[i]);
      maximum = std::max(maximum, Ring[i]);
      SuffixMin[i] = minimum;
      SuffixMax[i] = maximum;
    }
    Pos = 0;
    BlockMin = INT64_MAX;
    BlockMax = INT64_MIN;
  }

  // Publishes the window's size, and its statistics while it is empty (every
  // record publishes its own).
  void PublishCapacity() {
    if (Count == 0) {
      PublishedMin.store(0, std::memory_order_relaxed);
      PublishedMax.store(0, std::memory_order_relaxed);
    }
    PublishedCapacity.store(static_cast<int>(Capacity), std::memory_order_relaxed);
    PublishedCount.store(static_cast<int>(Count), std::memory_order_release);
  }
};

// The way to the state of samplings and of the profiler (a friend of both).
struct KProfilerAccess {
  static KProfilingSampling::Impl& Of(const KProfilingSampling& sampling) {
    return *sampling.mImpl;
  }
  static KProfiler::Impl& Of(const KProfiler& profiler) { return *profiler.mImpl; }
};

namespace {

// Clears the profiler's root slots that hold a sampling that goes away.
void ForgetRootCycle(KProfilingSampling* sampling);

}  // namespace

KProfilingSampling::KProfilingSampling(const char* name, float red, float green, float blue,
                                       int bufferSize)
    : KTaskCycle(name, red, green, blue), mImpl(new Impl) {
  mImpl->Resize(static_cast<size_t>(ClampBufferSize(bufferSize)));
  mImpl->PublishCapacity();
}

KProfilingSampling::~KProfilingSampling() {
  // Leave the trees this sampling is part of.
  for (KProfilingSampling* parent : mImpl->Parents) {
    for (auto& list : parent->mImpl->Children) {
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
  }
  for (auto& list : mImpl->Children) {
    for (KProfilingSampling* child : list) {
      auto& parents = child->mImpl->Parents;
      auto it = std::find(parents.begin(), parents.end(), this);
      if (it != parents.end()) parents.erase(it);
    }
  }
  ForgetRootCycle(this);
  delete mImpl;
}

void KProfilingSampling::QueryAcquire() {
  mImpl->Lock.lock();
}
void KProfilingSampling::QueryRelease() {
  mImpl->Lock.unlock();
}

void KProfilingSampling::GetAvgMinMaxUsage(double& average, double& minimum, double& maximum) {
  const int count = mImpl->PublishedCount.load(std::memory_order_acquire);
  if (count == 0) {
    average = minimum = maximum = 0.0;
    return;
  }
  average = static_cast<double>(mImpl->Sum.load(std::memory_order_relaxed)) /
            static_cast<double>(count) / 1000.0;
  minimum = static_cast<double>(mImpl->PublishedMin.load(std::memory_order_relaxed)) / 1000.0;
  maximum = static_cast<double>(mImpl->PublishedMax.load(std::memory_order_relaxed)) / 1000.0;
}

uint64_t KProfilingSampling::GetAvgUsage() {
  double average = 0.0, minimum = 0.0, maximum = 0.0;
  GetAvgMinMaxUsage(average, minimum, maximum);
  return average > 0.0 ? static_cast<uint64_t>(average) : 0;
}

int KProfilingSampling::GetChildCount(int category) {
  if (category < 0 || static_cast<size_t>(category) >= mImpl->Children.size()) return 0;
  return static_cast<int>(mImpl->Children[static_cast<size_t>(category)].size());
}

KProfilingSampling* KProfilingSampling::GetChild(int category, int index) {
  if (index < 0 || index >= GetChildCount(category)) return nullptr;
  return mImpl->Children[static_cast<size_t>(category)][static_cast<size_t>(index)];
}

bool KProfilingSampling::HasChild(int category, int index) {
  return GetChild(category, index) != nullptr;
}

//-----------------------------------------------------------------------------
// Recording samples and building trees (standin/kbaselib/profiler.h)
//-----------------------------------------------------------------------------

void KProfilingSampling_AddSample(KProfilingSampling& sampling, double microseconds) {
  auto& impl = KProfilerAccess::Of(sampling);
  const int64_t ns = MicrosecondsToNs(microseconds);
  const bool profiling = gProfiling.load(std::memory_order_relaxed);
  std::lock_guard<SpinLock> lock(impl.Lock);
  if (!profiling && impl.Count != 0) return;  // kept as it was when profiling went off
  impl.Record(ns);
}

void KProfilingSampling_SetBufferSize(KProfilingSampling& sampling, int size) {
  auto& impl = KProfilerAccess::Of(sampling);
  const size_t capacity = static_cast<size_t>(ClampBufferSize(size));
  std::lock_guard<SpinLock> lock(impl.Lock);
  if (capacity == impl.Capacity) return;
  // Rebuild the window from the newest samples that fit, oldest first.
  const std::vector<int64_t> window = impl.Window();
  const size_t keep = std::min(window.size(), capacity);
  impl.Resize(capacity);
  for (size_t i = window.size() - keep; i < window.size(); ++i) impl.Record(window[i]);
  impl.PublishCapacity();
}

int KProfilingSampling_GetBufferSize(const KProfilingSampling& sampling) {
  return KProfilerAccess::Of(sampling).PublishedCapacity.load(std::memory_order_relaxed);
}

int KProfilingSampling_GetSampleCount(const KProfilingSampling& sampling) {
  return KProfilerAccess::Of(sampling).PublishedCount.load(std::memory_order_acquire);
}

void KProfilingSampling_Reset(KProfilingSampling& sampling) {
  auto& impl = KProfilerAccess::Of(sampling);
  std::lock_guard<SpinLock> lock(impl.Lock);
  impl.Resize(impl.Capacity);
  impl.PublishCapacity();
}

void KProfilingSampling_AddChild(KProfilingSampling& parent, int category,
                                 KProfilingSampling* child) {
  if (!child || category < 0 || category >= kMaxCategories) return;
  auto& impl = KProfilerAccess::Of(parent);
  if (parent.GetChildCount(category) > 0) {
    const auto& list = impl.Children[static_cast<size_t>(category)];
    if (std::find(list.begin(), list.end(), child) != list.end()) return;
  }
  // A child that is the parent or lies above it would close a cycle, and
  // every walk of the tree (the chart's included) would never end.
  std::vector<KProfilingSampling*> pending{child};
  std::unordered_set<KProfilingSampling*> visited;
  while (!pending.empty()) {
    KProfilingSampling* node = pending.back();
    pending.pop_back();
    if (node == &parent) return;
    if (!visited.insert(node).second) continue;
    for (const auto& list : KProfilerAccess::Of(*node).Children) {
      pending.insert(pending.end(), list.begin(), list.end());
    }
  }
  if (impl.Children.size() <= static_cast<size_t>(category)) {
    impl.Children.resize(static_cast<size_t>(category) + 1);
  }
  impl.Children[static_cast<size_t>(category)].push_back(child);
  KProfilerAccess::Of(*child).Parents.push_back(&parent);
}

bool KProfilingSampling_RemoveChild(KProfilingSampling& parent, int category,
                                    KProfilingSampling* child) {
  if (!child || parent.GetChildCount(category) == 0) return false;
  auto& list = KProfilerAccess::Of(parent).Children[static_cast<size_t>(category)];
  auto position = std::find(list.begin(), list.end(), child);
  if (position == list.end()) return false;
  list.erase(position);
  auto& parents = KProfilerAccess::Of(*child).Parents;
  auto link = std::find(parents.begin(), parents.end(), &parent);
  if (link != parents.end()) parents.erase(link);
  return true;
}

void KProfilingSampling_ClearChildren(KProfilingSampling& parent, int category) {
  if (parent.GetChildCount(category) == 0) return;
  const std::vector<KProfilingSampling*> children =
      KProfilerAccess::Of(parent).Children[static_cast<size_t>(category)];
  for (KProfilingSampling* child : children)
    KProfilingSampling_RemoveChild(parent, category, child);
}

int KProfilingSampling_GetCategoryCount(const KProfilingSampling& sampling) {
  return static_cast<int>(KProfilerAccess::Of(sampling).Children.size());
}

//-----------------------------------------------------------------------------
// KProfiler
//-----------------------------------------------------------------------------

namespace {

std::atomic<KProfiler*> gProfiler{nullptr};

void ForgetRootCycle(KProfilingSampling* sampling) {
  KProfiler* profiler = gProfiler.load(std::memory_order_acquire);
  if (!profiler) return;
  for (KProfilingSampling*& slot : profiler->RootCycles) {
    if (slot == sampling) slot = nullptr;
  }
}

// Gives `size` to `root` and every sampling below it, each once.
void ApplyToTree(KProfilingSampling* root, int size,
                 std::unordered_set<KProfilingSampling*>& visited) {
  std::vector<KProfilingSampling*> pending{root};
  while (!pending.empty()) {
    KProfilingSampling* node = pending.back();
    pending.pop_back();
    if (!node || !visited.insert(node).second) continue;
    KProfilingSampling_SetBufferSize(*node, size);
    const int categories = KProfilingSampling_GetCategoryCount(*node);
    for (int category = 0; category < categories; ++category) {
      const int count = node->GetChildCount(category);
      for (int index = 0; index < count; ++index) {
        if (node->HasChild(category, index)) pending.push_back(node->GetChild(category, index));
      }
    }
  }
}

}  // namespace

// The profiler's own change handlers and frame bookkeeping.
struct KProfiler::Impl final : public KPlug {
  explicit Impl(KProfiler* owner) : Owner(owner) {}

  IObject* IQuery(unsigned long interfaceId, int) override {
    return (interfaceId == kIID_IObject || interfaceId == kIID_IObjectSelf) ? this : nullptr;
  }
  void Destroy(int) override {}  // owned by the profiler

  void OnProfilingTypeChanged(IRegister*, KEventBase*) {
    Owner->ProfilingEnabled = Owner->ProfilingType.Get() != 0 ? 1 : 0;
    gProfiling.store(Owner->ProfilingEnabled != 0, std::memory_order_relaxed);
  }
  void OnBufferSizeChanged(IRegister*, KEventBase*) { KProfiler_ApplyBufferSize(*Owner); }

  KProfiler* Owner;
  // Cost accumulated by AddCost since BeginFrame, in nanoseconds.
  std::atomic<int64_t> FrameCostNs{0};
};

KProfiler* KProfiler::TheOne() {
  // Never destroyed: samplings of other libraries may outlive static
  // destruction order.
  static KProfiler* profiler = new KProfiler;
  return profiler;
}

KProfiler::KProfiler()
    : RootCycles{},
      ProfilingCost("ProfilingCost", 1.0f, 1.0f, 1.0f, 20),
      ProfilingType("ProfilingType", 1),
      EvaluationDepth(0),
      EvaluationDepthProperty("EvaluationDepth", &EvaluationDepth),
      BufferSize("BufferSize", 20),
      FrameReference(true),
      FrameReferenceProperty("FrameReference", &FrameReference),
      ProfilingEnabled(1),
      mImpl(new Impl(this)) {
  ProfilingType.SetNamedValues("Off~On");
  EvaluationDepthProperty.SetRange(0, 16);
  BufferSize.SetRange(kMinBufferSize, kMaxBufferSize);
  ProfilingType.AddChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnProfilingTypeChanged));
  BufferSize.AddChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnBufferSizeChanged));
  gProfiler.store(this, std::memory_order_release);
}

KProfiler::~KProfiler() {
  gProfiler.store(nullptr, std::memory_order_release);
  ProfilingType.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnProfilingTypeChanged));
  BufferSize.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnBufferSizeChanged));
  delete mImpl;
}

//-----------------------------------------------------------------------------
// The profiler's host side (standin/kbaselib/profiler.h)
//-----------------------------------------------------------------------------

void KProfiler_SetRootCycle(KProfiler& profiler, int slot, KProfilingSampling* sampling) {
  if (slot < 0 || slot >= KProfiler::kRootCycleCount) return;
  profiler.RootCycles[slot] = sampling;
  if (sampling) {
    std::unordered_set<KProfilingSampling*> visited;
    ApplyToTree(sampling, ClampBufferSize(profiler.BufferSize.Get()), visited);
  }
}

void KProfiler_ApplyBufferSize(KProfiler& profiler) {
  // The property may hold any integer; samplings take it clamped to 1..100000.
  const int size = ClampBufferSize(profiler.BufferSize.Get());
  std::unordered_set<KProfilingSampling*> visited;
  for (KProfilingSampling* root : profiler.RootCycles) ApplyToTree(root, size, visited);
  ApplyToTree(&profiler.ProfilingCost, size, visited);
}

void KProfiler_BeginFrame(KProfiler& profiler) {
  KProfilerAccess::Of(profiler).FrameCostNs.store(0, std::memory_order_relaxed);
}

void KProfiler_AddCost(KProfiler& profiler, double microseconds) {
  const int64_t ns = MicrosecondsToNs(microseconds);
  if (ns == 0) return;
  std::atomic<int64_t>& frameCost = KProfilerAccess::Of(profiler).FrameCostNs;
  // Saturating add: a frame's cost is clamped like any other sample.
  int64_t current = frameCost.load(std::memory_order_relaxed);
  int64_t next;
  do {
    next = current > kMaxSampleNs - ns ? kMaxSampleNs : current + ns;
  } while (!frameCost.compare_exchange_weak(current, next, std::memory_order_relaxed));
}

void KProfiler_EndFrame(KProfiler& profiler) {
  const int64_t ns =
      KProfilerAccess::Of(profiler).FrameCostNs.exchange(0, std::memory_order_relaxed);
  KProfilingSampling_AddSample(profiler.ProfilingCost, static_cast<double>(ns) / 1000.0);
}
