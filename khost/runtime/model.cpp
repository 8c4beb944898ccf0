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

template <class Key>
std::size_t SanitizeKeys(std::vector<Key>& keys) {
  const std::size_t before = keys.size();
  std::erase_if(keys, [](const Key& k) {
    if (!std::isfinite(k.Time)) return true;
    if constexpr (std::is_same_v<Key, RotationKey>) {
      return !Finite(k.Value);
    } else {
      return !Finite(k.Value);
    }
  });
  std::stable_sort(keys.begin(), keys.end(),
                   [](const Key& a, const Key& b) { return a.Time < b.Time; });
  if constexpr (std::is_same_v<Key, RotationKey>) {
    for (Key& k : keys) k.Value = UnitOrIdentity(k.Value);
  }
  return before - keys.size();
}

void Note(std::string* notes, const std::string& line) {
  if (notes) *notes += line + "\n";
}

bool UsableImage(const ModelImage& image) {
  return image.Width > 0 && image.Height > 0 && image.Width <= kMaxImageSide &&
         image.Height <= kMaxImageSide && image.Rgba &&
         image.Rgba->size() ==
             static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height) * 4;
}

// The per-vertex texture coordinates and colours: one per vertex or none,
// the coordinates finite. Images that cannot be drawn are emptied (the
// meshes naming them lose them in SanitizeMaterial).
void SanitizeSurfaces(Model& model, std::string* notes) {
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
  for (ModelImage& image : model.Images) {
    if (!UsableImage(image)) image.Rgba.reset();
  }
}

float Clamped(float value, float otherwise, std::size_t& repaired) {
  if (std::isfinite(value) && value >= 0.0f && value <= 1.0f) return value;
  ++repaired;
  return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : otherwise;
}

// A mesh's material within what drawing takes; counts the meshes repaired.
void SanitizeMaterial(const Model& model, ModelMesh& mesh, std::size_t& materials) {
  std::size_t repaired = 0;
  for (float& c : mesh.Colour) c = Clamped(c, 0.8f, repaired);
  mesh.Opacity = Clamped(mesh.Opacity, 1.0f, repaired);
  mesh.AlphaCutoff = Clamped(mesh.AlphaCutoff, 0.5f, repaired);
  if (mesh.Image >= 0 &&
      (static_cast<std::size_t>(mesh.Image) >= model.Images.size() || model.TexCoords.empty() ||
       !model.Images[static_cast<std::size_t>(mesh.Image)].Rgba)) {
    mesh.Image = -1;
    ++repaired;
  }
  if (mesh.Image < -1) mesh.Image = -1, ++repaired;
  if (mesh.VertexColours && model.Colours.empty()) mesh.VertexColours = false, ++repaired;
  materials += repaired > 0 ? 1 : 0;
}

}  // namespace

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

  SanitizeSurfaces(model, notes);

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
    SanitizeMaterial(model, mesh, materials);
    if (mesh.IndexCount > 0) meshes.push_back(mesh);
  }
  if (droppedTriangles)
    Note(notes, std::to_string(droppedTriangles) + " triangles with indices out of range dropped");
  if (materials)
    Note(notes, std::to_string(materials) +
                    " materials repaired (numbers out of range, missing images or vertex data)");
  model.Indices = std::move(indices);
  model.Meshes = std::move(meshes);

  for (Clip& clip : model.Clips) {
    if (!std::isfinite(clip.Duration) || clip.Duration < 0.0) clip.Duration = 0.0;
    if (!std::isfinite(clip.TicksPerSecond) || clip.TicksPerSecond < 0.0) clip.TicksPerSecond = 0.0;
    std::size_t droppedKeys = 0;
    std::erase_if(clip.Channels,
                  [&](const NodeChannel& c) { return c.Node < 0 || c.Node >= nodeCount; });
    for (NodeChannel& channel : clip.Channels) {
      droppedKeys += SanitizeKeys(channel.Positions);
      droppedKeys += SanitizeKeys(channel.Rotations);
      droppedKeys += SanitizeKeys(channel.Scales);
    }
    if (droppedKeys)
      Note(notes, "clip " + QuoteArgument(clip.Name) + ": " + std::to_string(droppedKeys) +
                      " non-finite keys dropped");
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

// ---------------------------------------------------------------------------
// Bytes: little-endian host layout, each list led by its count. The reader
// checks every count against the bytes that remain.

namespace {

class Writer {
 public:
  template <class T>
  void Pod(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    mOut.append(reinterpret_cast<const char*>(&value), sizeof(T));
  }
  void String(const std::string& s) {
    Pod<uint64_t>(s.size());
    mOut += s;
  }
  template <class T>
  void PodList(const std::vector<T>& list) {
    Pod<uint64_t>(list.size());
    if (!list.empty())
      mOut.append(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(T));
  }
  std::string Take() { return std::move(mOut); }

 private:
  std::string mOut;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : mBytes(bytes) {}
  template <class T>
  bool Pod(T& value) {
    if (mBytes.size() - mAt < sizeof(T)) return false;
    std::memcpy(&value, mBytes.data() + mAt, sizeof(T));
    mAt += sizeof(T);
    return true;
  }
  // A count of items at least `itemBytes` each that fit in what remains.
  bool Count(std::size_t itemBytes, std::size_t& count) {
    uint64_t n = 0;
    if (!Pod(n)) return false;
    if (n > (mBytes.size() - mAt) / std::max<std::size_t>(itemBytes, 1)) return false;
    count = static_cast<std::size_t>(n);
    return true;
  }
  bool String(std::string& s) {
    std::size_t n = 0;
    if (!Count(1, n)) return false;
    s.assign(mBytes.data() + mAt, n);
    mAt += n;
    return true;
  }
  template <class T>
  bool PodList(std::vector<T>& list) {
    std::size_t n = 0;
    if (!Count(sizeof(T), n)) return false;
    list.resize(n);
    if (n) std::memcpy(list.data(), mBytes.data() + mAt, n * sizeof(T));
    mAt += n * sizeof(T);
    return true;
  }
  bool AtEnd() const { return mAt == mBytes.size(); }

 private:
  std::string_view mBytes;
  std::size_t mAt = 0;
};

constexpr uint64_t kMagic = 0x324c444f4d54534bull;  // "KSTMODL2"

struct PodNode {
  int32_t Parent;
  Vec3 Translation;
  Quat Rotation;
  Vec3 Scale;
};
struct PodMesh {
  uint64_t FirstVertex, VertexCount, FirstIndex, IndexCount;
  float Colour[3];
  float Opacity, AlphaCutoff;
  int32_t Image;
  uint8_t WrapU, WrapV, Alpha, Flags;  // Flags: 1 vertex colours, 2 two-sided
};
constexpr uint8_t kVertexColoursFlag = 1;
constexpr uint8_t kTwoSidedFlag = 2;

}  // namespace

std::string SerializeModel(const Model& model) {
  Writer w;
  w.Pod(kMagic);
  w.String(model.Source);
  w.String(model.Notes);
  w.Pod<uint8_t>(model.SkeletonOnly ? 1 : 0);
  w.Pod<uint64_t>(model.Nodes.size());
  for (const ModelNode& n : model.Nodes) {
    w.String(n.Name);
    w.Pod(PodNode{n.Parent, n.Translation, n.Rotation, n.Scale});
  }
  w.PodList(model.Slots);
  w.PodList(model.Vertices);
  w.PodList(model.Indices);
  w.Pod<uint64_t>(model.Meshes.size());
  for (const ModelMesh& m : model.Meshes) {
    w.String(m.Name);
    const uint8_t flags = static_cast<uint8_t>((m.VertexColours ? kVertexColoursFlag : 0) |
                                               (m.TwoSided ? kTwoSidedFlag : 0));
    w.Pod(PodMesh{m.FirstVertex,
                  m.VertexCount,
                  m.FirstIndex,
                  m.IndexCount,
                  {m.Colour[0], m.Colour[1], m.Colour[2]},
                  m.Opacity,
                  m.AlphaCutoff,
                  m.Image,
                  static_cast<uint8_t>(m.WrapU),
                  static_cast<uint8_t>(m.WrapV),
                  static_cast<uint8_t>(m.Alpha),
                  flags});
  }
  w.PodList(model.TexCoords);
  w.PodList(model.Colours);
  w.Pod<uint64_t>(model.Images.size());
  for (const ModelImage& image : model.Images) {
    w.String(image.Name);
    w.Pod<int32_t>(image.Width);
    w.Pod<int32_t>(image.Height);
    static const std::vector<uint8_t> kNone;
    w.PodList(image.Rgba ? *image.Rgba : kNone);
  }
  w.Pod<uint64_t>(model.Clips.size());
  for (const Clip& c : model.Clips) {
    w.String(c.Name);
    w.Pod(c.Duration);
    w.Pod(c.TicksPerSecond);
    w.Pod<uint64_t>(c.Channels.size());
    for (const NodeChannel& ch : c.Channels) {
      w.Pod<int32_t>(ch.Node);
      w.PodList(ch.Positions);
      w.PodList(ch.Rotations);
      w.PodList(ch.Scales);
    }
  }
  return w.Take();
}

bool DeserializeModel(std::string_view bytes, Model& model) {
  model = Model{};
  Reader r(bytes);
  uint64_t magic = 0;
  uint8_t skeleton = 0;
  std::size_t count = 0;
  if (!r.Pod(magic) || magic != kMagic || !r.String(model.Source) || !r.String(model.Notes) ||
      !r.Pod(skeleton))
    return false;
  model.SkeletonOnly = skeleton != 0;
  if (!r.Count(sizeof(PodNode) + 8, count)) return false;
  model.Nodes.resize(count);
  for (ModelNode& n : model.Nodes) {
    PodNode p{};
    if (!r.String(n.Name) || !r.Pod(p)) return false;
    n.Parent = p.Parent;
    n.Translation = p.Translation;
    n.Rotation = p.Rotation;
    n.Scale = p.Scale;
  }
  if (!r.PodList(model.Slots) || !r.PodList(model.Vertices) || !r.PodList(model.Indices))
    return false;
  if (!r.Count(sizeof(PodMesh) + 8, count)) return false;
  model.Meshes.resize(count);
  for (ModelMesh& m : model.Meshes) {
    PodMesh p{};
    if (!r.String(m.Name) || !r.Pod(p)) return false;
    m.FirstVertex = p.FirstVertex;
    m.VertexCount = p.VertexCount;
    m.FirstIndex = p.FirstIndex;
    m.IndexCount = p.IndexCount;
    std::memcpy(m.Colour, p.Colour, sizeof(m.Colour));
    m.Opacity = p.Opacity;
    m.AlphaCutoff = p.AlphaCutoff;
    m.Image = p.Image;
    if (p.WrapU > static_cast<uint8_t>(ImageWrap::kMirror) ||
        p.WrapV > static_cast<uint8_t>(ImageWrap::kMirror) ||
        p.Alpha > static_cast<uint8_t>(AlphaMode::kBlend) ||
        (p.Flags & ~(kVertexColoursFlag | kTwoSidedFlag)) != 0)
      return false;
    m.WrapU = static_cast<ImageWrap>(p.WrapU);
    m.WrapV = static_cast<ImageWrap>(p.WrapV);
    m.Alpha = static_cast<AlphaMode>(p.Alpha);
    m.VertexColours = (p.Flags & kVertexColoursFlag) != 0;
    m.TwoSided = (p.Flags & kTwoSidedFlag) != 0;
  }
  if (!r.PodList(model.TexCoords) || !r.PodList(model.Colours)) return false;
  if (!r.Count(24, count)) return false;
  model.Images.resize(count);
  std::size_t imageBytes = 0;
  for (ModelImage& image : model.Images) {
    int32_t width = 0;
    int32_t height = 0;
    auto pixels = std::make_shared<std::vector<uint8_t>>();
    if (!r.String(image.Name) || !r.Pod(width) || !r.Pod(height) || !r.PodList(*pixels))
      return false;
    image.Width = width;
    image.Height = height;
    image.Rgba = std::move(pixels);
    imageBytes += image.Rgba->size();
    if (!UsableImage(image) || imageBytes > kImageBudgetBytes) return false;
  }
  if (!r.Count(32, count)) return false;
  model.Clips.resize(count);
  for (Clip& c : model.Clips) {
    if (!r.String(c.Name) || !r.Pod(c.Duration) || !r.Pod(c.TicksPerSecond)) return false;
    if (!r.Count(28, count)) return false;
    c.Channels.resize(count);
    for (NodeChannel& ch : c.Channels) {
      int32_t node = 0;
      if (!r.Pod(node) || !r.PodList(ch.Positions) || !r.PodList(ch.Rotations) ||
          !r.PodList(ch.Scales))
        return false;
      ch.Node = node;
    }
  }
  return r.AtEnd();
}

}  // namespace khost
