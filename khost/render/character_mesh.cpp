#include "khost/render/character_mesh.h"

#include <algorithm>

#include "khost/scene/scene.h"

namespace khost {

std::vector<unsigned> CharacterMeshIndices(std::size_t vertexCount, int lod) {
  lod = std::clamp(lod, 0, kCharacterLevels - 1);
  const int ringStep = 1 << lod;
  const int around = lod >= 2 ? 2 : 1;
  std::vector<int> rings;
  for (int r = 0; r < kMeshRings; r += ringStep) rings.push_back(r);
  if (rings.back() != kMeshRings - 1) rings.push_back(kMeshRings - 1);
  const std::size_t segmentSize = static_cast<std::size_t>(kMeshRings) * kMeshRingVertices;
  const std::size_t segments = vertexCount / segmentSize;
  std::vector<unsigned> indices;
  indices.reserve(segments * (rings.size() - 1) * (kMeshRingVertices / around) * 6);
  for (std::size_t s = 0; s < segments; ++s) {
    const unsigned base = static_cast<unsigned>(s * segmentSize);
    for (std::size_t i = 0; i + 1 < rings.size(); ++i) {
      const unsigned ra = base + static_cast<unsigned>(rings[i] * kMeshRingVertices);
      const unsigned rb = base + static_cast<unsigned>(rings[i + 1] * kMeshRingVertices);
      for (int k = 0; k < kMeshRingVertices; k += around) {
        const unsigned k0 = static_cast<unsigned>(k);
        const unsigned k1 = static_cast<unsigned>((k + around) % kMeshRingVertices);
        indices.insert(indices.end(), {ra + k0, rb + k0, rb + k1, ra + k0, rb + k1, ra + k1});
      }
    }
  }
  return indices;
}

}  // namespace khost
