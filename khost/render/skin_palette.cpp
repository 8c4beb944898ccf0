#include "khost/render/skin_palette.h"

#include <algorithm>

namespace khost {

SkinPalette::SkinPalette(const Model& model, const std::vector<int>& meshSlots) {
  std::vector<bool> used(model.Slots.size(), false);
  for (std::size_t k = 0; k < model.Meshes.size(); ++k) {
    if (k < meshSlots.size() && meshSlots[k] >= 0) continue;
    const ModelMesh& mesh = model.Meshes[k];
    const std::size_t end = std::min(model.Vertices.size(), mesh.FirstVertex + mesh.VertexCount);
    for (std::size_t v = mesh.FirstVertex; v < end; ++v) {
      const SkinVertex& vertex = model.Vertices[v];
      for (int i = 0; i < kMaxInfluences; ++i) {
        if (vertex.Weights[i] != 0.0f && vertex.Bones[i] < used.size())
          used[vertex.Bones[i]] = true;
      }
    }
  }
  mIndex.assign(model.Slots.size(), -1);
  for (std::size_t slot = 0; slot < used.size(); ++slot) {
    if (!used[slot]) continue;
    mIndex[slot] = static_cast<int>(mSlots.size());
    mSlots.push_back(static_cast<int>(slot));
  }
}

}  // namespace khost
