// The vertex data that CPU skinning reads, laid out for its kernels.
//
// A skinned mesh's vertices are split into runs of consecutive vertices with
// the same number of influences (1 to 4), so a kernel blends exactly the
// matrices a vertex uses, without tests or zero weights. Each run packs what
// the kernel reads in streams: bind position and normal (six floats a
// vertex), then the run's bone indices and weights (as many a vertex as the
// run has influences). A mesh whose vertices are sorted by influence count
// (see crowd_model.h) has at most four runs per mesh.
//
// The skin matrices are read as columns (SkinColumns): column c holds row
// entries m[0][c], m[1][c], m[2][c] and a fourth lane (0 for the three axes,
// 1 for the translation), so a vertex's blended matrix is four vector
// sums and its transform three multiply-adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "khost/runtime/math3d.h"
#include "khost/runtime/skinning.h"

namespace khost {

// A skin matrix as four 16-byte aligned columns.
struct alignas(16) SkinColumns {
  float Column[4][4];
};

// Writes `count` matrices in column form. [any thread] writes only
// `columns`.
void ToSkinColumns(const Mat34* rows, std::size_t count, SkinColumns* columns);

// A run of consecutive vertices [First, First + Count) with `Influences`
// influences each. Deformed is the index of its first vertex in the
// layout's deformation order (runs one after the other); Stream is the
// offset of its first bone and weight in Bones() and Weights().
struct SkinRun {
  std::size_t First = 0;
  std::size_t Count = 0;
  int Influences = 1;
  std::size_t Deformed = 0;
  std::size_t Stream = 0;
};

// Immutable once built. [any thread] shared by every character drawing the
// same mesh and read by any number of threads at once.
class SkinLayout {
 public:
  SkinLayout() = default;
  // Lays out the vertices of `ranges` ([first, end) index pairs into
  // `vertices`, in any order, not overlapping) for skinning with
  // `boneCount` matrices. An influence of weight 0, or naming a bone outside
  // [0, boneCount), is left out; a vertex left without influences keeps one
  // of weight 0 on bone 0, so it skins to the origin as the reference kernel
  // does. Vertices outside the ranges are never written by the kernels.
  SkinLayout(const std::vector<SkinVertex>& vertices,
             const std::vector<std::pair<std::size_t, std::size_t>>& ranges, int boneCount);

  // Vertices the kernels deform, and the influences they blend in all.
  std::size_t DeformedCount() const { return mDeformed; }
  std::size_t InfluenceCount() const { return mBones.size(); }
  // How many vertices have each number of influences (index 1 to 4).
  std::size_t VerticesWith(int influences) const;
  const std::vector<SkinRun>& Runs() const { return mRuns; }
  // Position and normal, six floats per deformed vertex in deformation order.
  const float* Attributes() const { return mAttributes.data(); }
  const uint16_t* Bones() const { return mBones.data(); }
  const float* Weights() const { return mWeights.data(); }
  // The bytes one pass over all deformed vertices reads from the layout and
  // writes to the output (position and normal): what a memory copy of the
  // same traffic would move.
  std::size_t PassBytes() const;

 private:
  std::vector<SkinRun> mRuns;
  std::vector<float> mAttributes;
  std::vector<uint16_t> mBones;
  std::vector<float> mWeights;
  std::size_t mDeformed = 0;
};

}  // namespace khost
