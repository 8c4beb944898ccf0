// Task cycles, samplings and the host profiler.

#include "standin/kbaselib/profiler.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <mutex>
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
  if (!(microseconds > 0.0)) return 0;  // negative, zero and NaN
  const double ns = microseconds * 1000.0;
  if (ns >= static_cast<double>(kMaxSampleNs)) return kMaxSampleNs;
  return std::llround(ns);
}

// A ring of sample sequence numbers, used as the double-ended queue of a
// sliding-window minimum or maximum. It never holds more entries than the
// window; its storage grows with what it holds, so a large window costs
// memory only as samples arrive.
class SequenceDeque {
 public:
  void Reset() {
    mItems = {};
    mHead = 0;
    mSize = 0;
  }
  bool Empty() const { return mSize == 0; }
  uint64_t Front() const { return mItems[mHead]; }
  uint64_t Back() const { return mItems[(mHead + mSize - 1) % mItems.size()]; }
  void PopFront() {
    mHead = (mHead + 1) % mItems.size();
    --mSize;
  }
  void PopBack() { --mSize; }
  void PushBack(uint64_t sequence) {
    if (mSize == mItems.size()) Grow();
    mItems[(mHead + mSize) % mItems.size()] = sequence;
    ++mSize;
  }

 private:
  void Grow() {
    std::vector<uint64_t> items(std::max<size_t>(16, 2 * mItems.size()));
    for (size_t i = 0; i < mSize; ++i) items[i] = mItems[(mHead + i) % mItems.size()];
    mItems = std::move(items);
    mHead = 0;
  }
  std::vector<uint64_t> mItems;
  size_t mHead = 0;
  size_t mSize = 0;
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
// The window is a ring of the last `capacity` samples in integer nanoseconds;
// sample number s lives in slot s % capacity. The ring grows as samples
// arrive (while it is not yet full, sample s is its entry s), so a large
// window costs no memory up front. The running sum is exact, so
// the average never drifts however long the sampling runs. Minimum and
// maximum come from monotonic queues of sample numbers: each sample enters
// and leaves each queue once, so recording is amortised O(1), and the front
// of each queue is the current extreme. After every change the statistics
// are published to atomics, which readers load without taking the lock.
//-----------------------------------------------------------------------------

struct KProfilingSampling::Impl {
  std::mutex Mutex;
  size_t Capacity = 0;
  std::vector<int64_t> Ring;
  uint64_t Next = 0;  // number of the next sample
  size_t Count = 0;
  int64_t Sum = 0;
  SequenceDeque MinQueue;
  SequenceDeque MaxQueue;

  std::atomic<double> Average{0.0};
  std::atomic<double> Minimum{0.0};
  std::atomic<double> Maximum{0.0};
  std::atomic<int> PublishedCapacity{0};
  std::atomic<int> PublishedCount{0};

  std::vector<std::vector<KProfilingSampling*>> Children;  // by category
  std::vector<KProfilingSampling*> Parents;                // one entry per (parent, category) link

  int64_t At(uint64_t sequence) const { return Ring[sequence % Capacity]; }

  void Resize(size_t capacity) {
    Capacity = capacity;
    Ring = {};
    MinQueue.Reset();
    MaxQueue.Reset();
    Next = 0;
    Count = 0;
    Sum = 0;
  }

  void Record(int64_t ns) {
    const uint64_t sequence = Next++;
    if (Count == Capacity) {
      const uint64_t leaving = sequence - Capacity;
      Sum -= At(leaving);
      if (!MinQueue.Empty() && MinQueue.Front() == leaving) MinQueue.PopFront();
      if (!MaxQueue.Empty() && MaxQueue.Front() == leaving) MaxQueue.PopFront();
    } else {
      ++Count;
    }
    if (Ring.size() < Capacity) {
      Ring.push_back(ns);  // not yet full: sample `sequence` is entry `sequence`
    } else {
      Ring[sequence % Capacity] = ns;
    }
    Sum += ns;
    while (!MinQueue.Empty() && At(MinQueue.Back()) >= ns) MinQueue.PopBack();
    MinQueue.PushBack(sequence);
    while (!MaxQueue.Empty() && At(MaxQueue.Back()) <= ns) MaxQueue.PopBack();
    MaxQueue.PushBack(sequence);
  }

  void Publish() {
    if (Count == 0) {
      Average.store(0.0, std::memory_order_relaxed);
      Minimum.store(0.0, std::memory_order_relaxed);
      Maximum.store(0.0, std::memory_order_relaxed);
    } else {
      Average.store(static_cast<double>(Sum) / static_cast<double>(Count) / 1000.0,
                    std::memory_order_relaxed);
      Minimum.store(static_cast<double>(At(MinQueue.Front())) / 1000.0, std::memory_order_relaxed);
      Maximum.store(static_cast<double>(At(MaxQueue.Front())) / 1000.0, std::memory_order_relaxed);
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
  mImpl->Publish();
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
  mImpl->Mutex.lock();
}
void KProfilingSampling::QueryRelease() {
  mImpl->Mutex.unlock();
}

void KProfilingSampling::GetAvgMinMaxUsage(double& average, double& minimum, double& maximum) {
  average = mImpl->Average.load(std::memory_order_relaxed);
  minimum = mImpl->Minimum.load(std::memory_order_relaxed);
  maximum = mImpl->Maximum.load(std::memory_order_relaxed);
}

uint64_t KProfilingSampling::GetAvgUsage() {
  const double average = mImpl->Average.load(std::memory_order_relaxed);
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
  std::lock_guard<std::mutex> lock(impl.Mutex);
  impl.Record(ns);
  impl.Publish();
}

void KProfilingSampling_SetBufferSize(KProfilingSampling& sampling, int size) {
  auto& impl = KProfilerAccess::Of(sampling);
  const size_t capacity = static_cast<size_t>(ClampBufferSize(size));
  std::lock_guard<std::mutex> lock(impl.Mutex);
  if (capacity == impl.Capacity) return;
  // Rebuild the window from the newest samples that fit, oldest first.
  const size_t keep = std::min(impl.Count, capacity);
  std::vector<int64_t> newest;
  newest.reserve(keep);
  for (uint64_t sequence = impl.Next - keep; sequence < impl.Next; ++sequence) {
    newest.push_back(impl.At(sequence));
  }
  impl.Resize(capacity);
  for (int64_t ns : newest) impl.Record(ns);
  impl.Publish();
}

int KProfilingSampling_GetBufferSize(const KProfilingSampling& sampling) {
  return KProfilerAccess::Of(sampling).PublishedCapacity.load(std::memory_order_relaxed);
}

int KProfilingSampling_GetSampleCount(const KProfilingSampling& sampling) {
  return KProfilerAccess::Of(sampling).PublishedCount.load(std::memory_order_acquire);
}

void KProfilingSampling_Reset(KProfilingSampling& sampling) {
  auto& impl = KProfilerAccess::Of(sampling);
  std::lock_guard<std::mutex> lock(impl.Mutex);
  impl.Resize(impl.Capacity);
  impl.Publish();
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
