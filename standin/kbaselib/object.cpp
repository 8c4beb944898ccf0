// Object base classes and callback lists.

#include <algorithm>
#include <atomic>

#include "host/kbaselib.h"
#include "standin/kbaselib/registry.h"

namespace {
// Every host object alive: views, controls, tools and the module's windows.
std::atomic<int> gLiveObjects{0};
}  // namespace

KPlug::KPlug() {
  gLiveObjects.fetch_add(1, std::memory_order_relaxed);
}
KPlug::~KPlug() {
  gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

int KObject_GetLiveCount() {
  return gLiveObjects.load(std::memory_order_relaxed);
}

KObject::KObject() = default;
KObject::~KObject() = default;

//-----------------------------------------------------------------------------
// KCallbackList
//
// Entries are kept in firing order: higher priority first, equal priorities in
// subscription order. While the list fires, nothing is erased or moved, so the
// firing loop can walk it by index: Remove only marks an entry dead and Add
// appends at the end, past every running firing's snapshot. When the last
// firing ends, dead entries are erased and appended ones moved to their
// priority position.
//-----------------------------------------------------------------------------

KCallbackList::KCallbackList() = default;

KCallbackList::~KCallbackList() {
  if (mDestroyedFlag) *mDestroyedFlag = true;
}

namespace {

bool SameSubscription(ICallback* receiverA, kICallbackHandler handlerA, ICallback* receiverB,
                      kICallbackHandler handlerB) {
  return receiverA == receiverB && handlerA == handlerB;
}

}  // namespace

bool KCallbackList::Add(ICallback* receiver, kICallbackHandler handler, int priority) {
  if (!receiver || !handler) return false;
  if (Contains(receiver, handler)) return true;
  Entry entry{receiver, handler, priority, true};
  if (mFiring > 0) {
    mEntries.push_back(entry);
    return true;
  }
  // After every entry of the same or a higher priority.
  auto position = std::find_if(mEntries.begin(), mEntries.end(),
                               [priority](const Entry& e) { return e.Priority < priority; });
  mEntries.insert(position, entry);
  return true;
}

bool KCallbackList::Remove(ICallback* receiver, kICallbackHandler handler) {
  for (size_t i = 0; i < mEntries.size(); ++i) {
    Entry& e = mEntries[i];
    if (!e.Live || !SameSubscription(e.Receiver, e.Handler, receiver, handler)) continue;
    if (mFiring > 0) {
      e.Live = false;
      mHasDead = true;
    } else {
      mEntries.erase(mEntries.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return true;
  }
  return false;
}

bool KCallbackList::Contains(ICallback* receiver, kICallbackHandler handler) const {
  return std::any_of(mEntries.begin(), mEntries.end(), [&](const Entry& e) {
    return e.Live && SameSubscription(e.Receiver, e.Handler, receiver, handler);
  });
}

int KCallbackList::Count() const {
  return static_cast<int>(
      std::count_if(mEntries.begin(), mEntries.end(), [](const Entry& e) { return e.Live; }));
}

void KCallbackList::Compact() {
  if (mHasDead) {
    mEntries.erase(
        std::remove_if(mEntries.begin(), mEntries.end(), [](const Entry& e) { return !e.Live; }),
        mEntries.end());
    mHasDead = false;
  }
  // Entries added during a firing sit at the end; a stable insertion sort puts
  // them in place without allocating (this runs from a destructor).
  for (size_t i = 1; i < mEntries.size(); ++i) {
    Entry moving = mEntries[i];
    size_t j = i;
    while (j > 0 && mEntries[j - 1].Priority < moving.Priority) {
      mEntries[j] = mEntries[j - 1];
      --j;
    }
    mEntries[j] = moving;
  }
}

void KCallbackList::Fire(IRegister* sender, KEventBase* event) {
  // Restores the list's firing state however the firing ends (normally, by an
  // exception from a handler, or with the list destroyed by a handler).
  struct FiringScope {
    KCallbackList* List;
    bool* Outer;
    bool Destroyed = false;
    FiringScope(KCallbackList* list) : List(list), Outer(list->mDestroyedFlag) {
      List->mDestroyedFlag = &Destroyed;
      ++List->mFiring;
    }
    ~FiringScope() {
      if (Destroyed) {
        if (Outer) *Outer = true;
        return;
      }
      List->mDestroyedFlag = Outer;
      if (--List->mFiring == 0) List->Compact();
    }
    FiringScope(const FiringScope&) = delete;
    FiringScope& operator=(const FiringScope&) = delete;
  };

  FiringScope scope(this);
  const size_t snapshot = mEntries.size();
  for (size_t i = 0; i < snapshot; ++i) {
    if (!mEntries[i].Live) continue;
    const Entry entry = mEntries[i];
    (entry.Receiver->*entry.Handler)(sender, event);
    if (scope.Destroyed) return;
  }
}
