// CPU skinning kernels over a SkinLayout: linear-blend skinning of positions
// and normals with SIMD, one kernel per influence count.
//
// The baseline kernels use SSE2, which every x86-64 processor has; a second
// set uses AVX2 and fused multiply-adds and is chosen at run time when the
// processor has them, so one binary runs everywhere. Both compute
// position' = (sum_i w_i S_i) p and normal' = normalize((sum_i w_i S_i) n),
// as SkinVertices does, to float rounding (the normal's length comes from a
// reciprocal square root refined by one Newton step; a normal shorter than
// 1e-19 becomes zero).
#pragma once

#include <cstddef>

#include "khost/runtime/math3d.h"
#include "khost/runtime/skin_layout.h"

namespace khost {

enum class SimdLevel {
  Baseline,  // SSE2
  Avx2Fma,   // AVX2 with fused multiply-add
};

// Whether this processor runs kernels of `level`. [any thread]
bool SimdLevelSupported(SimdLevel level);
// The level SkinLayoutRange uses by default: the best the processor
// supports, at most the limit set below. [any thread]
SimdLevel ActiveSimdLevel();
// Caps the default level (Baseline forces the SSE2 kernels, for tests and
// comparisons). [any thread] takes effect for calls that start after it.
void LimitSimdLevel(SimdLevel highest);
// [any thread] a static name.
const char* SimdLevelName(SimdLevel level);

// Deforms the layout's vertices [begin, end) of its deformation order
// (0 to DeformedCount()) with `skin` (one SkinColumns per bone the layout
// was built for), writing each vertex's position and normal at its own
// index in `positions` and `normals`. A level the processor lacks falls
// back to the baseline. [any thread] writes nothing else, so disjoint
// ranges run on different threads at once (the pool's deformation).
void SkinLayoutRange(const SkinLayout& layout, const SkinColumns* skin, std::size_t begin,
                     std::size_t end, Vec3* positions, Vec3* normals, SimdLevel level);
inline void SkinLayoutRange(const SkinLayout& layout, const SkinColumns* skin, std::size_t begin,
                            std::size_t end, Vec3* positions, Vec3* normals) {
  SkinLayoutRange(layout, skin, begin, end, positions, normals, ActiveSimdLevel());
}

}  // namespace khost
