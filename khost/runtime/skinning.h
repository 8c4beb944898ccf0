// Linear-blend skinning of a character mesh on the CPU.
#pragma once

#include <cstddef>
#include <cstdint>

#include "khost/runtime/math3d.h"

namespace khost {

enum { kMaxInfluences = 4 };

// One vertex of a skinned mesh in its bind pose, with up to four bone
// influences. Unused influence slots have weight 0.
struct SkinVertex {
  Vec3 Position;
  Vec3 Normal;
  uint16_t Bones[kMaxInfluences] = {0, 0, 0, 0};
  float Weights[kMaxInfluences] = {0, 0, 0, 0};
};

// Makes a vertex's weights usable by SkinVertices: negative and non-finite
// weights and influences naming a bone outside [0, boneCount) are dropped,
// the rest are scaled to sum to 1. A vertex left with no weight at all is
// bound rigidly to bone 0, so it follows the skeleton's root instead of
// collapsing to the origin. Returns false when the vertex had to be repaired
// that way (boneCount <= 0 also binds to bone 0 and returns false).
// [any thread] writes only `vertex`.
bool NormalizeInfluences(SkinVertex& vertex, int boneCount);

// Deforms vertices [begin, end): position' = (sum_i w_i S_i) p and
// normal' = normalize((sum_i w_i S_i) n) with S the skin matrices (world x
// inverse bind). The vertices must have been normalised for `skinMatrices`.
// Writes outPositions[k] and outNormals[k] for every k in the range.
// [any thread] writes nothing else.
void SkinVertices(const Mat34* skinMatrices, const SkinVertex* vertices, std::size_t begin,
                  std::size_t end, Vec3* outPositions, Vec3* outNormals);

}  // namespace khost
