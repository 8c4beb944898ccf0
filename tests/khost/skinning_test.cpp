#include "khost/runtime/skinning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "khost/runtime/math3d.h"

namespace {

using namespace khost;

constexpr float kHalfPi = 1.57079632679f;

void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

SkinVertex TwoBoneVertex(Vec3 position, Vec3 normal, float w0, float w1) {
  SkinVertex v;
  v.Position = position;
  v.Normal = normal;
  v.Bones[0] = 0;
  v.Weights[0] = w0;
  v.Bones[1] = 1;
  v.Weights[1] = w1;
  return v;
}

TEST(KhostSkinning, VertexWithTwoTranslatedBonesMovesByTheWeightedSum) {
  const Mat34 skin[2] = {MatTranslation({1, 0, 0}), MatTranslation({0, 2, 0})};
  const SkinVertex v = TwoBoneVertex({1, 1, 1}, {0, 0, 1}, 0.25f, 0.75f);
  Vec3 p, n;
  SkinVertices(skin, &v, 0, 1, &p, &n);
  ExpectNear(p, {1.25f, 2.5f, 1.0f});
  ExpectNear(n, {0, 0, 1});
}

TEST(KhostSkinning, VertexBetweenAStillAndARotatedBoneBlendsTheMatrices) {
  // Bone 1 turns 90 degrees about z around the origin: (1, 0, 0) goes to
  // (0, 1, 0). Half-and-half gives the blend of both images, (0.5, 0.5, 0),
  // and the normal the normalised blend.
  const Mat34 skin[2] = {
      Mat34{}, MatFromRotationTranslation(QuatFromAxisAngle({0, 0, 1}, kHalfPi), {0, 0, 0})};
  const SkinVertex v = TwoBoneVertex({1, 0, 0}, {1, 0, 0}, 0.5f, 0.5f);
  Vec3 p, n;
  SkinVertices(skin, &v, 0, 1, &p, &n);
  ExpectNear(p, {0.5f, 0.5f, 0.0f});
  const float s = 1.0f / std::sqrt(2.0f);
  ExpectNear(n, {s, s, 0.0f});
  EXPECT_NEAR(Length(n), 1.0f, 1e-5f);
}

TEST(KhostSkinning, FullWeightOnOneBoneIsThatBonesRigidTransform) {
  const Mat34 bone = MatFromRotationTranslation(QuatFromAxisAngle({0, 1, 0}, 0.7f), {3, -1, 2});
  const Mat34 skin[2] = {MatTranslation({100, 100, 100}), bone};
  const SkinVertex v = TwoBoneVertex({0.3f, 0.4f, -0.5f}, {0, 1, 0}, 0.0f, 1.0f);
  Vec3 p, n;
  SkinVertices(skin, &v, 0, 1, &p, &n);
  ExpectNear(p, TransformPoint(bone, v.Position));
  ExpectNear(n, TransformVector(bone, v.Normal));
}

TEST(KhostSkinning, OnlyTheRequestedRangeIsWritten) {
  const Mat34 skin[1] = {MatTranslation({0, 1, 0})};
  SkinVertex v[3];
  for (SkinVertex& x : v) {
    x.Weights[0] = 1.0f;
    x.Normal = {0, 0, 1};
  }
  Vec3 p[3] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  Vec3 n[3];
  SkinVertices(skin, v, 1, 2, p, n);
  ExpectNear(p[0], {9, 9, 9});
  ExpectNear(p[1], {0, 1, 0});
  ExpectNear(p[2], {9, 9, 9});
}

TEST(KhostSkinning, BindPoseSkinMatricesLeaveTheMeshInPlace) {
  // World x inverse bind is the identity in the bind pose.
  const Mat34 bind = MatFromRotationTranslation(QuatFromAxisAngle({1, 1, 0}, 0.4f), {0, 1.2f, 0});
  const Mat34 skin[2] = {bind * Inverse(bind), bind * Inverse(bind)};
  const SkinVertex v = TwoBoneVertex({0.1f, 1.3f, 0.05f}, {0, 0, 1}, 0.6f, 0.4f);
  Vec3 p, n;
  SkinVertices(skin, &v, 0, 1, &p, &n);
  ExpectNear(p, v.Position, 1e-5f);
}

TEST(KhostSkinWeights, NormalisationScalesWeightsToOne) {
  SkinVertex v = TwoBoneVertex({}, {}, 2.0f, 6.0f);
  EXPECT_TRUE(NormalizeInfluences(v, 2));
  EXPECT_FLOAT_EQ(v.Weights[0], 0.25f);
  EXPECT_FLOAT_EQ(v.Weights[1], 0.75f);
}

TEST(KhostSkinWeights, BadInfluencesAreDropped) {
  SkinVertex v;
  v.Bones[0] = 0;
  v.Weights[0] = 1.0f;
  v.Bones[1] = 7;  // no such bone
  v.Weights[1] = 1.0f;
  v.Bones[2] = 1;
  v.Weights[2] = -1.0f;
  v.Bones[3] = 1;
  v.Weights[3] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(NormalizeInfluences(v, 2));
  EXPECT_FLOAT_EQ(v.Weights[0], 1.0f);
  EXPECT_FLOAT_EQ(v.Weights[1], 0.0f);
  EXPECT_FLOAT_EQ(v.Weights[2], 0.0f);
  EXPECT_FLOAT_EQ(v.Weights[3], 0.0f);
  // A dropped influence no longer names the bad bone either.
  EXPECT_EQ(v.Bones[1], 0);
}

TEST(KhostSkinWeights, AVertexWithoutWeightFollowsTheRootInsteadOfCollapsing) {
  SkinVertex v;
  v.Position = {1, 2, 3};
  EXPECT_FALSE(NormalizeInfluences(v, 4));
  EXPECT_EQ(v.Bones[0], 0);
  EXPECT_FLOAT_EQ(v.Weights[0], 1.0f);
  const Mat34 skin[1] = {MatTranslation({0, 0, 1})};
  Vec3 p, n;
  SkinVertices(skin, &v, 0, 1, &p, &n);
  ExpectNear(p, {1, 2, 4});
}

TEST(KhostMath, QuaternionRotationMatchesItsMatrix) {
  const Quat q = QuatFromAxisAngle({0.3f, -1.0f, 0.5f}, 1.1f);
  const Vec3 v{0.2f, 0.7f, -1.4f};
  ExpectNear(Rotate(q, v), TransformVector(MatFromRotationTranslation(q, {}), v));
}

TEST(KhostMath, InverseUndoesAnAffineTransform) {
  Mat34 m = MatFromRotationTranslation(QuatFromAxisAngle({1, 2, 3}, 0.9f), {4, 5, 6});
  m.m[0][0] *= 2.0f;  // not rigid: a scale along one axis
  const Vec3 p{0.5f, -0.25f, 2.0f};
  ExpectNear(TransformPoint(Inverse(m), TransformPoint(m, p)), p, 1e-4f);
}

TEST(KhostMath, ClampAngleKeepsTheAxisAndLimitsTheAngle) {
  const Quat q = QuatFromAxisAngle({0, 0, 1}, 1.5f);
  const Quat c = ClampAngle(q, 0.5f);
  EXPECT_NEAR(QuatAngle(c), 0.5f, 1e-4f);
  ExpectNear(Rotate(c, {1, 0, 0}), {std::cos(0.5f), std::sin(0.5f), 0});
  // Within the limit nothing changes.
  EXPECT_NEAR(QuatAngle(ClampAngle(QuatFromAxisAngle({0, 1, 0}, 0.2f), 0.5f)), 0.2f, 1e-4f);
}

TEST(KhostMath, RotationBetweenTurnsOneDirectionOntoAnother) {
  ExpectNear(Rotate(RotationBetween({1, 0, 0}, {0, 0, 1}), {1, 0, 0}), {0, 0, 1});
  // Opposite directions still give a half turn.
  ExpectNear(Rotate(RotationBetween({0, 1, 0}, {0, -1, 0}), {0, 1, 0}), {0, -1, 0}, 1e-4f);
}

TEST(KhostMath, NlerpTakesTheShortWay) {
  const Quat a = QuatFromAxisAngle({0, 0, 1}, 0.2f);
  Quat b = QuatFromAxisAngle({0, 0, 1}, 0.4f);
  b = {-b.x, -b.y, -b.z, -b.w};  // the same rotation, other hemisphere
  EXPECT_NEAR(QuatAngle(Nlerp(a, b, 0.5f)), 0.3f, 1e-3f);
}

}  // namespace
