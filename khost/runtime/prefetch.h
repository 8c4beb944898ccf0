// Asking the processor to start loading memory that is about to be used, so
// that work on one item overlaps the cache misses of the next. A hint only:
// it changes no result, and costs one instruction per cache line.
#pragma once

#include <xmmintrin.h>

#include <cstddef>
#include <vector>

namespace khost {

inline constexpr std::size_t kCacheLine = 64;

// The cache lines of `bytes` bytes from `p`. [any thread; reads nothing]
inline void PrefetchBytes(const void* p, std::size_t bytes) {
  const char* first = static_cast<const char*>(p);
  for (std::size_t offset = 0; offset < bytes; offset += kCacheLine)
    _mm_prefetch(first + offset, _MM_HINT_T0);
  if (bytes != 0) _mm_prefetch(first + bytes - 1, _MM_HINT_T0);
}

// A vector's elements.
template <class T>
void Prefetch(const std::vector<T>& v) {
  PrefetchBytes(v.data(), v.size() * sizeof(T));
}

}  // namespace khost
