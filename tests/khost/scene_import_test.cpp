// Scene files read through the isolated import, evaluated and skinned as
// the crowd does it, checked against numbers worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "host/ktoolkit.h"
#include "khost/import/isolated_import.h"
#include "khost/runtime/model.h"
#include "khost/runtime/model_encoding.h"
#include "khost/scene/camera_control.h"
#include "khost/scene/crowd.h"
#include "khost/scene/scene.h"
#include "khost/scene/workload.h"

namespace {

using namespace khost;

const std::string kModels = "/usr/share/assimp/models/";

#define REQUIRE_MODEL(file)                       \
  if (!std::filesystem::exists(kModels + (file))) \
  GTEST_SKIP() << "needs the assimp-testmodels package (" << kModels + (file) << " is missing)"

std::shared_ptr<const Model> Import(const std::string& file) {
  Result<Model> model = ImportIsolated(kModels + file);
  EXPECT_TRUE(model.Ok()) << (model.Ok() ? "" : model.GetError().Message);
  if (!model) return nullptr;
  return std::make_shared<const Model>(std::move(*model));
}

// The first instance of a one-instance crowd of `model`, in the model's own
// space (no placement), skinned at `seconds` of its own time.
std::vector<Vec3> SkinnedAt(const std::shared_ptr<const Model>& model, double seconds) {
  Scene scene(model, 1);
  Character& c = scene.GetCharacter(0);
  c.Root = Mat34{};
  c.Placement = {};
  c.Heading = 0.0f;
  c.Turn = 0.0f;
  c.Speed = 1.0f;
  c.TimeOffset = 0.0;
  scene.Animate(c, seconds, 0);
  scene.SolveSkeleton(c, 0);
  scene.SolveConstraints(c, 0);
  std::vector<Vec3> positions(model->Vertices.size());
  std::vector<Vec3> normals(model->Vertices.size());
  SkinVertices(c.Poses[0].Skin.data(), model->Vertices.data(), 0, positions.size(),
               positions.data(), normals.data());
  return positions;
}

// simple_skin: a 1 x 2 strip of ten vertices at x in {0, 1}, y in {0, 0.5,
// 1, 1.5, 2}; joint 0 is node 1 (translated by (0, 1, 0)), joint 1 its child
// node 2, which the clip turns about z (0 deg at 0 s, 45 deg at 0.5 s, 90
// deg at 1 s; the file's key at 0.5 s is (0, 0, 0.383, 0.924), a hair over
// 45 deg). Both inverse bind matrices translate by (-0.5, -1, 0), and a
// vertex at height y weighs joint 1 by y / 2. So with R the rotation of
// node 2:
//   S0 p = (x - 0.5, y, 0)
//   S1 p = (0, 1, 0) + R (x - 0.5, y - 1, 0)
//   p'   = (1 - y/2) S0 p + (y/2) S1 p
Vec3 SimpleSkinByHand(Vec3 p, float degrees) {
  const float a = degrees * 3.14159265f / 180.0f;
  const Vec3 s0{p.x - 0.5f, p.y, 0.0f};
  const Vec3 s1{std::cos(a) * (p.x - 0.5f) - std::sin(a) * (p.y - 1.0f),
                1.0f + std::sin(a) * (p.x - 0.5f) + std::cos(a) * (p.y - 1.0f), 0.0f};
  const float w = p.y / 2.0f;
  return s0 * (1.0f - w) + s1 * w;
}

TEST(SceneImport, SimpleSkinMovesItsVerticesAsItsJointsAndWeightsSay) {
  REQUIRE_MODEL("glTF2/simple_skin/simple_skin.gltf");
  const auto model = Import("glTF2/simple_skin/simple_skin.gltf");
  ASSERT_TRUE(model);
  ASSERT_EQ(model->Vertices.size(), 10u);
  ASSERT_EQ(model->Clips.size(), 1u);
  // At a key (1 s: 90 deg), half way to the first key (0.25 s: 22.5 deg)
  // and a quarter of the way (0.125 s: 11.25 deg, where spherical
  // interpolation differs from normalised linear interpolation by 0.1 deg).
  const float key = 2.0f * std::atan2(0.383f, 0.924f) * 180.0f / 3.14159265f;
  for (const auto& [seconds, degrees] :
       {std::pair{1.0, 90.0f}, std::pair{0.25, key / 2}, std::pair{0.125, key / 4}}) {
    const std::vector<Vec3> skinned = SkinnedAt(model, seconds);
    for (std::size_t v = 0; v < skinned.size(); ++v) {
      const Vec3 bind = model->Vertices[v].Position;
      const Vec3 expected = SimpleSkinByHand(bind, degrees);
      EXPECT_NEAR(skinned[v].x, expected.x, 1e-4f) << "vertex " << v << " at " << seconds << " s";
      EXPECT_NEAR(skinned[v].y, expected.y, 1e-4f) << "vertex " << v << " at " << seconds << " s";
      EXPECT_NEAR(skinned[v].z, expected.z, 1e-4f) << "vertex " << v << " at " << seconds << " s";
    }
  }
  // The top corners by hand at 90 deg: (0, 2) -> (-1, 0.5), (1, 1) -> (0.25, 1.25).
  EXPECT_NEAR(SimpleSkinByHand({0, 2, 0}, 90).x, -1.0f, 1e-6f);
  EXPECT_NEAR(SimpleSkinByHand({1, 1, 0}, 90).y, 1.25f, 1e-6f);
}

TEST(SceneImport, AtItsBindPoseASkinnedModelIsItsOwnMesh) {
  REQUIRE_MODEL("X/Testwuson.X");
  // (simple_skin is no case: its inverse bind matrices are not the inverse
  // of its joints' rest transforms.)
  for (const char* file : {"X/Testwuson.X"}) {
    auto model = Import(file);
    ASSERT_TRUE(model);
    Model still = *model;
    still.Clips.clear();  // every node at its bind transform
    bool skinned = false;
    for (const SkinSlot& slot : still.Slots) {
      for (const auto& row : slot.Offset.m) skinned = skinned || row[3] != 0.0f;
    }
    EXPECT_TRUE(skinned) << file << " has bones with offsets";
    const auto shared = std::make_shared<const Model>(still);
    const std::vector<Vec3> positions = SkinnedAt(shared, 0.0);
    float worst = 0.0f;
    float size = 0.0f;
    for (std::size_t v = 0; v < positions.size(); ++v) {
      worst = std::max(worst, Length(positions[v] - still.Vertices[v].Position));
      size = std::max(size, Length(still.Vertices[v].Position));
    }
    EXPECT_LE(worst, 1e-4f * std::max(size, 1.0f)) << file;
  }
}

TEST(SceneImport, ClipsLoopOneAfterAnotherAtTheirOwnRate) {
  Model m;
  m.Nodes.push_back({"root", -1, {}, {}, {1, 1, 1}});
  Clip walk;  // 10 ticks at the default 25 a second: 0.4 s
  walk.Duration = 10.0;
  walk.Channels.push_back({0, {{0.0, {0, 0, 0}}, {20.0, {20, 0, 0}}}, {}, {}});
  Clip still;  // zero length: skipped
  Clip run;    // 100 ticks at 100 a second: 1 s
  run.Duration = 100.0;
  run.TicksPerSecond = 100.0;
  m.Clips = {walk, still, run};
  double ticks = 0.0;
  EXPECT_EQ(ClipAt(m, 0.2, ticks), 0);
  EXPECT_NEAR(ticks, 5.0, 1e-9);
  EXPECT_EQ(ClipAt(m, 0.9, ticks), 2);
  EXPECT_NEAR(ticks, 50.0, 1e-9);
  EXPECT_EQ(ClipAt(m, 1.4 + 0.1, ticks), 0);  // looped
  EXPECT_NEAR(ticks, 2.5, 1e-9);
  // A key past the clip's end: sampling stops at the end (tick 10, half way
  // to the key at 20).
  Vec3 t{};
  Quat r{};
  Vec3 s{1, 1, 1};
  SampleClip(m.Clips[0], 15.0, &t, &r, &s);
  EXPECT_NEAR(t.x, 10.0f, 1e-5f);
  // Only zero-length clips: the first holds its first pose.
  Model zero;
  zero.Clips = {still, still};
  EXPECT_EQ(ClipAt(zero, 3.0, ticks), 0);
  EXPECT_EQ(ticks, 0.0);
}

TEST(SceneImport, BadNumbersAndIndicesAreRepairedNotTrusted) {
  Model m;
  m.Nodes.push_back({"root", -1, {}, {}, {1, 1, 1}});
  m.Nodes.push_back({"loop", 5, {NAN, 0, 0}, {0, 0, 0, 0}, {1, 1, 1}});  // parent later
  m.Slots.push_back({7, Mat34{}});  // a node that does not exist
  SkinVertex v;
  v.Weights[0] = 1.0f;
  v.Bones[0] = 3;  // no such slot
  m.Vertices = {v, v, v};
  m.Vertices[1].Position = {INFINITY, 0, 0};
  m.Indices = {0, 1, 2, 0, 1, 9};  // the second triangle points past the mesh
  m.Meshes.push_back({"m", 0, 3, 0, 6, {NAN, 2.0f, 0.5f}});
  // Its material: an image short of pixels, coordinates not finite, and
  // colours for only some vertices.
  m.Images.push_back({"short.png", 2, 2, std::make_shared<const std::vector<uint8_t>>(15)});
  m.Images.push_back({"whole.png", 1, 1, std::make_shared<const std::vector<uint8_t>>(4, 200)});
  m.Meshes[0].Image = 0;
  m.Meshes[0].Opacity = NAN;
  m.Meshes[0].VertexColours = true;
  m.TexCoords = {{NAN, 0}, {0, 0}, {1, 1}};
  m.Colours.resize(2);
  Clip clip;
  clip.Duration = NAN;
  clip.Channels.push_back({1, {{NAN, {0, 0, 0}}, {1.0, {1, 1, 1}}}, {{0.0, {0, 0, 0, 0}}}, {}});
  clip.Channels.push_back({42, {}, {}, {}});
  m.Clips.push_back(clip);
  std::string notes;
  ASSERT_TRUE(SanitizeModel(m, &notes)) << notes;
  EXPECT_EQ(m.Nodes[1].Parent, 0);
  EXPECT_EQ(m.Nodes[1].Translation.x, 0.0f);
  EXPECT_EQ(m.Nodes[1].Rotation.w, 1.0f);
  EXPECT_EQ(m.Slots[0].Node, 0);
  EXPECT_EQ(m.Vertices[1].Position.x, 0.0f);
  EXPECT_EQ(m.Vertices[0].Weights[0], 1.0f);  // rebound to slot 0
  EXPECT_EQ(m.Vertices[0].Bones[0], 0);
  EXPECT_EQ(m.Indices.size(), 3u);
  EXPECT_EQ(m.Meshes[0].Colour[0], 0.8f);
  EXPECT_EQ(m.Meshes[0].Colour[1], 1.0f);
  EXPECT_EQ(m.Meshes[0].Image, -1);
  EXPECT_EQ(m.Meshes[0].Opacity, 1.0f);
  EXPECT_FALSE(m.Meshes[0].VertexColours);
  ASSERT_EQ(m.Images.size(), 1u);
  EXPECT_EQ(m.TexCoords[0].U, 0.0f);
  EXPECT_TRUE(m.Colours.empty());
  EXPECT_EQ(m.Clips[0].Duration, 0.0);
  ASSERT_EQ(m.Clips[0].Channels.size(), 1u);
  EXPECT_EQ(m.Clips[0].Channels[0].Positions.size(), 1u);
  EXPECT_EQ(m.Clips[0].Channels[0].Rotations[0].Value.w, 1.0f);
  EXPECT_NE(notes.find("out of range"), std::string::npos) << notes;

  // It still evaluates to finite numbers, whatever the time.
  const auto shared = std::make_shared<const Model>(m);
  for (double seconds : {0.0, 1e9, -5.0}) {
    for (const Vec3& p : SkinnedAt(shared, seconds)) EXPECT_TRUE(std::isfinite(p.x + p.y + p.z));
  }

  // The bytes from the child are checked: every truncation is refused.
  const std::string bytes = SerializeModel(m);
  Model back;
  ASSERT_TRUE(DeserializeModel(bytes, back));
  EXPECT_EQ(back.Vertices.size(), m.Vertices.size());
  EXPECT_EQ(back.Clips[0].Channels[0].Positions.size(), 1u);
  ASSERT_EQ(back.Images.size(), 1u);
  EXPECT_EQ(*back.Images[0].Rgba, *m.Images[0].Rgba);
  for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
    EXPECT_FALSE(DeserializeModel(bytes.substr(0, cut), back)) << cut;
  }
  // A model with neither triangles nor a skeleton has nothing to draw; a
  // skeleton alone gets a bone (eight triangles) from each joint to its
  // parent, bound to the parent.
  Model empty;
  empty.Nodes.push_back({"root", -1, {}, {}, {1, 1, 1}});
  EXPECT_FALSE(SanitizeModel(empty, &notes));
  Model skeleton = empty;
  skeleton.Nodes.push_back({"hip", 0, {0, 1, 0}, {}, {1, 1, 1}});
  skeleton.Nodes.push_back({"knee", 1, {0, -0.5f, 0}, {}, {1, 1, 1}});
  ASSERT_TRUE(SanitizeModel(skeleton, &notes));
  EXPECT_TRUE(skeleton.SkeletonOnly);
  EXPECT_EQ(skeleton.Indices.size(), 2u * 8u * 3u);
  EXPECT_EQ(skeleton.Slots[skeleton.Vertices.back().Bones[0]].Node, 1);
}

TEST(SceneImport, WhatCannotBeUsedIsRefusedByNameWithItsStatus) {
  const Result<Model> missing = ImportIsolated("/nonexistent/scene.gltf");
  ASSERT_FALSE(missing.Ok());
  EXPECT_EQ(missing.GetError().Code, ExitStatus::kBadInput);
  EXPECT_NE(missing.GetError().Message.find("/nonexistent/scene.gltf"), std::string::npos);
  const Result<Model> folder = ImportIsolated("/tmp");
  ASSERT_FALSE(folder.Ok());
  EXPECT_EQ(folder.GetError().Code, ExitStatus::kBadInput);
  REQUIRE_MODEL("X/Testwuson.X");
  // Past the time limit: the child is stopped and the host told so.
  ImportLimits quick;
  quick.Seconds = 0.001;
  const Result<Model> slow = ImportIsolated(kModels + "X/Testwuson.X", quick);
  ASSERT_FALSE(slow.Ok());
  EXPECT_EQ(slow.GetError().Code, ExitStatus::kFailure);
  EXPECT_NE(slow.GetError().Message.find("time limit"), std::string::npos)
      << slow.GetError().Message;
  // A file with nothing the library can draw.
  const Result<Model> empty = ImportIsolated(kModels + "invalid/empty.x");
  ASSERT_FALSE(empty.Ok());
  EXPECT_EQ(empty.GetError().Code, ExitStatus::kFailure);
  EXPECT_NE(empty.GetError().Message.find("invalid/empty.x"), std::string::npos);
  // A motion-capture file (the library gives its skeleton a mesh) plays.
  if (std::filesystem::exists(kModels + "BVH/01_01.bvh")) {
    const auto mocap = Import("BVH/01_01.bvh");
    ASSERT_TRUE(mocap);
    EXPECT_FALSE(mocap->Indices.empty());
    ASSERT_FALSE(mocap->Clips.empty());
    const std::vector<Vec3> a = SkinnedAt(mocap, 0.0);
    const std::vector<Vec3> b = SkinnedAt(mocap, 1.0);
    float moved = 0.0f;
    for (std::size_t v = 0; v < a.size(); ++v) moved = std::max(moved, Length(a[v] - b[v]));
    EXPECT_GT(moved, 0.1f);
  }
}

// The extent of the model's skinned bind pose along x, y and z.
Vec3 Extent(const std::shared_ptr<const Model>& model) {
  Vec3 lo{1e30f, 1e30f, 1e30f};
  Vec3 hi{-1e30f, -1e30f, -1e30f};
  for (const Vec3& p : SkinnedAt(model, 0.0)) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  return hi - lo;
}

TEST(SceneImport, AZUpModelStandsOnYAndTheUpAxisGivenOverridesTheFile) {
  REQUIRE_MODEL("BLEND/HUMAN.blend");
  // A standing figure, Z-up by its format: about 10.7 tall, 1.6 deep.
  Result<Model> standing = ImportIsolated(kModels + "BLEND/HUMAN.blend");
  ASSERT_TRUE(standing.Ok()) << standing.GetError().Message;
  EXPECT_NE(standing->Notes.find("up axis is +Z"), std::string::npos) << standing->Notes;
  const Vec3 up = Extent(std::make_shared<const Model>(std::move(*standing)));
  EXPECT_GT(up.y, 5.0f * up.z);
  // Told the file is Y-up, it is left lying along z.
  Result<Model> lying = ImportIsolated(kModels + "BLEND/HUMAN.blend", {}, {UpAxis::kY, nullptr});
  ASSERT_TRUE(lying.Ok()) << lying.GetError().Message;
  EXPECT_EQ(lying->Notes.find("up axis"), std::string::npos) << lying->Notes;
  const Vec3 flat = Extent(std::make_shared<const Model>(std::move(*lying)));
  EXPECT_GT(flat.z, 5.0f * flat.y);
  EXPECT_NEAR(flat.z, up.y, 1e-3f * up.y);

  // An OpenGEX file states its up axis in its text: Z here, and Y once
  // edited to say so.
  REQUIRE_MODEL("OpenGEX/Example.ogex");
  Result<Model> stated = ImportIsolated(kModels + "OpenGEX/Example.ogex");
  ASSERT_TRUE(stated.Ok()) << stated.GetError().Message;
  EXPECT_NE(stated->Notes.find("up axis is +Z"), std::string::npos) << stated->Notes;
  std::ifstream in(kModels + "OpenGEX/Example.ogex");
  std::stringstream read;
  read << in.rdbuf();
  std::string text = read.str();
  const std::size_t z = text.find("{\"z\"}");
  ASSERT_NE(z, std::string::npos);
  text.replace(z, 5, "{ \"Y\" }");
  const std::filesystem::path yUp =
      std::filesystem::temp_directory_path() / ("khost_y_" + std::to_string(getpid()) + ".ogex");
  std::ofstream(yUp) << text;
  Result<Model> restated = ImportIsolated(yUp.string());
  std::filesystem::remove(yUp);
  ASSERT_TRUE(restated.Ok()) << restated.GetError().Message;
  EXPECT_EQ(restated->Notes.find("up axis"), std::string::npos) << restated->Notes;
}

// An Ogre mesh whose skeleton, a file beside it, holds a clip of `length`
// (1 unless given) with keys at 0, 0.5 (x = 1) and 2 (x = 4), then
// `moreKeys`.
void WriteOgreModel(const std::filesystem::path& folder, const std::string& length = "1",
                    const std::string& moreKeys = "") {
  std::ofstream(folder / "t.mesh.xml") << R"(<mesh><submeshes>
<submesh material="m" usesharedvertices="false" use32bitindexes="false" operationtype="triangle_list">
<faces count="1"><face v1="0" v2="1" v3="2" /></faces>
<geometry vertexcount="3"><vertexbuffer positions="true">
<vertex><position x="0" y="0" z="0" /></vertex><vertex><position x="1" y="0" z="0" /></vertex>
<vertex><position x="0" y="1" z="0" /></vertex></vertexbuffer></geometry>
<boneassignments><vertexboneassignment vertexindex="0" boneindex="0" weight="1" />
<vertexboneassignment vertexindex="1" boneindex="0" weight="1" />
<vertexboneassignment vertexindex="2" boneindex="0" weight="1" /></boneassignments>
</submesh></submeshes><skeletonlink name="t.skeleton" /></mesh>
)";
  std::ofstream(folder / "t.skeleton.xml") << R"(<skeleton><bones><bone id="0" name="root">
<position x="0" y="0" z="0" /><rotation angle="0"><axis x="1" y="0" z="0" /></rotation></bone>
</bones><bonehierarchy /><animations><animation name="walk" length=")"
                                           << length << R"("><tracks>
<track bone="root"><keyframes>
<keyframe time="0"><translate x="0" y="0" z="0" /></keyframe>
<keyframe time="0.5"><translate x="1" y="0" z="0" /></keyframe>
<keyframe time="2"><translate x="4" y="0" z="0" /></keyframe>
)" << moreKeys << R"(</keyframes></track></tracks></animation></animations></skeleton>
)";
}

TEST(SceneImport, KeysPastAClipsLengthAreClampedToItAndTheFilesReadAreListed) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("khost_ogre_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  WriteOgreModel(folder);
  Result<Model> model = ImportIsolated((folder / "t.mesh.xml").string());
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(model.Ok()) << model.GetError().Message;
  // The skeleton beside the mesh is one of the files read.
  const std::vector<std::string>& read = model->ReadFiles;
  EXPECT_NE(std::find(read.begin(), read.end(), (folder / "t.mesh.xml").string()), read.end());
  EXPECT_NE(std::find(read.begin(), read.end(), (folder / "t.skeleton.xml").string()), read.end())
      << ::testing::PrintToString(read);
  EXPECT_NE(model->Notes.find("clip 'walk': 3 keys past its length of 1 ticks clamped"),
            std::string::npos)
      << model->Notes;
  ASSERT_EQ(model->Clips.size(), 1u);
  const Clip& clip = model->Clips[0];
  EXPECT_EQ(clip.Duration, 1.0);
  ASSERT_EQ(clip.Channels.size(), 1u);
  const std::vector<VectorKey>& keys = clip.Channels[0].Positions;
  ASSERT_EQ(keys.size(), 3u);
  // The last key sits at the clip's end with the value the keys had there.
  EXPECT_EQ(keys[2].Time, 1.0);
  EXPECT_NEAR(keys[2].Value.x, 2.0f, 1e-5f);
  for (const NodeChannel& channel : clip.Channels) {
    EXPECT_LE(channel.Rotations.back().Time, 1.0);
    EXPECT_LE(channel.Scales.back().Time, 1.0);
  }
}

TEST(SceneImport, KeysBeyondWhatThePlaybackHoldsAreDroppedForThatReason) {
  // A length and keys far past the playback's range either side of zero,
  // and a key whose value is not a number. Each Ogre keyframe is a
  // position, a rotation and a scale key.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("khost_far_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  WriteOgreModel(folder, "1e30",
                 R"(<keyframe time="1e30"><translate x="9" y="0" z="0" /></keyframe>
<keyframe time="-1e30"><translate x="9" y="0" z="0" /></keyframe>
<keyframe time="1"><translate x="nan" y="0" z="0" /></keyframe>
)");
  Result<Model> model = ImportIsolated((folder / "t.mesh.xml").string());
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(model.Ok()) << model.GetError().Message;
  const std::string& notes = model->Notes;
  EXPECT_NE(notes.find("clip 'walk': 1 non-finite keys dropped\n"), std::string::npos) << notes;
  EXPECT_NE(notes.find("clip 'walk': 6 keys at times out of the range the host plays "
                       "(-16777216 to 16777216 ticks) dropped\n"),
            std::string::npos)
      << notes;
  EXPECT_NE(notes.find("clip 'walk': its length is past what the host plays (16777216 ticks); "
                       "cut to its last key\n"),
            std::string::npos)
      << notes;
  // The clip ends at its last key and plays between the keys it kept: at
  // tick 1, a third of the way from x = 1 to x = 4.
  ASSERT_EQ(model->Clips.size(), 1u);
  const Clip& clip = model->Clips[0];
  EXPECT_EQ(clip.Duration, 2.0);
  std::vector<double> times;
  for (const VectorKey& key : clip.Channels.at(0).Positions) times.push_back(key.Time);
  EXPECT_EQ(times, (std::vector<double>{0.0, 0.5, 2.0}));
  const auto shared = std::make_shared<const Model>(std::move(*model));
  const std::vector<Vec3> bind = SkinnedAt(shared, 0.0);
  const std::vector<Vec3> played = SkinnedAt(shared, shared->Clips[0].Seconds() / 2.0);
  ASSERT_EQ(played.size(), bind.size());
  for (std::size_t v = 0; v < played.size(); ++v) {
    EXPECT_NEAR(played[v].x - bind[v].x, 2.0f, 1e-4f) << v;
  }
}

TEST(SceneImport, ViewportInputOrbitsPansZoomsAndFramesTheCrowdAgain) {
  REQUIRE_MODEL("X/Testwuson.X");
  const auto model = Import("X/Testwuson.X");
  ASSERT_TRUE(model);
  ThreadPool pool(1);
  Workload workload(pool, model, 9);
  CameraControl control;
  const Camera framed = workload.GetScene().GetCamera();
  const Vec3 pivot = workload.GetScene().GetPivot();
  const float distance = Length(framed.Position - pivot);
  // Every instance is in the framed view.
  for (int i = 0; i < 9; ++i) {
    Character& c = workload.EditScene().GetCharacter(i);
    workload.EditScene().Animate(c, 0.0, 0);
    workload.EditScene().SolveSkeleton(c, 0);
    workload.EditScene().SolveConstraints(c, 0);
    EXPECT_TRUE(SphereInFrustum(workload.GetScene().GetFrustum(), c.Poses[0].BoundsCenter, 0.0f));
  }
  // Left drag over the viewport (640 x 420): orbits at the same distance.
  EXPECT_TRUE(control.Input(workload, kInputMouseDown, 100, 100, 0, 640, 420));
  EXPECT_TRUE(control.Input(workload, kInputMouseMove, 160, 120, 0, 640, 420));
  EXPECT_TRUE(control.Input(workload, kInputMouseUp, 160, 120, 0, 640, 420));
  const Camera orbited = workload.GetScene().GetCamera();
  EXPECT_GT(Length(orbited.Position - framed.Position), 0.1f);
  EXPECT_NEAR(Length(orbited.Position - pivot), distance, distance * 1e-3f);
  // Right drag pans: the pivot moves; the wheel comes nearer.
  control.Input(workload, kInputMouseDown, 100, 100, 1, 640, 420);
  control.Input(workload, kInputMouseMove, 140, 100, 1, 640, 420);
  control.Input(workload, kInputMouseUp, 140, 100, 1, 640, 420);
  EXPECT_GT(Length(workload.GetScene().GetPivot() - pivot), 0.01f);
  const float before =
      Length(workload.GetScene().GetCamera().Position - workload.GetScene().GetPivot());
  EXPECT_TRUE(control.Input(workload, kInputMouseWheel, 300, 200, 2, 640, 420));
  EXPECT_LT(Length(workload.GetScene().GetCamera().Position - workload.GetScene().GetPivot()),
            before * 0.8f);
  // Over the tool (x >= 640) nothing is the viewport's.
  EXPECT_FALSE(control.Input(workload, kInputMouseDown, 700, 100, 0, 640, 420));
  EXPECT_FALSE(control.Input(workload, kInputMouseWheel, 700, 100, 1, 640, 420));
  // F frames the crowd again, exactly as at the start.
  EXPECT_TRUE(control.Input(workload, kInputKeyChar, 300, 200, 'f', 640, 420));
  const Camera again = workload.GetScene().GetCamera();
  EXPECT_NEAR(Length(again.Position - framed.Position), 0.0f, 1e-4f);
}

}  // namespace
