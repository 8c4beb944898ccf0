// A model read from a scene file, in the host's own terms: a node
// hierarchy, skin slots (the matrices vertices are blended with), one vertex
// and index list shared by all meshes, a base colour per mesh, and the
// animation clips. Instances of it make up the crowd scene.
//
// Models travel from the importing child process to the host as bytes
// (Serialize / Deserialize) and are checked by Sanitize before use, so a
// file's bad numbers never reach the evaluation or the GPU. A sanitised
// model is not changed again. [any thread] several read it at once (the
// scene shares it with the pool's steps).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "khost/runtime/math3d.h"
#include "khost/runtime/skinning.h"

namespace khost {

struct ModelNode {
  std::string Name;
  int Parent = -1;  // always a lower index: parents come before children
  // The bind (rest) transform relative to the parent.
  Vec3 Translation;
  Quat Rotation;
  Vec3 Scale{1.0f, 1.0f, 1.0f};
};

struct VectorKey {
  double Time = 0.0;  // ticks
  Vec3 Value;
};
struct RotationKey {
  double Time = 0.0;
  Quat Value;
};

// The keys of one node in one clip; an empty list leaves that part of the
// node at its bind value.
struct NodeChannel {
  int Node = 0;
  std::vector<VectorKey> Positions;
  std::vector<RotationKey> Rotations;
  std::vector<VectorKey> Scales;
};

// The latest tick a clip's keys and length may reach: playback holds a
// clip's time in single precision (ClipTracks), which keeps every whole tick
// up to 2^24 and none past about 3.4e38.
inline constexpr double kMaxClipTicks = 16777216.0;

struct Clip {
  std::string Name;
  double Duration = 0.0;        // ticks; 0: a still pose
  double TicksPerSecond = 0.0;  // 0: 25 ticks a second
  std::vector<NodeChannel> Channels;
  // The clip's length in seconds (0 for a still pose).
  double Seconds() const;
};

// A skin slot: vertices weighted to it follow Node's world matrix times
// Offset (mesh space to the node's bind space). A mesh without bones gets
// one slot for its own node with the identity offset.
struct SkinSlot {
  int Node = 0;
  Mat34 Offset;
};

struct ModelMesh {
  std::string Name;
  std::size_t FirstVertex = 0;
  std::size_t VertexCount = 0;
  std::size_t FirstIndex = 0;  // into Model::Indices; indices are absolute
  std::size_t IndexCount = 0;
  float Colour[3] = {0.8f, 0.8f, 0.8f};
};

struct Model {
  std::string Source;  // the file it came from
  std::string Notes;   // what the import or SanitizeModel repaired, a line each
  // Every file the import read: the scene file and the files beside it that
  // it names. Not part of the bytes (Serialize): the import sends it apart.
  std::vector<std::string> ReadFiles;
  std::vector<ModelNode> Nodes;
  std::vector<SkinSlot> Slots;
  std::vector<SkinVertex> Vertices;  // Bones[] index Slots
  std::vector<uint32_t> Indices;     // triangles
  std::vector<ModelMesh> Meshes;
  std::vector<Clip> Clips;
  // True when the file had no mesh and its skeleton was given one (a
  // motion-capture file): a thin bone between every joint and its parent.
  bool SkeletonOnly = false;
};

// Repairs what a file may get wrong so that evaluation and drawing are
// safe: non-finite numbers (positions, normals, transforms, keys), indices
// out of range (their triangles are dropped), node parents that are not
// earlier nodes, slots and channels naming missing nodes, weights that do
// not add up, keys out of order, keys at times beyond kMaxClipTicks either
// side of zero (dropped) and clip lengths past it (cut to the last key). Appends a line per kind of
// repair to *notes (when given). Returns false, with the reason in *notes, when nothing is left to
// draw.
bool SanitizeModel(Model& model, std::string* notes);

// Gives a model without meshes a thin double pyramid along every bone of
// its skeleton, each bound to the bone's parent node. Does nothing when the
// model has meshes or fewer than two nodes.
void AddSkeletonMesh(Model& model);

// The model as bytes and back. Deserialize rejects a truncated or
// inconsistent byte string (returns false) rather than trusting counts.
std::string SerializeModel(const Model& model);
bool DeserializeModel(const std::string& bytes, Model& model);

}  // namespace khost
