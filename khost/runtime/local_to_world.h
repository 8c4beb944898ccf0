// A hierarchy's world matrices from its nodes' local transforms, and the
// skin matrices that follow from them, with SIMD on the matrix rows.
#pragma once

#include <cstddef>

#include "khost/runtime/math3d.h"
#include "khost/runtime/skin_layout.h"

namespace khost {

// world[j] = world[parents[j]] * TRS(j), or root * TRS(j) for parents[j] < 0,
// for j = 0 .. count - 1 in order: parents must come before their children
// (parents[j] < j). TRS is translation, rotation and scale (scale first);
// the rotations must be unit quaternions (they are not normalised again).
// [any thread] writes only `world`.
void LocalToWorld(const int* parents, std::size_t count, const Vec3* translations,
                  const Quat* rotations, const Vec3* scales, const Mat34& root, Mat34* world);

// skin[k] = world[nodes[k]] * offsets[k] for k = 0 .. count - 1 (the slots'
// nodes and offsets, `stride` bytes apart), also written as columns.
// [any thread] writes only `skin` and `columns`.
void SkinMatrices(const Mat34* world, const int* nodes, const Mat34* offsets, std::size_t stride,
                  std::size_t count, Mat34* skin, SkinColumns* columns);

}  // namespace khost
