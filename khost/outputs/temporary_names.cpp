#include "khost/outputs/temporary_names.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace khost {

namespace {

// RemoveNamedTemporaries runs in a signal handler: the table is never
// reallocated, and each entry is published by an atomic state once its
// name is written in full.
constexpr int kMaxNamed = 32;
enum : int { kFree = 0, kFilling = 1, kNamed = 2 };
struct NamedEntry {
  std::atomic<int> State{kFree};
  char Name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);
NamedEntry gNamed[kMaxNamed];

}  // namespace

int RegisterTemporaryName(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kMaxNamed; ++i) {
    int expected = kFree;
    if (!gNamed[i].State.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gNamed[i].Name, path.c_str(), path.size() + 1);
    gNamed[i].State.store(kNamed);
    return i;
  }
  return -1;
}

void ForgetTemporaryName(int entry) {
  if (entry >= 0 && entry < kMaxNamed) gNamed[entry].State.store(kFree);
}

void RemoveNamedTemporaries() noexcept {
  for (NamedEntry& entry : gNamed) {
    if (entry.State.load() == kNamed) ::unlink(entry.Name);
  }
}

}  // namespace khost
