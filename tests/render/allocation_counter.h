// Counts every global operator new of the test binary (the replacement lives
// in allocation_counter.cpp), so tests can prove a path allocates nothing.
#pragma once

#include <atomic>

extern std::atomic<long long> gOperatorNewCalls;

// Operator new calls made while `body` runs.
template <class F>
long long CountAllocations(F&& body) {
  const long long before = gOperatorNewCalls.load();
  body();
  return gOperatorNewCalls.load() - before;
}
