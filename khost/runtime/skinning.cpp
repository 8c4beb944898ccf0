#include "khost/runtime/skinning.h"

#include <cmath>

namespace khost {

bool NormalizeInfluences(SkinVertex& vertex, int boneCount) {
  float sum = 0.0f;
  for (int i = 0; i < kMaxInfluences; ++i) {
    float& w = vertex.Weights[i];
    if (!std::isfinite(w) || w < 0.0f || static_cast<int>(vertex.Bones[i]) >= boneCount) w = 0.0f;
    if (w == 0.0f) vertex.Bones[i] = 0;
    sum += w;
  }
  if (sum > 0.0f && std::isfinite(sum)) {
    const float inv = 1.0f / sum;
    for (float& w : vertex.Weights) w *= inv;
    return true;
  }
  for (int i = 0; i < kMaxInfluences; ++i) {
    vertex.Bones[i] = 0;
    vertex.Weights[i] = 0.0f;
  }
  vertex.Weights[0] = 1.0f;
  return false;
}

void SkinVertices(const Mat34* skinMatrices, const SkinVertex* vertices, std::size_t begin,
                  std::size_t end, Vec3* outPositions, Vec3* outNormals) {
  for (std::size_t k = begin; k < end; ++k) {
    const SkinVertex& v = vertices[k];
    // Blend the matrices first: one 3x4 accumulation per influence, then a
    // single transform of position and normal.
    float blend[3][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    for (int i = 0; i < kMaxInfluences; ++i) {
      const float w = v.Weights[i];
      if (w == 0.0f) continue;
      const Mat34& s = skinMatrices[v.Bones[i]];
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) blend[r][c] += w * s.m[r][c];
      }
    }
    const Vec3 p = v.Position;
    const Vec3 n = v.Normal;
    outPositions[k] = {blend[0][0] * p.x + blend[0][1] * p.y + blend[0][2] * p.z + blend[0][3],
                       blend[1][0] * p.x + blend[1][1] * p.y + blend[1][2] * p.z + blend[1][3],
                       blend[2][0] * p.x + blend[2][1] * p.y + blend[2][2] * p.z + blend[2][3]};
    outNormals[k] = Normalize({blend[0][0] * n.x + blend[0][1] * n.y + blend[0][2] * n.z,
                               blend[1][0] * n.x + blend[1][1] * n.y + blend[1][2] * n.z,
                               blend[2][0] * n.x + blend[2][1] * n.y + blend[2][2] * n.z});
  }
}

}  // namespace khost
