#include "khost/runtime/model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "khost/base/quoting.h"

namespace khost {

namespace {

bool Finite(Vec3 v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
bool Finite(Quat q) {
  return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}
bool Finite(const Mat34& m) {
  for (const auto& row : m.m)
    for (float f : row)
      if (!std::isfinite(f)) return false;
  return true;
}

// A unit quaternion, or the identity for one that cannot be normalised.
Quat UnitOrIdentity(Quat q) {
  if (!Finite(q)) return Quat{};
  const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(length > 1e-12f) || !std::isfinite(length)) return Quat{};
  return NormalizeQuat(q);
}

// Keys dropped from a clip, by reason.
struct DroppedKeys {
  std::size_t NonFinite = 0;
  std::size_t OutOfRange = 0;  // beyond kMaxClipTicks either side of zero
};

template <class Key>
void SanitizeKeys(std::vector<Key>& keys, DroppedKeys& dropped) {
  std::erase_if(keys, [&](const Key& k) {
    if (!std::isfinite(k.Time) || !Finite(k.Value)) {
      ++dropped.NonFinite;
      return true;
    }
    if (std::fabs(k.Time) > kMaxClipTicks) {
      ++dropped.OutOfRange;
      return true;
    }
    return false;
  });
  std::stable_sort(keys.begin(), keys.end(),
                   [](const Key& a, const Key& b) { return a.Time < b.Time; });
  if constexpr (std::is_same_v<Key, RotationKey>) {
    for (Key& k : keys) k.Value = UnitOrIdentity(k.Value);
  }
}

// The time of the clip's latest key; 0 when it has none.
double LastKeyTime(const Clip& clip) {
  double last = 0.0;
  for (const NodeChannel& channel : clip.Channels) {
    if (!channel.Positions.empty()) last = std::max(last, channel.Positions.back().Time);
    if (!channel.Rotations.empty()) last = std::max(last, channel.Rotations.back().Time);
    if (!channel.Scales.empty()) last = std::max(last, channel.Scales.back().Time);
  }
  return last;
}

void Note(std::string* notes, const std::string& line) {
  if (notes) *notes += line + "\n";
}

// The per-vertex texture coordinates and colours: one per vertex or none,
// the coordinates finite. Images that cannot be drawn are dropped: returns
// where each image went (-1: dropped), for SanitizeMaterial.
std::vector<int> SanitizeSurfaces(Model& model, std::string* notes) {
  std::size_t dropped = 0;
  if (!model.TexCoords.empty() && model.TexCoords.size() != model.Vertices.size()) {
    model.TexCoords.clear();
    ++dropped;
  }
  if (!model.Colours.empty() && model.Colours.size() != model.Vertices.size()) {
    model.Colours.clear();
    ++dropped;
  }
  if (dropped) Note(notes, "texture coordinates or vertex colours that miss vertices dropped");
  std::size_t repaired = 0;
  for (TexCoord& t : model.TexCoords) {
    if (!std::isfinite(t.U) || !std::isfinite(t.V)) t = TexCoord{}, ++repaired;
  }
  if (repaired) Note(notes, std::to_string(repaired) + " non-finite texture coordinates zeroed");
  std::vector<int> kept;
  std::vector<ModelImage> images;
  for (ModelImage& image : model.Images) {
    kept.push_back(image.Usable() ? static_cast<int>(images.size()) : -1);
    if (image.Usable()) images.push_back(std::move(image));
  }
  model.Images = std::move(images);
  return kept;
}

// `value` within [0, 1]; a number that is not finite is a repair (one
// beyond the range is only kept within it, as files write such colours).
float Clamped(float value, float otherwise, std::size_t& repaired) {
  if (std::isfinite(value)) return std::clamp(value, 0.0f, 1.0f);
  ++repaired;
  return otherwise;
}

// A mesh's material within what drawing takes; counts the meshes repaired.
// `kept`: where each image went (SanitizeSurfaces).
void SanitizeMaterial(const Model& model, const std::vector<int>& kept, ModelMesh& mesh,
                      std::size_t& materials) {
  std::size_t repaired = 0;
  for (float& c : mesh.Colour) c = Clamped(c, 0.8f, repaired);
  mesh.Opacity = Clamped(mesh.Opacity, 1.0f, repaired);
  mesh.AlphaCutoff = Clamped(mesh.AlphaCutoff, 0.5f, repaired);
  if (mesh.Image != -1) {
    const int image = mesh.Image >= 0 && static_cast<std::size_t>(mesh.Image) < kept.size() &&
                              !model.TexCoords.empty()
                          ? kept[static_cast<std::size_t>(mesh.Image)]
                          : -1;
    if (image < 0) ++repaired;
    mesh.Image = image;
  }
  if (mesh.VertexColours && model.Colours.empty()) mesh.VertexColours = false, ++repaired;
  materials += repaired > 0 ? 1 : 0;
}

}  // namespace

bool ModelImage::Usable() const {
  return Width > 0 && Height > 0 && Width <= kMaxImageSide && Height <= kMaxImageSide && Rgba &&
         Rgba->size() == static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height) * 4;
}

double Clip::Seconds() const {
  const double rate = TicksPerSecond > 0.0 && std::isfinite(TicksPerSecond) ? TicksPerSecond : 25.0;
  return Duration > 0.0 && std::isfinite(Duration) ? Duration / rate : 0.0;
}

bool SanitizeModel(Model& model, std::string* notes) {
  const int nodeCount = static_cast<int>(model.Nodes.size());
  if (nodeCount == 0) {
    Note(notes, "it has no nodes");
    return false;
  }
  std::size_t repaired = 0;
  for (int i = 0; i < nodeCount; ++i) {
    ModelNode& node = model.Nodes[static_cast<std::size_t>(i)];
    if (node.Parent >= i || node.Parent < -1) {
      node.Parent = i == 0 ? -1 : 0;
      ++repaired;
    }
    if (!Finite(node.Translation)) node.Translation = {}, ++repaired;
    if (!Finite(node.Scale)) node.Scale = {1, 1, 1}, ++repaired;
    const Quat unit = UnitOrIdentity(node.Rotation);
    if (!Finite(node.Rotation)) ++repaired;
    node.Rotation = unit;
  }
  if (repaired) Note(notes, std::to_string(repaired) + " node transforms or parents repaired");
  if (model.Meshes.empty()) AddSkeletonMesh(model);

  repaired = 0;
  for (SkinSlot& slot : model.Slots) {
    if (slot.Node < 0 || slot.Node >= nodeCount) slot.Node = 0, ++repaired;
    if (!Finite(slot.Offset)) slot.Offset = Mat34{}, ++repaired;
  }
  if (repaired) Note(notes, std::to_string(repaired) + " bone offsets or nodes repaired");
  if (model.Slots.empty()) model.Slots.push_back({0, Mat34{}});
  const int slotCount = static_cast<int>(model.Slots.size());

  std::size_t badVertices = 0;
  std::size_t unweighted = 0;
  for (SkinVertex& v : model.Vertices) {
    if (!Finite(v.Position)) v.Position = {}, ++badVertices;
    if (!Finite(v.Normal) || Length(v.Normal) < 1e-6f) {
      v.Normal = {0, 1, 0};
    } else {
      v.Normal = Normalize(v.Normal);
    }
    if (!NormalizeInfluences(v, slotCount)) ++unweighted;
  }
  if (badVertices) Note(notes, std::to_string(badVertices) + " non-finite vertex positions zeroed");
  if (unweighted) Note(notes, std::to_string(unweighted) + " vertices without usable weights");

  const std::vector<int> keptImages = SanitizeSurfaces(model, notes);

  // Meshes: ranges inside the lists, triangles whose indices stay inside
  // their own mesh.
  std::vector<uint32_t> indices;
  std::size_t droppedTriangles = 0;
  std::vector<ModelMesh> meshes;
  std::size_t materials = 0;
  for (ModelMesh mesh : model.Meshes) {
    if (mesh.FirstVertex > model.Vertices.size()) continue;
    mesh.VertexCount = std::min(mesh.VertexCount, model.Vertices.size() - mesh.FirstVertex);
    if (mesh.FirstIndex > model.Indices.size()) mesh.FirstIndex = model.Indices.size();
    mesh.IndexCount = std::min(mesh.IndexCount, model.Indices.size() - mesh.FirstIndex);
    const std::size_t first = indices.size();
    for (std::size_t k = 0; k + 3 <= mesh.IndexCount; k += 3) {
      const uint32_t* t = &model.Indices[mesh.FirstIndex + k];
      bool ok = true;
      for (int c = 0; c < 3; ++c) {
        ok = ok && t[c] >= mesh.FirstVertex && t[c] - mesh.FirstVertex < mesh.VertexCount;
      }
      if (!ok) {
        ++droppedTriangles;
        continue;
      }
      indices.insert(indices.end(), t, t + 3);
    }
    mesh.FirstIndex = first;
    mesh.IndexCount = indices.size() - first;
    SanitizeMaterial(model, keptImages, mesh, materials);
    if (mesh.IndexCount > 0) meshes.push_back(mesh);
  }
  if (droppedTriangles)
    Note(notes, std::to_string(droppedTriangles) + " triangles with indices out of range dropped");
  if (materials)
    Note(notes, std::to_string(materials) +
                    " materials repaired (numbers not finite, missing images or vertex data)");
  model.Indices = std::move(indices);
  model.Meshes = std::move(meshes);

  for (Clip& clip : model.Clips) {
    if (!std::isfinite(clip.Duration) || clip.Duration < 0.0) clip.Duration = 0.0;
    if (!std::isfinite(clip.TicksPerSecond) || clip.TicksPerSecond < 0.0) clip.TicksPerSecond = 0.0;
    DroppedKeys dropped;
    std::erase_if(clip.Channels,
                  [&](const NodeChannel& c) { return c.Node < 0 || c.Node >= nodeCount; });
    for (NodeChannel& channel : clip.Channels) {
      SanitizeKeys(channel.Positions, dropped);
      SanitizeKeys(channel.Rotations, dropped);
      SanitizeKeys(channel.Scales, dropped);
    }
    const std::string clipName = "clip " + QuoteArgument(clip.Name) + ": ";
    const std::string limit = std::to_string(static_cast<long long>(kMaxClipTicks));
    if (dropped.NonFinite)
      Note(notes, clipName + std::to_string(dropped.NonFinite) + " non-finite keys dropped");
    if (dropped.OutOfRange)
      Note(notes, clipName + std::to_string(dropped.OutOfRange) +
                      " keys at times out of the range the host plays (-" + limit + " to " + limit +
                      " ticks) dropped");
    if (clip.Duration > kMaxClipTicks) {
      clip.Duration = LastKeyTime(clip);
      Note(notes, clipName + "its length is past what the host plays (" + limit +
                      " ticks); cut to its last key");
    }
  }

  if (model.Meshes.empty()) {
    Note(notes, "nothing to draw: it has no triangles and no skeleton");
    return false;
  }
  return true;
}

void AddSkeletonMesh(Model& model) {
  if (!model.Meshes.empty() || model.Nodes.size() < 2) return;
  // Each bone's size follows the skeleton's: a tenth of its longest bone
  // at most, a fifth of its own length.
  float longest = 0.0f;
  for (const ModelNode& node : model.Nodes) longest = std::max(longest, Length(node.Translation));
  if (!(longest > 0.0f) || !std::isfinite(longest)) return;
  ModelMesh mesh;
  mesh.Name = "skeleton";
  mesh.FirstVertex = model.Vertices.size();
  mesh.FirstIndex = model.Indices.size();
  mesh.Colour[0] = 0.9f;
  mesh.Colour[1] = 0.75f;
  mesh.Colour[2] = 0.3f;
  std::vector<int> slotOfNode(model.Nodes.size(), -1);
  for (std::size_t i = 1; i < model.Nodes.size(); ++i) {
    const int parent = model.Nodes[i].Parent;
    if (parent < 0) continue;
    const Vec3 end = model.Nodes[i].Translation;  // in the parent's space
    const float length = Length(end);
    if (!(length > longest * 1e-3f)) continue;
    if (slotOfNode[static_cast<std::size_t>(parent)] < 0) {
      slotOfNode[static_cast<std::size_t>(parent)] = static_cast<int>(model.Slots.size());
      model.Slots.push_back({parent, Mat34{}});
    }
    const uint16_t slot = static_cast<uint16_t>(slotOfNode[static_cast<std::size_t>(parent)]);
    const Vec3 axis = end * (1.0f / length);
    const Vec3 helper = std::fabs(axis.y) < 0.9f ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    const Vec3 u = Normalize(Cross(axis, helper));
    const Vec3 v = Cross(axis, u);
    const float width = std::min(length * 0.2f, longest * 0.1f);
    const Vec3 middle = end * 0.25f;
    const Vec3 ring[4] = {middle + u * width, middle + v * width, middle - u * width,
                          middle - v * width};
    // Two pyramids on a square ring, flat-shaded: three vertices a face.
    for (int k = 0; k < 4; ++k) {
      const Vec3 a = ring[k];
      const Vec3 b = ring[(k + 1) % 4];
      for (const Vec3 tip : {Vec3{}, end}) {
        const bool top = tip.x == end.x && tip.y == end.y && tip.z == end.z;
        const Vec3 p[3] = {top ? a : b, top ? b : a, tip};
        Vec3 n = Normalize(Cross(p[1] - p[0], p[2] - p[0]));
        const uint32_t base = static_cast<uint32_t>(model.Vertices.size());
        for (const Vec3& q : p) {
          SkinVertex vertex;
          vertex.Position = q;
          vertex.Normal = n;
          vertex.Bones[0] = slot;
          vertex.Weights[0] = 1.0f;
          model.Vertices.push_back(vertex);
        }
        model.Indices.insert(model.Indices.end(), {base, base + 1, base + 2});
      }
    }
  }
  mesh.VertexCount = model.Vertices.size() - mesh.FirstVertex;
  mesh.IndexCount = model.Indices.size() - mesh.FirstIndex;
  if (mesh.IndexCount > 0) {
    model.Meshes.push_back(mesh);
    model.SkeletonOnly = true;
  }
}

}  // namespace khost
