#include "khost/scene/crowd_model.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace khost {

namespace {

// Influences the skin layout gives a vertex: its non-zero weights on
// existing slots, at least one.
int InfluencesOf(const SkinVertex& v, std::size_t slots) {
  int n = 0;
  for (int i = 0; i < kMaxInfluences; ++i) n += v.Weights[i] != 0.0f && v.Bones[i] < slots ? 1 : 0;
  return std::max(n, 1);
}

// The slot every vertex of [first, end) follows alone, or -1.
int RigidSlot(const Model& m, std::size_t first, std::size_t end) {
  int slot = -1;
  for (std::size_t k = first; k < end; ++k) {
    const SkinVertex& v = m.Vertices[k];
    int only = -1;
    for (int i = 0; i < kMaxInfluences; ++i) {
      if (v.Weights[i] == 0.0f) continue;
      if (only >= 0 || v.Bones[i] >= m.Slots.size()) return -1;
      only = v.Bones[i];
    }
    if (only < 0 || (slot >= 0 && only != slot)) return -1;
    slot = only;
  }
  return slot;
}

struct Segment {
  std::size_t First = 0;
  std::size_t End = 0;
  bool Rigid = true;
};

}  // namespace

CrowdModel PrepareCrowdModel(const Model& model) {
  auto drawn = std::make_shared<Model>(model);
  Model& m = *drawn;
  const std::size_t vertexCount = m.Vertices.size();
  CrowdModel out;
  out.MeshSlots.assign(m.Meshes.size(), -1);

  // Segments: the meshes' vertex ranges, overlapping ones merged (a
  // sanitised file's meshes do not overlap, but nothing relies on it).
  std::vector<Segment> segments;
  std::vector<std::size_t> order(m.Meshes.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return m.Meshes[a].FirstVertex < m.Meshes[b].FirstVertex;
  });
  for (std::size_t index : order) {
    const ModelMesh& mesh = m.Meshes[index];
    const std::size_t first = std::min(mesh.FirstVertex, vertexCount);
    const std::size_t end = std::min(vertexCount, first + std::min(mesh.VertexCount, vertexCount));
    if (first >= end) continue;
    const int slot = RigidSlot(m, first, end);
    out.MeshSlots[index] = slot;
    if (!segments.empty() && first < segments.back().End) {
      segments.back().End = std::max(segments.back().End, end);
      segments.back().Rigid = segments.back().Rigid && slot >= 0;
    } else {
      segments.push_back({first, end, slot >= 0});
    }
  }
  // A rigid mesh overlapping a skinned one is deformed with it.
  for (std::size_t index = 0; index < m.Meshes.size(); ++index) {
    const std::size_t first = m.Meshes[index].FirstVertex;
    for (const Segment& s : segments)
      if (first >= s.First && first < s.End && !s.Rigid) out.MeshSlots[index] = -1;
  }

  // Sort each skinned segment's vertices by influence count and renumber
  // the indices.
  std::vector<uint32_t> newIndex(vertexCount);
  std::iota(newIndex.begin(), newIndex.end(), 0u);
  std::vector<SkinVertex> sorted = m.Vertices;
  // The texture coordinates and colours go where their vertices go.
  std::vector<TexCoord> texCoords = m.TexCoords;
  std::vector<VertexColour> colours = m.Colours;
  std::vector<std::pair<std::size_t, std::size_t>> deformed;
  for (const Segment& s : segments) {
    if (s.Rigid) continue;
    std::vector<std::size_t> within(s.End - s.First);
    std::iota(within.begin(), within.end(), s.First);
    std::stable_sort(within.begin(), within.end(), [&](std::size_t a, std::size_t b) {
      return InfluencesOf(m.Vertices[a], m.Slots.size()) <
             InfluencesOf(m.Vertices[b], m.Slots.size());
    });
    for (std::size_t k = 0; k < within.size(); ++k) {
      sorted[s.First + k] = m.Vertices[within[k]];
      if (!texCoords.empty()) texCoords[s.First + k] = m.TexCoords[within[k]];
      if (!colours.empty()) colours[s.First + k] = m.Colours[within[k]];
      newIndex[within[k]] = static_cast<uint32_t>(s.First + k);
    }
    deformed.emplace_back(s.First, s.End);
  }
  m.Vertices = std::move(sorted);
  m.TexCoords = std::move(texCoords);
  m.Colours = std::move(colours);
  for (uint32_t& index : m.Indices)
    if (index < vertexCount) index = newIndex[index];

  out.Skin =
      std::make_shared<const SkinLayout>(m.Vertices, deformed, static_cast<int>(m.Slots.size()));
  out.Drawn = std::move(drawn);
  return out;
}

}  // namespace khost
