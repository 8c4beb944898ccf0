#include "khost/runtime/skin_kernels.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace khost {

namespace {

using RunKernel = void (*)(const SkinColumns* skin, const float* attributes, const uint16_t* bones,
                           const float* weights, std::size_t count, float* positions,
                           float* normals);

}  // namespace

// The baseline kernels: SSE2, a multiply then an add.
#define KHOST_KERNEL_TARGET
#define KHOST_MADD(a, b, c) _mm_add_ps(_mm_mul_ps((a), (b)), (c))
#define KHOST_KERNEL_NS baseline_kernels
#include "khost/runtime/skin_kernel_body.inc"
#undef KHOST_KERNEL_TARGET
#undef KHOST_MADD
#undef KHOST_KERNEL_NS

// The same with AVX2 encoding and fused multiply-adds, called only when the
// processor has both.
#define KHOST_KERNEL_TARGET __attribute__((target("avx2,fma")))
#define KHOST_MADD(a, b, c) _mm_fmadd_ps((a), (b), (c))
#define KHOST_KERNEL_NS avx2_kernels
#include "khost/runtime/skin_kernel_body.inc"
#undef KHOST_KERNEL_TARGET
#undef KHOST_MADD
#undef KHOST_KERNEL_NS

namespace {

bool ProcessorHasAvx2Fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

std::atomic<SimdLevel> gLimit{SimdLevel::Avx2Fma};

}  // namespace

bool SimdLevelSupported(SimdLevel level) {
  static const bool avx2 = ProcessorHasAvx2Fma();
  return level == SimdLevel::Baseline || (level == SimdLevel::Avx2Fma && avx2);
}

SimdLevel ActiveSimdLevel() {
  const SimdLevel limit = gLimit.load(std::memory_order_relaxed);
  return limit == SimdLevel::Avx2Fma && SimdLevelSupported(SimdLevel::Avx2Fma)
             ? SimdLevel::Avx2Fma
             : SimdLevel::Baseline;
}

void LimitSimdLevel(SimdLevel highest) {
  gLimit.store(highest, std::memory_order_relaxed);
}

const char* SimdLevelName(SimdLevel level) {
  return level == SimdLevel::Avx2Fma ? "avx2-fma" : "sse2";
}

void SkinLayoutRange(const SkinLayout& layout, const SkinColumns* skin, std::size_t begin,
                     std::size_t end, Vec3* positions, Vec3* normals, SimdLevel level) {
  const RunKernel* kernels = level == SimdLevel::Avx2Fma && SimdLevelSupported(SimdLevel::Avx2Fma)
                                 ? avx2_kernels::kRunKernels
                                 : baseline_kernels::kRunKernels;
  const std::vector<SkinRun>& runs = layout.Runs();
  end = std::min(end, layout.DeformedCount());
  // The first run that ends after `begin`.
  auto run = std::partition_point(runs.begin(), runs.end(),
                                  [&](const SkinRun& r) { return r.Deformed + r.Count <= begin; });
  float* outPositions = &positions->x;
  float* outNormals = &normals->x;
  for (; run != runs.end() && run->Deformed < end; ++run) {
    const std::size_t from = std::max(begin, run->Deformed) - run->Deformed;
    const std::size_t to = std::min(end, run->Deformed + run->Count) - run->Deformed;
    const std::size_t n = static_cast<std::size_t>(run->Influences);
    const std::size_t vertex = run->First + from;
    kernels[n - 1](skin, layout.Attributes() + 6 * (run->Deformed + from),
                   layout.Bones() + run->Stream + n * from,
                   layout.Weights() + run->Stream + n * from, to - from, outPositions + 3 * vertex,
                   outNormals + 3 * vertex);
  }
}

}  // namespace khost
