#include "khost/scene/scene.h"

#include <algorithm>
#include <cmath>

#include "khost/runtime/model.h"

namespace khost {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kRings = kMeshRings;
constexpr int kRingVertices = kMeshRingVertices;
constexpr int kClipKeys = 16;  // keys of the one-second looping clip

struct Builder {
  std::vector<Joint>& Joints;
  int Add(int parent, Vec3 offset, Vec3 axis, float amplitude, float phase, float limit) {
    Joint j;
    j.Parent = parent;
    j.Offset = offset;
    j.SwingAxis = axis;
    j.Amplitude = amplitude;
    j.Phase = phase;
    j.Limit = limit;
    Joints.push_back(j);
    return static_cast<int>(Joints.size()) - 1;
  }
};

// Key `key` of a joint's one-second looping clip: a swing about the joint's
// axis. Keys are sampled and blended like keys read from a file would be.
Quat ClipKey(const Joint& joint, int key) {
  const float angle =
      joint.Amplitude * std::sin(2.0f * kPi * static_cast<float>(key) / kClipKeys + joint.Phase);
  return QuatFromAxisAngle(joint.SwingAxis, angle);
}

}  // namespace

int JointCountForCharacter(int index) {
  const int i = std::max(0, index);
  return 23 + 4 * (i % 3) + (i / 3) % 5;
}

int CharactersForNodeCount(int nodes, bool roundUp) {
  int total = 0;
  for (int n = 1; n <= kMaxCharacters; ++n) {
    total += JointCountForCharacter(n - 1);
    if (total == nodes) return n;
    if (total > nodes) return roundUp ? n : std::max(1, n - 1);
  }
  return kMaxCharacters;
}

Scene::Scene(int characterCount) {
  const int count = std::clamp(characterCount, 1, static_cast<int>(kMaxCharacters));
  mFrustum = MakeFrustum(mCamera);
  mCharacters.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    BuildCharacter(mCharacters[static_cast<std::size_t>(i)], i, count);
    mNodeCount += static_cast<int>(mCharacters[static_cast<std::size_t>(i)].Joints.size());
    mVertexCount += mCharacters[static_cast<std::size_t>(i)].Mesh.size();
  }
}

void Scene::SetCameraAspect(float aspect) {
  if (!(aspect > 0.0f) || !std::isfinite(aspect)) return;
  mCamera.Aspect = aspect;
  mFrustum = MakeFrustum(mCamera);
  if (mModel) FrameCrowd();
}

const std::vector<SkinVertex>& Character::Vertices() const {
  return Source ? Source->Vertices : Mesh;
}

int Scene::CountForNodeCount(int nodes, bool roundUp) const {
  if (!mModel) return CharactersForNodeCount(nodes, roundUp);
  const int per = std::max(1, static_cast<int>(mModel->Nodes.size()));
  const int count = roundUp ? nodes / per + (nodes % per > 0 ? 1 : 0) : nodes / per;
  // The crowd's own limits: kMaxCharacters, and kMaxCrowdVertices in all.
  const std::size_t fit = kMaxCrowdVertices / std::max<std::size_t>(1, mModel->Vertices.size());
  return std::clamp(count, 1, static_cast<int>(std::clamp<std::size_t>(fit, 1, kMaxCharacters)));
}

void Scene::BuildCharacter(Character& c, int index, int total) {
  c.Index = index;
  Builder b{c.Joints};
  const Vec3 x{1, 0, 0};
  const Vec3 y{0, 1, 0};
  const Vec3 z{0, 0, 1};
  const int root = b.Add(-1, {}, y, 0.0f, 0.0f, kPi);
  const int pelvis = b.Add(root, {0, 0.95f, 0}, z, 0.06f, 0.0f, 0.3f);
  const int spine0 = b.Add(pelvis, {0, 0.12f, 0}, z, 0.05f, 0.3f, 0.3f);
  const int spine1 = b.Add(spine0, {0, 0.14f, 0}, y, 0.08f, 0.6f, 0.3f);
  const int spine2 = b.Add(spine1, {0, 0.14f, 0}, y, 0.08f, 0.9f, 0.3f);
  c.NeckJoint = b.Add(spine2, {0, 0.12f, 0}, x, 0.10f, 1.2f, 0.5f);
  c.HeadJoint = b.Add(c.NeckJoint, {0, 0.10f, 0}, y, 0.15f, 1.5f, 0.7f);
  const int fingers = index % 3;
  for (int side = -1; side <= 1; side += 2) {
    const float s = static_cast<float>(side);
    const float armPhase = side < 0 ? 0.0f : kPi;
    const int clavicle = b.Add(spine2, {s * 0.08f, 0.08f, 0}, z, 0.05f, armPhase, 0.3f);
    const int upper = b.Add(clavicle, {s * 0.12f, 0, 0}, x, 0.6f, armPhase, 1.2f);
    // The elbow's swing is larger than its limit: the limit constraint bends
    // it back every cycle.
    const int fore = b.Add(upper, {s * 0.28f, 0, 0}, y, 0.9f, armPhase + 0.5f, 0.7f);
    const int hand = b.Add(fore, {s * 0.25f, 0, 0}, z, 0.3f, armPhase + 1.0f, 0.6f);
    for (int f = 0; f < fingers; ++f) {
      const float spread = (static_cast<float>(f) - 0.5f) * 0.03f;
      const int f0 = b.Add(hand, {s * 0.06f, 0, spread}, z, 0.4f, static_cast<float>(f), 0.9f);
      b.Add(f0, {s * 0.04f, 0, 0}, z, 0.5f, static_cast<float>(f) + 0.4f, 0.9f);
    }
  }
  for (int side = -1; side <= 1; side += 2) {
    const float s = static_cast<float>(side);
    const float legPhase = side < 0 ? kPi : 0.0f;
    const int thigh = b.Add(pelvis, {s * 0.1f, -0.05f, 0}, x, 0.55f, legPhase, 1.0f);
    const int calf = b.Add(thigh, {0, -0.45f, 0}, x, 0.8f, legPhase - 1.2f, 0.6f);
    const int foot = b.Add(calf, {0, -0.42f, 0}, x, 0.3f, legPhase - 2.0f, 0.5f);
    b.Add(foot, {0, -0.05f, 0.12f}, x, 0.2f, legPhase - 2.4f, 0.4f);
  }
  const int tail = (index / 3) % 5;
  int parent = pelvis;
  for (int t = 0; t < tail; ++t) {
    parent = b.Add(parent, {0, -0.02f, -0.1f}, y, 0.35f, 0.7f * static_cast<float>(t), 0.5f);
  }

  const std::size_t n = c.Joints.size();
  // Bind pose: identity rotations, joints at their summed offsets.
  std::vector<Vec3> bind(n);
  c.InverseBind.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const int p = c.Joints[j].Parent;
    bind[j] = p < 0 ? c.Joints[j].Offset : bind[static_cast<std::size_t>(p)] + c.Joints[j].Offset;
    c.InverseBind[j] = MatTranslation(bind[j] * -1.0f);
  }

  // Mesh: rings around the segment from each joint's parent to the joint.
  // A segment moves with its parent joint; its ends blend towards the joint
  // (and the grandparent), so elbows and knees bend smoothly.
  c.MeshRadius = 0.13f;
  for (std::size_t j = 1; j < n; ++j) {
    const int p = c.Joints[j].Parent;
    if (p <= 0) continue;  // nothing between the root and the pelvis
    const int gp = c.Joints[static_cast<std::size_t>(p)].Parent;
    const Vec3 a = bind[static_cast<std::size_t>(p)];
    const Vec3 e = bind[j];
    const Vec3 axis = Normalize(e - a);
    const Vec3 helper = std::fabs(axis.y) < 0.9f ? y : x;
    const Vec3 u = Normalize(Cross(axis, helper));
    const Vec3 v = Cross(axis, u);
    const bool torso = p <= c.NeckJoint;
    const float radius = torso ? 0.12f : 0.04f;
    for (int r = 0; r < kRings; ++r) {
      const float t = static_cast<float>(r) / (kRings - 1);
      const Vec3 center = a + (e - a) * t;
      for (int k = 0; k < kRingVertices; ++k) {
        const float phi = 2.0f * kPi * static_cast<float>(k) / kRingVertices;
        const Vec3 radial = u * std::cos(phi) + v * std::sin(phi);
        SkinVertex vertex;
        vertex.Position = center + radial * radius;
        vertex.Normal = radial;
        int slot = 0;
        vertex.Bones[slot] = static_cast<uint16_t>(p);
        vertex.Weights[slot++] = 1.0f;
        if (t > 0.75f) {
          vertex.Bones[slot] = static_cast<uint16_t>(j);
          vertex.Weights[slot++] = (t - 0.75f) * 2.0f;
        }
        if (t < 0.25f && gp >= 0) {
          vertex.Bones[slot] = static_cast<uint16_t>(gp);
          vertex.Weights[slot++] = (0.25f - t) * 2.0f;
        }
        if (torso) {
          // The torso's skin also follows the pelvis a little.
          vertex.Bones[slot] = static_cast<uint16_t>(1);
          vertex.Weights[slot++] = 0.1f;
        }
        NormalizeInfluences(vertex, static_cast<int>(n));
        c.Mesh.push_back(vertex);
      }
    }
  }
  c.DeformedPositions.resize(c.Mesh.size());
  c.DeformedNormals.resize(c.Mesh.size());
  for (Pose& pose : c.Poses) {
    pose.Local.assign(n, Quat{});
    pose.World.assign(n, Mat34{});
    pose.Skin.assign(n, Mat34{});
    pose.Columns.resize(n);
  }
  c.Skinning = std::make_shared<const SkinLayout>(
      c.Mesh, std::vector<std::pair<std::size_t, std::size_t>>{{0, c.Mesh.size()}},
      static_cast<int>(n));

  // Placement: a fan of 240 degrees around the camera's view direction, at
  // 6 to 10 metres, so a good share of the characters is outside the view.
  const float fraction = (static_cast<float>(index) + 0.5f) / static_cast<float>(total);
  const float angle = (-120.0f + 240.0f * fraction) * kPi / 180.0f;
  const float distance = 6.0f + 0.4f * static_cast<float>((index * 37) % 10);
  c.Placement = {std::sin(angle) * distance, 0.0f, -std::cos(angle) * distance};
  c.Heading = angle + kPi;
  c.Speed = 0.8f + 0.05f * static_cast<float>(index % 7);
}

void Scene::Animate(Character& c, double seconds, int buffer) const {
  if (c.Source) {
    AnimateInstance(c, seconds, buffer);
    return;
  }
  Pose& pose = c.Poses[buffer & 1];
  const double clipTime = seconds * c.Speed + 0.13 * c.Index;
  const double cycle = clipTime - std::floor(clipTime);
  const float keyPos = static_cast<float>(cycle * kClipKeys);
  const int k0 = std::min(static_cast<int>(keyPos), kClipKeys - 1);
  const int k1 = (k0 + 1) % kClipKeys;
  const float blend = keyPos - static_cast<float>(k0);
  for (std::size_t j = 0; j < c.Joints.size(); ++j) {
    const Joint& joint = c.Joints[j];
    pose.Local[j] = Nlerp(ClipKey(joint, k0), ClipKey(joint, k1), blend);
  }
  // The root turns slowly on the spot.
  pose.Local[0] = QuatFromAxisAngle(
      {0, 1, 0}, c.Heading + 0.3f * std::sin(static_cast<float>(seconds * 0.5 + c.Index)));
}

void Scene::Propagate(Character& c, Pose& pose, int from) const {
  // World rotation and position per joint are rebuilt into the World
  // matrices; parents come before their children in the joint order.
  const std::size_t n = c.Joints.size();
  for (std::size_t j = static_cast<std::size_t>(std::max(0, from)); j < n; ++j) {
    const Joint& joint = c.Joints[j];
    const Mat34 local = MatFromRotationTranslation(pose.Local[j], joint.Offset);
    if (joint.Parent < 0) {
      pose.World[j] = MatTranslation(c.Placement) * local;
    } else {
      pose.World[j] = pose.World[static_cast<std::size_t>(joint.Parent)] * local;
    }
  }
}

void Scene::SolveSkeleton(Character& c, int buffer) const {
  if (c.Source) {
    SolveInstance(c, buffer);
    return;
  }
  Propagate(c, c.Poses[buffer & 1], 0);
}

namespace {

// The rotation part of a rigid matrix as a quaternion.
Quat RotationOf(const Mat34& m) {
  const float trace = m.m[0][0] + m.m[1][1] + m.m[2][2];
  Quat q;
  if (trace > 0.0f) {
    const float s = std::sqrt(trace + 1.0f) * 2.0f;
    q = {(m.m[2][1] - m.m[1][2]) / s, (m.m[0][2] - m.m[2][0]) / s, (m.m[1][0] - m.m[0][1]) / s,
         0.25f * s};
  } else if (m.m[0][0] > m.m[1][1] && m.m[0][0] > m.m[2][2]) {
    const float s = std::sqrt(1.0f + m.m[0][0] - m.m[1][1] - m.m[2][2]) * 2.0f;
    q = {0.25f * s, (m.m[0][1] + m.m[1][0]) / s, (m.m[0][2] + m.m[2][0]) / s,
         (m.m[2][1] - m.m[1][2]) / s};
  } else if (m.m[1][1] > m.m[2][2]) {
    const float s = std::sqrt(1.0f + m.m[1][1] - m.m[0][0] - m.m[2][2]) * 2.0f;
    q = {(m.m[0][1] + m.m[1][0]) / s, 0.25f * s, (m.m[1][2] + m.m[2][1]) / s,
         (m.m[0][2] - m.m[2][0]) / s};
  } else {
    const float s = std::sqrt(1.0f + m.m[2][2] - m.m[0][0] - m.m[1][1]) * 2.0f;
    q = {(m.m[0][2] + m.m[2][0]) / s, (m.m[1][2] + m.m[2][1]) / s, 0.25f * s,
         (m.m[1][0] - m.m[0][1]) / s};
  }
  return NormalizeQuat(q);
}

}  // namespace

void Scene::SolveConstraints(Character& c, int buffer) const {
  if (c.Source) {
    SkinAndBoundInstance(c, buffer);
    return;
  }
  Pose& pose = c.Poses[buffer & 1];
  const std::size_t n = c.Joints.size();

  // 1. Joint limits: no joint turns further from its bind pose than allowed.
  int firstClamped = -1;
  for (std::size_t j = 1; j < n; ++j) {
    const float limit = c.Joints[j].Limit;
    if (QuatAngle(pose.Local[j]) > limit) {
      pose.Local[j] = ClampAngle(pose.Local[j], limit);
      if (firstClamped < 0) firstClamped = static_cast<int>(j);
    }
  }
  if (firstClamped >= 0) Propagate(c, pose, firstClamped);

  // 2. Look-at: neck and head turn towards the camera, the neck taking 40 %
  //    of the turn, each within its limit.
  const Vec3 target = mCamera.Position;
  const int chain[2] = {c.NeckJoint, c.HeadJoint};
  const float share[2] = {0.4f, 1.0f};
  for (int step = 0; step < 2; ++step) {
    const std::size_t j = static_cast<std::size_t>(chain[step]);
    const std::size_t p = static_cast<std::size_t>(c.Joints[j].Parent);
    const Vec3 head = GetTranslation(pose.World[c.HeadJoint]);
    const Vec3 forward = Normalize(TransformVector(pose.World[c.HeadJoint], {0, 0, 1}));
    const Vec3 wanted = Normalize(target - head);
    const Quat turn = Nlerp(Quat{}, RotationBetween(forward, wanted), share[step]);
    const Quat world = turn * RotationOf(pose.World[j]);
    const Quat local = Conjugate(RotationOf(pose.World[p])) * world;
    pose.Local[j] = ClampAngle(local, c.Joints[j].Limit);
    Propagate(c, pose, static_cast<int>(j));
  }

  // 3. Skin matrices and the bounding sphere of the posed joints.
  Vec3 center{};
  for (std::size_t j = 0; j < n; ++j) {
    pose.Skin[j] = pose.World[j] * c.InverseBind[j];
    center = center + GetTranslation(pose.World[j]);
  }
  ToSkinColumns(pose.Skin.data(), n, pose.Columns.data());
  center = center * (1.0f / static_cast<float>(n));
  float radius = 0.0f;
  for (std::size_t j = 0; j < n; ++j) {
    radius = std::max(radius, Length(GetTranslation(pose.World[j]) - center));
  }
  pose.BoundsCenter = center;
  pose.BoundsRadius = radius + c.MeshRadius;
}

}  // namespace khost
