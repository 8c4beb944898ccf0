#include "khost/runtime/skin_layout.h"

#include <algorithm>

namespace khost {

void ToSkinColumns(const Mat34* rows, std::size_t count, SkinColumns* columns) {
  for (std::size_t k = 0; k < count; ++k) {
    const Mat34& m = rows[k];
    SkinColumns& out = columns[k];
    for (int c = 0; c < 4; ++c) {
      out.Column[c][0] = m.m[0][c];
      out.Column[c][1] = m.m[1][c];
      out.Column[c][2] = m.m[2][c];
      out.Column[c][3] = c == 3 ? 1.0f : 0.0f;
    }
  }
}

SkinLayout::SkinLayout(const std::vector<SkinVertex>& vertices,
                       const std::vector<std::pair<std::size_t, std::size_t>>& ranges,
                       int boneCount) {
  for (const auto& [first, end] : ranges) {
    const std::size_t stop = std::min(end, vertices.size());
    for (std::size_t k = first; k < stop; ++k) {
      const SkinVertex& v = vertices[k];
      uint16_t bones[kMaxInfluences];
      float weights[kMaxInfluences];
      int n = 0;
      for (int i = 0; i < kMaxInfluences; ++i) {
        if (v.Weights[i] == 0.0f || static_cast<int>(v.Bones[i]) >= boneCount) continue;
        bones[n] = v.Bones[i];
        weights[n] = v.Weights[i];
        ++n;
      }
      if (n == 0) {
        bones[0] = 0;
        weights[0] = 0.0f;
        n = 1;
      }
      // A new run where the influence count changes or the vertices stop
      // being consecutive.
      if (mRuns.empty() || mRuns.back().Influences != n ||
          mRuns.back().First + mRuns.back().Count != k) {
        mRuns.push_back({k, 0, n, mDeformed, mBones.size()});
      }
      ++mRuns.back().Count;
      ++mDeformed;
      mAttributes.insert(mAttributes.end(), {v.Position.x, v.Position.y, v.Position.z, v.Normal.x,
                                             v.Normal.y, v.Normal.z});
      mBones.insert(mBones.end(), bones, bones + n);
      mWeights.insert(mWeights.end(), weights, weights + n);
    }
  }
}

std::size_t SkinLayout::VerticesWith(int influences) const {
  std::size_t count = 0;
  for (const SkinRun& run : mRuns)
    if (run.Influences == influences) count += run.Count;
  return count;
}

std::size_t SkinLayout::PassBytes() const {
  return mAttributes.size() * sizeof(float) + mBones.size() * sizeof(uint16_t) +
         mWeights.size() * sizeof(float) + mDeformed * 2 * sizeof(Vec3);
}

}  // namespace khost
