// A model prepared for a crowd: the layout its instances are deformed and
// drawn with.
//
// Within each mesh the vertices are sorted by their number of influences
// (stable, so the order within a count stays the file's), and the indices,
// texture coordinates and colours follow, so the skin layout has at most
// four runs per mesh. A mesh whose every vertex follows one skin slot alone
// (a mesh without bones follows its node that way) is rigid: it is drawn
// with that slot's matrix and never deformed per frame.
#pragma once

#include <memory>
#include <vector>

#include "khost/runtime/model.h"
#include "khost/runtime/skin_layout.h"

namespace khost {

struct CrowdModel {
  // The model with its vertices reordered (same meshes, slots, nodes and
  // clips; each mesh keeps its vertex and index ranges).
  std::shared_ptr<const Model> Drawn;
  // Drawn's vertices that are deformed each frame: those of the meshes
  // that are not rigid.
  std::shared_ptr<const SkinLayout> Skin;
  // Per mesh of Drawn: the slot a rigid mesh follows, or -1 for a skinned
  // mesh.
  std::vector<int> MeshSlots;
};

// Prepares a sanitised model (see SanitizeModel). [any thread] borrows
// `model` for the call.
CrowdModel PrepareCrowdModel(const Model& model);

}  // namespace khost
