// A model read from a scene file, in the host's own terms: a node
// hierarchy, skin slots (the matrices vertices are blended with), one vertex
// and index list shared by all meshes, a material per mesh (base colour,
// alpha, sidedness, a base-colour image), the decoded images, and the
// animation clips. Instances of it make up the crowd scene.
//
// Models travel from the importing child process to the host as bytes
// (model_encoding.h) and are checked by SanitizeModel before use, so a
// file's bad numbers never reach the evaluation or the GPU. A sanitised
// model is not changed again. [any thread] several read it at once (the
// scene shares it with the pool's steps).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The most a model's images hold: each at most kMaxImageSide pixels a side
// and all of them together at most kImageBudgetBytes of RGBA. The import
// scales larger ones down (and says so); the bytes from the import are
// refused beyond these.
inline constexpr int kMaxImageSide = 4096;
inline constexpr std::size_t kImageBudgetBytes = std::size_t{256} << 20;

// How an image repeats beyond [0, 1] along one texture axis.
enum class ImageWrap : uint8_t { kRepeat, kClamp, kMirror };

// Which of a mesh's faces are drawn: a one-sided mesh's faces seen from
// behind are not; a two-sided one's are, lit as their backs. Most formats
// do not say (their meshes are drawn from both sides, lit by their
// normals as given, as their files are often wound either way).
enum class Sidedness : uint8_t { kUnstated, kOneSided, kTwoSided };

// What a mesh's alpha (base colour, vertex colour and texel alphas
// multiplied) does: nothing (opaque), cuts out the fragments below
// AlphaCutoff (mask), or blends the mesh over what is behind it.
enum class AlphaMode : uint8_t { kOpaque, kMask, kBlend };

// An image decoded to 8-bit RGBA in sRGB, rows from the top. Copies of a
// model (the crowd's prepared model, a rebuilt crowd) share the pixels.
struct ModelImage {
  std::string Name;  // the file it came from, or how the model names an embedded one
  int Width = 0;
  int Height = 0;
  std::shared_ptr<const std::vector<uint8_t>> Rgba;  // Width * Height * 4 bytes
  // Whether the pixels are all there, the sides within kMaxImageSide.
  bool Usable() const;
};

// A vertex's place in its mesh's image: U across from the left edge, V
// down from the top row (as the image's rows are held).
struct TexCoord {
  float U = 0.0f;
  float V = 0.0f;
};

// A vertex's colour, RGBA from 0 to 255.
struct VertexColour {
  uint8_t Rgba[4] = {255, 255, 255, 255};
};

struct ModelMesh {
  std::string Name;
  std::size_t FirstVertex = 0;
  std::size_t VertexCount = 0;
  std::size_t FirstIndex = 0;  // into Model::Indices; indices are absolute
  std::size_t IndexCount = 0;
  // The material: its base colour and opacity, multiplied by the vertex
  // colours (when VertexColours) and by the image's texels (Image, an index
  // into Model::Images, or -1 for none).
  float Colour[3] = {0.8f, 0.8f, 0.8f};
  float Opacity = 1.0f;
  bool VertexColours = false;
  int Image = -1;
  ImageWrap WrapU = ImageWrap::kRepeat;
  ImageWrap WrapV = ImageWrap::kRepeat;
  AlphaMode Alpha = AlphaMode::kOpaque;
  float AlphaCutoff = 0.5f;  // kMask only
  Sidedness Sides = Sidedness::kUnstated;
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
  // Per vertex, or empty when no mesh uses them: where it lies in its
  // mesh's image, and its colour (white for meshes without colours).
  std::vector<TexCoord> TexCoords;
  std::vector<VertexColour> Colours;
  std::vector<ModelImage> Images;
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
// side of zero (dropped) and clip lengths past it (cut to the last key),
// materials naming missing images or texture coordinates and colours that
// are not there, non-finite material numbers. Appends a line per kind of
// repair to *notes (when given). Returns false, with the reason in *notes,
// when nothing is left to draw.
bool SanitizeModel(Model& model, std::string* notes);

// Gives a model without meshes a thin double pyramid along every bone of
// its skeleton, each bound to the bone's parent node. Does nothing when the
// model has meshes or fewer than two nodes.
void AddSkeletonMesh(Model& model);

}  // namespace khost
