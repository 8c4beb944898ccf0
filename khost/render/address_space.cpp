#include "khost/render/address_space.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

namespace khost {

namespace {

constexpr long long kBaseKiB = 420'000;       // context, shader compiler, buffers
constexpr long long kPerThreadKiB = 160'000;  // a rasteriser thread's stack and heap
constexpr long long kBytesPerPixel = 32;      // colour and depth, front and back, read-back
constexpr long long kBytesPerVertex = 256;    // skinned copies and their GL buffers
constexpr int kMaxThreads = 32;

// The process's address space now, in KiB (/proc/self/statm's first field,
// in pages).
long long HeldKiB() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0;
  if (!(statm >> pages)) return 0;
  return pages * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int RendererThreads() {
  if (const char* configured = std::getenv("LP_NUM_THREADS"); configured && *configured) {
    char* end = nullptr;
    const long threads = std::strtol(configured, &end, 10);
    if (*end == '\0' && threads >= 0) return static_cast<int>(std::min<long>(threads, kMaxThreads));
  }
  cpu_set_t set;
  int processors = 0;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) processors = CPU_COUNT(&set);
  if (processors <= 0) processors = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  return std::clamp(processors, 1, kMaxThreads);
}

long long RendererNeedKiB(int threads, long long windowPixels, std::size_t vertices) {
  return kBaseKiB + kPerThreadKiB * std::max(threads, 0) +
         std::max(windowPixels, 0LL) * kBytesPerPixel / 1024 +
         static_cast<long long>(vertices) * kBytesPerVertex / 1024;
}

Status CheckRendererAddressSpace(long long windowPixels, std::size_t vertices) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return {};
  const long long limitKiB = static_cast<long long>(limit.rlim_cur / 1024);
  const long long held = HeldKiB();
  const int threads = RendererThreads();
  const long long need = RendererNeedKiB(threads, windowPixels, vertices);
  if (limitKiB - held >= need) return {};
  return Failure("the address-space limit (ulimit -v) of " + std::to_string(limitKiB) +
                 " KiB is too small for the renderer: khost holds " + std::to_string(held) +
                 " KiB and the renderer needs about " + std::to_string(need) + " KiB more (with " +
                 std::to_string(threads) + " rasteriser threads); raise the limit to at least " +
                 std::to_string(held + need) + " KiB");
}

}  // namespace khost
