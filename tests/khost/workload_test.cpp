#include "khost/scene/workload.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "khost/scene/scene.h"

namespace {

using namespace khost;

TEST(KhostSceneSize, JointCountsStayWithinTheSkeletonRange) {
  for (int i = 0; i < 64; ++i) {
    EXPECT_GE(JointCountForCharacter(i), 20);
    EXPECT_LE(JointCountForCharacter(i), 40);
  }
}

TEST(KhostSceneSize, NodeCountOfAsceneIsTheSumOfItsJoints) {
  const Scene scene(5);
  int sum = 0;
  for (int i = 0; i < 5; ++i) sum += JointCountForCharacter(i);
  EXPECT_EQ(scene.GetNodeCount(), sum);
  EXPECT_EQ(scene.GetCharacterCount(), 5);
}

TEST(KhostSceneSize, RequestedNodeCountGivesTheFewestCharactersReachingIt) {
  const int first = JointCountForCharacter(0);
  const int two = first + JointCountForCharacter(1);
  EXPECT_EQ(CharactersForNodeCount(-5), 1);
  EXPECT_EQ(CharactersForNodeCount(0), 1);
  EXPECT_EQ(CharactersForNodeCount(first), 1);
  EXPECT_EQ(CharactersForNodeCount(first + 1), 2);
  EXPECT_EQ(CharactersForNodeCount(two), 2);
  EXPECT_EQ(CharactersForNodeCount(100000), static_cast<int>(kMaxCharacters));
  // The scene built from the rule reaches the request without a spare
  // character.
  for (int nodes : {1, 100, 480, 1000}) {
    const Scene scene(CharactersForNodeCount(nodes));
    EXPECT_GE(scene.GetNodeCount(), nodes);
    EXPECT_LT(scene.GetNodeCount() - JointCountForCharacter(scene.GetCharacterCount() - 1), nodes);
  }
}

TEST(KhostSceneSize, RoundingDownTakesTheMostCharactersNotExceedingTheRequest) {
  const int first = JointCountForCharacter(0);
  const int two = first + JointCountForCharacter(1);
  EXPECT_EQ(CharactersForNodeCount(two - 1, false), 1);
  EXPECT_EQ(CharactersForNodeCount(two, false), 2);
  EXPECT_EQ(CharactersForNodeCount(two + 1, false), 2);
  EXPECT_EQ(CharactersForNodeCount(0, false), 1);
  EXPECT_EQ(CharactersForNodeCount(100000, false), static_cast<int>(kMaxCharacters));
  // One step down from a scene's own count always loses a character, one
  // step up always gains one.
  for (int n = 2; n < 40; ++n) {
    const int nodes = Scene(n).GetNodeCount();
    EXPECT_EQ(CharactersForNodeCount(nodes - 1, false), n - 1) << n;
    EXPECT_EQ(CharactersForNodeCount(nodes + 1, true), n + 1) << n;
  }
}

TEST(KhostSceneSize, CharacterCountIsClamped) {
  EXPECT_EQ(Scene(0).GetCharacterCount(), 1);
  EXPECT_EQ(Scene(-3).GetCharacterCount(), 1);
  EXPECT_EQ(Scene(100000).GetCharacterCount(), static_cast<int>(kMaxCharacters));
}

TEST(KhostSceneMesh, EveryVertexHasNormalisedWeightsOnExistingBones) {
  Scene scene(3);
  for (int c = 0; c < scene.GetCharacterCount(); ++c) {
    Character& character = scene.GetCharacter(c);
    EXPECT_GE(character.Mesh.size(), 1500u) << "a few thousand vertices";
    for (const SkinVertex& v : character.Mesh) {
      float sum = 0.0f;
      for (int i = 0; i < kMaxInfluences; ++i) {
        sum += v.Weights[i];
        if (v.Weights[i] > 0.0f) {
          EXPECT_LT(v.Bones[i], character.Joints.size());
        }
      }
      ASSERT_NEAR(sum, 1.0f, 1e-5f);
    }
  }
}

TEST(KhostSceneEvaluation, ConstraintsKeepEveryJointWithinItsLimit) {
  Scene scene(2);
  for (int frame = 0; frame < 30; ++frame) {
    Character& c = scene.GetCharacter(1);
    scene.Animate(c, frame / 60.0, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    for (std::size_t j = 1; j < c.Joints.size(); ++j) {
      ASSERT_LE(QuatAngle(c.Poses[0].Local[j]), c.Joints[j].Limit + 1e-3f) << frame << ":" << j;
    }
  }
}

TEST(KhostSceneEvaluation, HeadTurnsTowardsTheCamera) {
  Scene scene(4);
  Character& c = scene.GetCharacter(2);
  scene.Animate(c, 0.25, 0);
  scene.SolveSkeleton(c, 0);
  const auto angleToCamera = [&] {
    const Mat34& head = c.Poses[0].World[static_cast<std::size_t>(c.HeadJoint)];
    const Vec3 forward = Normalize(TransformVector(head, {0, 0, 1}));
    const Vec3 wanted = Normalize(scene.GetCamera().Position - GetTranslation(head));
    return std::acos(std::fmax(-1.0f, std::fmin(1.0f, Dot(forward, wanted))));
  };
  const float before = angleToCamera();
  scene.SolveConstraints(c, 0);
  EXPECT_LT(angleToCamera(), before);
}

TEST(KhostSceneEvaluation, SkinnedMeshFollowsTheCharactersPlacement) {
  Scene scene(3);
  Character& c = scene.GetCharacter(0);
  scene.Animate(c, 0.0, 0);
  scene.SolveSkeleton(c, 0);
  scene.SolveConstraints(c, 0);
  SkinVertices(c.Poses[0].Skin.data(), c.Mesh.data(), 0, c.Mesh.size(), c.DeformedPositions.data(),
               c.DeformedNormals.data());
  // Every deformed vertex lies within the posed bounding sphere.
  for (const Vec3& p : c.DeformedPositions) {
    ASSERT_LE(Length(p - c.Poses[0].BoundsCenter), c.Poses[0].BoundsRadius + 1e-3f);
  }
  EXPECT_LT(Length(c.Poses[0].BoundsCenter - c.Placement), 2.0f);
}

struct Snapshot {
  std::vector<std::vector<Vec3>> Positions;
  std::vector<bool> Visible;
};

Snapshot SnapshotOf(Workload& w) {
  Snapshot s;
  Scene& scene = const_cast<Scene&>(w.GetScene());
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    s.Positions.push_back(scene.GetCharacter(i).DeformedPositions);
    s.Visible.push_back(scene.GetCharacter(i).Visible);
  }
  return s;
}

bool SameBits(const Snapshot& a, const Snapshot& b) {
  if (a.Visible != b.Visible || a.Positions.size() != b.Positions.size()) return false;
  for (std::size_t i = 0; i < a.Positions.size(); ++i) {
    if (!a.Visible[i]) continue;  // not deformed this frame
    if (a.Positions[i].size() != b.Positions[i].size()) return false;
    if (std::memcmp(a.Positions[i].data(), b.Positions[i].data(),
                    a.Positions[i].size() * sizeof(Vec3)) != 0)
      return false;
  }
  return true;
}

TEST(KhostWorkload, FrustumCullingSkipsCharactersOutsideTheView) {
  ThreadPool pool(1);
  Workload w(pool, 12);
  EngineSettings s;
  s.FrustumCulling = true;
  const FrameTimings culled = w.RunFrame(0, s);
  EXPECT_GT(culled.VisibleCharacters, 0);
  EXPECT_LT(culled.VisibleCharacters, 12);
  EXPECT_EQ(culled.DrawItems, culled.VisibleCharacters);
  s.FrustumCulling = false;
  const FrameTimings& all = w.RunFrame(1, s);
  EXPECT_EQ(all.VisibleCharacters, 12);
  EXPECT_EQ(all.DrawItems, 12);
  EXPECT_GT(all.DeformedVertices, culled.DeformedVertices);
}

TEST(KhostWorkload, GpuSkinningDeformsNothingOnTheCpuAndUploadsMatrices) {
  ThreadPool pool(1);
  Workload w(pool, 6);
  EngineSettings s;
  s.FrustumCulling = false;
  s.GPUSkinning = true;
  const FrameTimings& gpu = w.RunFrame(0, s);
  EXPECT_EQ(gpu.DeformedVertices, 0u);
  std::size_t joints = 0;
  for (int i = 0; i < 6; ++i)
    joints += const_cast<Scene&>(w.GetScene()).GetCharacter(i).Joints.size();
  EXPECT_EQ(w.GetUploadBytes(), joints * 12 * sizeof(float));
  EXPECT_EQ(gpu.DrawItems, 6);
  s.GPUSkinning = false;
  const FrameTimings& cpu = w.RunFrame(1, s);
  EXPECT_EQ(cpu.DeformedVertices, w.GetScene().GetVertexCount());
  EXPECT_EQ(w.GetUploadBytes(), cpu.DeformedVertices * 6 * sizeof(float));
}

TEST(KhostWorkload, ParallelSettingsGiveTheSameResultsAsSerial) {
  ThreadPool pool(2);
  Workload serial(pool, 8);
  Workload parallel(pool, 8);
  EngineSettings a;
  EngineSettings b;
  b.ParallelEvaluation = true;
  b.ParallelDeformation = true;
  for (long long frame = 0; frame < 4; ++frame) {
    const FrameTimings& ta = serial.RunFrame(frame, a);
    const FrameTimings& tb = parallel.RunFrame(frame, b);
    ASSERT_TRUE(SameBits(SnapshotOf(serial), SnapshotOf(parallel))) << "frame " << frame;
    EXPECT_EQ(ta.Characters.size(), 8u);
    EXPECT_EQ(tb.Characters.size(), 8u);
  }
}

TEST(KhostWorkload, PipelinedEvaluationShowsEachFramesOwnPose) {
  ThreadPool pool(2);
  Workload plain(pool, 6);
  Workload piped(pool, 6);
  EngineSettings a;
  EngineSettings b;
  b.ParallelPipeline = true;
  for (long long frame = 0; frame < 6; ++frame) {
    // Turning the pipeline off half-way must not show a stale pose either.
    if (frame == 4) b.ParallelPipeline = false;
    plain.RunFrame(frame, a);
    piped.RunFrame(frame, b);
    ASSERT_TRUE(SameBits(SnapshotOf(plain), SnapshotOf(piped))) << "frame " << frame;
  }
}

TEST(KhostWorkload, PipelineSurvivesARebuild) {
  ThreadPool pool(1);
  Workload w(pool, 4);
  EngineSettings s;
  s.ParallelPipeline = true;
  w.RunFrame(0, s);  // leaves frame 1 evaluating
  const int nodes = w.Rebuild(9);
  EXPECT_EQ(nodes, w.GetScene().GetNodeCount());
  EXPECT_EQ(w.RunFrame(1, s).Characters.size(), 9u);
}

TEST(KhostWorkload, SubmissionSortsByDetailThenDepth) {
  ThreadPool pool(1);
  Workload w(pool, 16);
  EngineSettings s;
  s.FrustumCulling = false;
  w.RunFrame(0, s);
  const std::vector<DrawItem>& list = w.GetDrawList();
  ASSERT_EQ(list.size(), 16u);
  for (std::size_t i = 1; i < list.size(); ++i) {
    const bool ordered = list[i - 1].Lod < list[i].Lod ||
                         (list[i - 1].Lod == list[i].Lod && list[i - 1].Depth <= list[i].Depth);
    EXPECT_TRUE(ordered) << i;
  }
}

}  // namespace
