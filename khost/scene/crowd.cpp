// The crowd scene: instances of an imported model, animated from its
// clips, evaluated through its hierarchy and skinned with its bones.
#include "khost/scene/crowd.h"

#include <algorithm>
#include <cmath>

#include "khost/runtime/local_to_world.h"
#include "khost/scene/crowd_model.h"
#include "khost/scene/scene.h"

namespace khost {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kStandingHeight = 1.8f;  // what a model is scaled to

Vec3 Lerp(Vec3 a, Vec3 b, float t) {
  return a + (b - a) * t;
}

// The keys around `ticks`: index of the last key at or before it (clamped
// to the list) and the blend towards the next.
template <class Key>
std::size_t Bracket(const std::vector<Key>& keys, double ticks, float& blend) {
  blend = 0.0f;
  if (ticks <= keys.front().Time) return 0;
  if (ticks >= keys.back().Time) return keys.size() - 1;
  const auto next = std::upper_bound(keys.begin(), keys.end(), ticks,
                                     [](double t, const Key& k) { return t < k.Time; });
  const std::size_t i = static_cast<std::size_t>(next - keys.begin()) - 1;
  const double span = keys[i + 1].Time - keys[i].Time;
  blend = span > 0.0 ? static_cast<float>((ticks - keys[i].Time) / span) : 0.0f;
  return i;
}

Vec3 SampleVectors(const std::vector<VectorKey>& keys, double ticks) {
  float blend = 0.0f;
  const std::size_t i = Bracket(keys, ticks, blend);
  return blend > 0.0f ? Lerp(keys[i].Value, keys[i + 1].Value, blend) : keys[i].Value;
}

// The longest of the matrix's three axes (the square root of the largest
// square, which is the largest of the roots).
float MaxScale(const Mat34& m) {
  float largest = 0.0f;
  for (int c = 0; c < 3; ++c) {
    const Vec3 column{m.m[0][c], m.m[1][c], m.m[2][c]};
    largest = std::max(largest, Dot(column, column));
  }
  return std::sqrt(largest);
}

}  // namespace

void SampleClip(const Clip& clip, double ticks, Vec3* translations, Quat* rotations, Vec3* scales) {
  ticks = std::clamp(ticks, 0.0, std::max(0.0, clip.Duration));
  for (const NodeChannel& channel : clip.Channels) {
    const std::size_t n = static_cast<std::size_t>(channel.Node);
    if (!channel.Positions.empty()) translations[n] = SampleVectors(channel.Positions, ticks);
    if (!channel.Scales.empty()) scales[n] = SampleVectors(channel.Scales, ticks);
    if (!channel.Rotations.empty()) {
      float blend = 0.0f;
      const std::size_t i = Bracket(channel.Rotations, ticks, blend);
      rotations[n] = blend > 0.0f
                         ? Slerp(channel.Rotations[i].Value, channel.Rotations[i + 1].Value, blend)
                         : channel.Rotations[i].Value;
    }
  }
}

int ClipAt(const Model& model, double seconds, double& ticks) {
  ticks = 0.0;
  if (model.Clips.empty()) return -1;
  double total = 0.0;
  for (const Clip& clip : model.Clips) total += clip.Seconds();
  if (!(total > 0.0)) return 0;
  double into = std::fmod(seconds, total);
  if (into < 0.0) into += total;
  for (std::size_t k = 0; k < model.Clips.size(); ++k) {
    const Clip& clip = model.Clips[k];
    const double length = clip.Seconds();
    if (length <= 0.0) continue;
    if (into < length || k + 1 == model.Clips.size()) {
      ticks = std::min(into, length) / length * clip.Duration;
      return static_cast<int>(k);
    }
    into -= length;
  }
  // Rounding left `into` past the last clip of non-zero length.
  for (std::size_t k = model.Clips.size(); k-- > 0;) {
    if (model.Clips[k].Seconds() > 0.0) {
      ticks = model.Clips[k].Duration;
      return static_cast<int>(k);
    }
  }
  return 0;
}

Scene::Scene(std::shared_ptr<const Model> model, int instanceCount) {
  {
    CrowdModel prepared = PrepareCrowdModel(*model);
    mModel = std::move(prepared.Drawn);
    mSkinLayout = std::move(prepared.Skin);
    mMeshSlots = std::move(prepared.MeshSlots);
  }
  const Model& m = *mModel;
  for (const Clip& clip : m.Clips) mClipTracks.emplace_back(clip, m.Nodes);
  for (const ModelNode& node : m.Nodes) mParents.push_back(node.Parent);
  // A big model makes a smaller crowd: at most kMaxCrowdVertices vertices
  // in all (and always one instance).
  const std::size_t fit = kMaxCrowdVertices / std::max<std::size_t>(1, m.Vertices.size());
  const int most = static_cast<int>(std::clamp<std::size_t>(fit, 1, kMaxCharacters));
  const int count = std::clamp(instanceCount, 1, most);

  // Each slot's bind-space sphere: the box of its vertices, and the
  // farthest of them from the box's centre.
  const std::size_t slots = m.Slots.size();
  std::vector<Vec3> lo(slots, Vec3{1e30f, 1e30f, 1e30f});
  std::vector<Vec3> hi(slots, Vec3{-1e30f, -1e30f, -1e30f});
  for (const SkinVertex& v : m.Vertices) {
    for (int i = 0; i < kMaxInfluences; ++i) {
      if (v.Weights[i] <= 0.0f || v.Bones[i] >= slots) continue;
      Vec3& l = lo[v.Bones[i]];
      Vec3& h = hi[v.Bones[i]];
      l = {std::min(l.x, v.Position.x), std::min(l.y, v.Position.y), std::min(l.z, v.Position.z)};
      h = {std::max(h.x, v.Position.x), std::max(h.y, v.Position.y), std::max(h.z, v.Position.z)};
    }
  }
  mSlotCenters.assign(slots, Vec3{});
  mSlotRadii.assign(slots, -1.0f);
  for (std::size_t s = 0; s < slots; ++s) {
    if (lo[s].x > hi[s].x) continue;
    mSlotCenters[s] = (lo[s] + hi[s]) * 0.5f;
    mSlotRadii[s] = 0.0f;
  }
  for (const SkinVertex& v : m.Vertices) {
    for (int i = 0; i < kMaxInfluences; ++i) {
      if (v.Weights[i] <= 0.0f || v.Bones[i] >= slots) continue;
      float& r = mSlotRadii[v.Bones[i]];
      r = std::max(r, Length(v.Position - mSlotCenters[v.Bones[i]]));
    }
  }

  // The size the model has in its first pose, measured on an instance at
  // the origin: it is scaled to stand kStandingHeight tall (or as wide, for
  // a flat thing) with its feet on the ground.
  mCharacters.resize(static_cast<std::size_t>(count));
  Character probe;
  BuildInstance(probe, 0, 1);
  probe.Root = Mat34{};
  probe.Placement = {};
  probe.Heading = 0.0f;
  probe.Turn = 0.0f;
  AnimateInstance(probe, 0.0, 0);
  SolveInstance(probe, 0);
  SkinAndBoundInstance(probe, 0);
  Vec3 low{1e30f, 1e30f, 1e30f};
  Vec3 high{-1e30f, -1e30f, -1e30f};
  std::vector<Vec3> normals(m.Vertices.size());
  SkinVertices(probe.Poses[0].Skin.data(), m.Vertices.data(), 0, m.Vertices.size(),
               probe.DeformedPositions.data(), normals.data());
  for (const Vec3& p : probe.DeformedPositions) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  if (low.x > high.x) low = high = Vec3{};
  const Vec3 size = high - low;
  const float extent = std::max({size.x, size.y, size.z});
  const float scale = extent > 1e-6f && std::isfinite(extent) ? kStandingHeight / extent : 1.0f;
  const Vec3 foot{(low.x + high.x) * 0.5f, low.y, (low.z + high.z) * 0.5f};
  mNormalise = MatFromTRS({}, Quat{}, {scale, scale, scale}) * MatTranslation(foot * -1.0f);
  mSpacing = std::max(size.x, size.z) * scale * 1.4f + 0.4f;

  for (int i = 0; i < count; ++i) {
    Character& c = mCharacters[static_cast<std::size_t>(i)];
    BuildInstance(c, i, count);
    mNodeCount += static_cast<int>(m.Nodes.size());
    mVertexCount += m.Vertices.size();
  }
  FrameCrowd();
}

void Scene::BuildInstance(Character& c, int index, int total) {
  const Model& m = *mModel;
  c.Index = index;
  c.Source = &m;
  const std::size_t nodes = m.Nodes.size();
  c.Joints.resize(nodes);
  for (std::size_t j = 0; j < nodes; ++j) c.Joints[j].Parent = m.Nodes[j].Parent;
  for (Pose& pose : c.Poses) {
    pose.Local.assign(nodes, Quat{});
    pose.Translation.assign(nodes, Vec3{});
    pose.Scale.assign(nodes, Vec3{1, 1, 1});
    pose.World.assign(nodes, Mat34{});
    pose.Skin.assign(m.Slots.size(), Mat34{});
    pose.Columns.resize(m.Slots.size());
  }
  c.Skinning = mSkinLayout;
  c.DeformedPositions.resize(m.Vertices.size());
  c.DeformedNormals.resize(m.Vertices.size());
  // A square grid, rows going away from the camera, centred on the origin;
  // headings and speeds vary a little, each instance has its own time.
  const int columns =
      std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(total)))));
  const int row = index / columns;
  const int column = index % columns;
  const int rows = (total + columns - 1) / columns;
  c.Placement = {(static_cast<float>(column) - 0.5f * static_cast<float>(columns - 1)) * mSpacing,
                 0.0f, (static_cast<float>(row) - 0.5f * static_cast<float>(rows - 1)) * -mSpacing};
  c.Heading = 0.35f * std::sin(1.7f * static_cast<float>(index));
  c.Speed = 0.9f + 0.05f * static_cast<float>(index % 5);
  c.TimeOffset = 0.37 * index;
  c.Root = mNormalise;
  c.Turn = 0.3f;
}

void Scene::AnimateInstance(Character& c, double seconds, int buffer) const {
  const Model& m = *mModel;
  Pose& pose = c.Poses[buffer & 1];
  // The instance turns slowly on its spot, as the procedural characters do.
  const float turn =
      c.Turn * std::sin(static_cast<float>(seconds * 0.5) + static_cast<float>(c.Index));
  pose.Root =
      MatFromTRS(c.Placement, QuatFromAxisAngle({0, 1, 0}, c.Heading + turn), {1, 1, 1}) * c.Root;
  double ticks = 0.0;
  const int clip = ClipAt(m, seconds * c.Speed + c.TimeOffset, ticks);
  if (clip >= 0) {
    mClipTracks[static_cast<std::size_t>(clip)].Sample(ticks, c.Playback, pose.Translation.data(),
                                                       pose.Local.data(), pose.Scale.data());
    return;
  }
  for (std::size_t j = 0; j < m.Nodes.size(); ++j) {
    pose.Translation[j] = m.Nodes[j].Translation;
    pose.Local[j] = m.Nodes[j].Rotation;
    pose.Scale[j] = m.Nodes[j].Scale;
  }
}

void Scene::SolveInstance(Character& c, int buffer) const {
  Pose& pose = c.Poses[buffer & 1];
  LocalToWorld(mParents.data(), mParents.size(), pose.Translation.data(), pose.Local.data(),
               pose.Scale.data(), pose.Root, pose.World.data());
}

void Scene::SkinAndBoundInstance(Character& c, int buffer) const {
  const Model& m = *mModel;
  Pose& pose = c.Poses[buffer & 1];
  Vec3 lo{1e30f, 1e30f, 1e30f};
  Vec3 hi{-1e30f, -1e30f, -1e30f};
  if (!m.Slots.empty()) {
    SkinMatrices(pose.World.data(), &m.Slots[0].Node, &m.Slots[0].Offset, sizeof(SkinSlot),
                 m.Slots.size(), pose.Skin.data(), pose.Columns.data());
  }
  for (std::size_t s = 0; s < m.Slots.size(); ++s) {
    if (mSlotRadii.empty() || mSlotRadii[s] < 0.0f) continue;
    const Vec3 center = TransformPoint(pose.Skin[s], mSlotCenters[s]);
    const float r = mSlotRadii[s] * MaxScale(pose.Skin[s]);
    lo = {std::min(lo.x, center.x - r), std::min(lo.y, center.y - r), std::min(lo.z, center.z - r)};
    hi = {std::max(hi.x, center.x + r), std::max(hi.y, center.y + r), std::max(hi.z, center.z + r)};
  }
  if (!(lo.x <= hi.x) || !std::isfinite(lo.x + lo.y + lo.z + hi.x + hi.y + hi.z)) {
    // Nothing measurable (or an animation that went non-finite): a sphere
    // around the root that culling keeps.
    pose.BoundsCenter = GetTranslation(pose.Root);
    pose.BoundsRadius = 1e6f;
    return;
  }
  pose.BoundsCenter = (lo + hi) * 0.5f;
  pose.BoundsRadius = Length(hi - lo) * 0.5f;
}

void Scene::FrameCrowd() {
  if (!mModel) return;
  // The crowd's box: the grid of spots, each a character kStandingHeight
  // tall and mSpacing wide.
  Vec3 lo{1e30f, 0.0f, 1e30f};
  Vec3 hi{-1e30f, kStandingHeight, -1e30f};
  for (const Character& c : mCharacters) {
    lo = {std::min(lo.x, c.Placement.x - mSpacing * 0.5f), 0.0f,
          std::min(lo.z, c.Placement.z - mSpacing * 0.5f)};
    hi = {std::max(hi.x, c.Placement.x + mSpacing * 0.5f), kStandingHeight,
          std::max(hi.z, c.Placement.z + mSpacing * 0.5f)};
  }
  mPivot = (lo + hi) * 0.5f;
  mCamera.Forward = {0, 0, -1};
  mCamera.Up = {0, 1, 0};
  mDistance = 1.0f;
  OrbitCamera(mPivot, 0.0f, -0.42f);
  // The nearest distance at which every corner of the box is inside the
  // view: a corner at (x, y) across the view and `along` the view direction
  // from the pivot needs |x| <= (distance + along) tan(half width), and so
  // on for y.
  const float tanV = std::tan(mCamera.VerticalFovRadians * 0.5f);
  const float tanH = tanV * mCamera.Aspect;
  const Vec3 right = Normalize(Cross(mCamera.Forward, mCamera.Up));
  float distance = 0.1f;
  for (int k = 0; k < 8; ++k) {
    const Vec3 corner{k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z};
    const Vec3 d = corner - mPivot;
    const float along = Dot(d, mCamera.Forward);
    distance = std::max({distance, std::fabs(Dot(d, right)) / tanH - along,
                         std::fabs(Dot(d, mCamera.Up)) / tanV - along});
  }
  mDistance = distance * 1.05f;
  OrbitCamera(mPivot, 0.0f, 0.0f);
}

void Scene::OrbitCamera(Vec3 pivot, float yaw, float pitch) {
  mPivot = pivot;
  // Yaw about the world's up, pitch about the camera's right; the pitch
  // stays short of straight up or down.
  Vec3 back = mCamera.Forward * -1.0f;
  back = Rotate(QuatFromAxisAngle({0, 1, 0}, yaw), back);
  const float elevation = std::asin(std::clamp(back.y, -1.0f, 1.0f));
  const float wanted = std::clamp(elevation - pitch, -1.45f, 1.45f);
  const float flat = std::sqrt(back.x * back.x + back.z * back.z);
  const Vec3 heading = flat > 1e-6f ? Vec3{back.x / flat, 0, back.z / flat} : Vec3{0, 0, 1};
  back = heading * std::cos(wanted) + Vec3{0, std::sin(wanted), 0};
  mCamera.Forward = Normalize(back * -1.0f);
  const Vec3 right = Normalize(Cross(mCamera.Forward, {0, 1, 0}));
  mCamera.Up = Cross(right, mCamera.Forward);
  mCamera.Position = mPivot + back * mDistance;
  mCamera.Near = std::max(0.05f, mDistance * 0.01f);
  mCamera.Far = mDistance * 4.0f + 100.0f;
  mFrustum = MakeFrustum(mCamera);
}

void Scene::PanCamera(float right, float up) {
  const float height = 2.0f * mDistance * std::tan(mCamera.VerticalFovRadians * 0.5f);
  const Vec3 side = Normalize(Cross(mCamera.Forward, mCamera.Up));
  OrbitCamera(mPivot + side * (right * height) + mCamera.Up * (up * height), 0.0f, 0.0f);
}

void Scene::DollyCamera(float factor) {
  if (!(factor > 0.0f) || !std::isfinite(factor)) return;
  mDistance = std::clamp(mDistance * factor, 0.1f, 1e5f);
  OrbitCamera(mPivot, 0.0f, 0.0f);
}

}  // namespace khost
