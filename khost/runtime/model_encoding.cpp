#include "khost/runtime/model_encoding.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

namespace khost {

// Little-endian host layout, each list led by its count. The reader checks
// every count against the bytes that remain.
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
  std::string Release() { return std::move(mOut); }

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
  uint8_t WrapU, WrapV, Alpha, Flags;
};
constexpr uint8_t kVertexColoursFlag = 1;
// Flags: bit 0 vertex colours, bits 1 and 2 the Sidedness.
constexpr int kSidesShift = 1;

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
                                               static_cast<uint8_t>(m.Sides) << kSidesShift);
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
  return w.Release();
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
        p.Flags >> kSidesShift > static_cast<uint8_t>(Sidedness::kTwoSided))
      return false;
    m.WrapU = static_cast<ImageWrap>(p.WrapU);
    m.WrapV = static_cast<ImageWrap>(p.WrapV);
    m.Alpha = static_cast<AlphaMode>(p.Alpha);
    m.VertexColours = (p.Flags & kVertexColoursFlag) != 0;
    m.Sides = static_cast<Sidedness>(p.Flags >> kSidesShift);
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
    if (!image.Usable() || imageBytes > kImageBudgetBytes) return false;
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
