// The triangles of a procedural character's mesh (a run of tube segments,
// see Scene) at each of its levels of detail.
#pragma once

#include <cstddef>
#include <vector>

namespace khost {

inline constexpr int kCharacterLevels = 4;  // levels of detail, 0 the finest

// Triangle indices of a character's mesh of `vertexCount` vertices (whole
// tube segments) at level of detail `lod` (0 finest .. 3): every
// (1 << lod)-th ring plus the last, all vertices around from level 2 on
// every second.
std::vector<unsigned> CharacterMeshIndices(std::size_t vertexCount, int lod);

}  // namespace khost
