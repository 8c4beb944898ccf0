// The crowd's animation runtime on real scene files, against the simple
// reference code it replaces: the skin layout's kernels at every SIMD level
// against SkinVertices, and clip playback with cursors, batched slerp and
// the SIMD hierarchy against SampleClip and the matrix-at-a-time chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "khost/import/isolated_import.h"
#include "khost/runtime/clip_tracks.h"
#include "khost/runtime/model.h"
#include "khost/runtime/skin_kernels.h"
#include "khost/runtime/skinning.h"
#include "khost/scene/crowd.h"
#include "khost/scene/scene.h"

namespace {

using namespace khost;

const std::string kModels = "/usr/share/assimp/models/";
// Skinned, skeleton-only (motion capture), rigid meshes on animated nodes,
// and rotations of up to a half turn between keys.
const char* const kFiles[] = {"X/Testwuson.X",
                              "BVH/01_01.bvh",
                              "glTF2/simple_skin/simple_skin.gltf",
                              "X/anim_test.x",
                              "Collada/box_nested_animation.dae",
                              "Collada/anims_with_full_rotations_between_keys.DAE"};

std::vector<std::pair<std::string, std::shared_ptr<const Model>>> Models() {
  std::vector<std::pair<std::string, std::shared_ptr<const Model>>> models;
  for (const char* file : kFiles) {
    if (!std::filesystem::exists(kModels + file)) continue;
    Result<Model> model = ImportIsolated(kModels + file);
    EXPECT_TRUE(model.Ok()) << file << ": " << (model.Ok() ? "" : model.GetError().Message);
    if (model) models.emplace_back(file, std::make_shared<const Model>(std::move(*model)));
  }
  return models;
}

#define REQUIRE_MODELS(models) \
  if ((models).empty()) GTEST_SKIP() << "needs the assimp-testmodels package in " << kModels

// The default character with its influences rearranged so that every count
// from 1 to 4 occurs, and zero weights sit between used slots: a third of
// the vertices keep theirs, a third move them apart ({a, b, 0, 0} becomes
// {0, a, 0, b}), a third split each into equal halves on the same bone (a
// bone blended twice is the same bone).
Model WithEveryInfluenceCount(Model m) {
  for (std::size_t k = 0; k < m.Vertices.size(); ++k) {
    SkinVertex& v = m.Vertices[k];
    uint16_t bones[kMaxInfluences];
    float weights[kMaxInfluences];
    int n = 0;
    for (int i = 0; i < kMaxInfluences; ++i) {
      if (v.Weights[i] == 0.0f) continue;
      bones[n] = v.Bones[i];
      weights[n++] = v.Weights[i];
    }
    if (k % 3 == 0 || n == 0) continue;
    SkinVertex out = v;
    for (int i = 0; i < kMaxInfluences; ++i) out.Bones[i] = 0, out.Weights[i] = 0.0f;
    if (k % 3 == 1 && n <= 2) {
      for (int i = 0; i < n; ++i)
        out.Bones[2 * i + 1] = bones[i], out.Weights[2 * i + 1] = weights[i];
    } else if (k % 3 == 2 && n == 1) {
      for (int i = 0; i < 3; ++i) out.Bones[i] = bones[0], out.Weights[i] = weights[0] / 3.0f;
    } else if (k % 3 == 2 && n == 2) {
      for (int i = 0; i < 4; ++i)
        out.Bones[i] = bones[i / 2], out.Weights[i] = weights[i / 2] / 2.0f;
    } else {
      continue;
    }
    v = out;
  }
  return m;
}

float Size(const std::vector<SkinVertex>& vertices) {
  float size = 1e-3f;
  for (const SkinVertex& v : vertices) size = std::max(size, Length(v.Position));
  return size;
}

TEST(AnimationRuntime, SkinningKernelsAtEveryLevelMatchTheReferenceKernel) {
  auto models = Models();
  REQUIRE_MODELS(models);
  ASSERT_EQ(models[0].first, "X/Testwuson.X");
  models.emplace_back("X/Testwuson.X, every influence count",
                      std::make_shared<const Model>(WithEveryInfluenceCount(*models[0].second)));
  std::vector<SimdLevel> levels = {SimdLevel::Baseline};
  if (SimdLevelSupported(SimdLevel::Avx2Fma)) levels.push_back(SimdLevel::Avx2Fma);

  for (const auto& [name, model] : models) {
    Scene scene(model, 1);
    Character& c = scene.GetCharacter(0);
    scene.Animate(c, 0.9, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    const std::vector<SkinVertex>& vertices = c.Vertices();
    const SkinLayout& layout = *c.Skinning;
    if (name.find("every") != std::string::npos) {
      for (int n = 1; n <= kMaxInfluences; ++n) EXPECT_GT(layout.VerticesWith(n), 0u) << n;
    }
    std::vector<Vec3> positions(vertices.size());
    std::vector<Vec3> normals(vertices.size());
    SkinVertices(c.Poses[0].Skin.data(), vertices.data(), 0, vertices.size(), positions.data(),
                 normals.data());
    std::vector<bool> deformed(vertices.size(), false);
    for (const SkinRun& run : layout.Runs())
      for (std::size_t k = run.First; k < run.First + run.Count; ++k) deformed[k] = true;
    const float tolerance = 2e-5f * Size(vertices);

    for (const SimdLevel level : levels) {
      // Uneven pieces, so runs are cut at every offset within a group of
      // four; vertices outside the layout keep what they held.
      const Vec3 untouched{-7, -7, -7};
      std::vector<Vec3> p(vertices.size(), untouched);
      std::vector<Vec3> n(vertices.size(), untouched);
      for (std::size_t begin = 0; begin < layout.DeformedCount(); begin += 7)
        SkinLayoutRange(layout, c.Poses[0].Columns.data(), begin, begin + 7, p.data(), n.data(),
                        level);
      int bad = 0;
      for (std::size_t k = 0; k < vertices.size() && bad < 5; ++k) {
        if (!deformed[k]) {
          bad += p[k].x != untouched.x || n[k].z != untouched.z;
          continue;
        }
        const float dp = Length(p[k] - positions[k]);
        const float dn = Length(n[k] - normals[k]);
        if (dp <= tolerance && dn <= 2e-6f) continue;
        ++bad;
        ADD_FAILURE() << name << " at " << SimdLevelName(level) << ", vertex " << k
                      << ": position off by " << dp << ", normal by " << dn;
      }
      EXPECT_EQ(bad, 0) << name << " at " << SimdLevelName(level);
    }
  }
  // Forcing the baseline is what the default then runs.
  LimitSimdLevel(SimdLevel::Baseline);
  EXPECT_EQ(ActiveSimdLevel(), SimdLevel::Baseline);
  LimitSimdLevel(SimdLevel::Avx2Fma);
  EXPECT_EQ(ActiveSimdLevel(), levels.back());
}

// The reference: every node at its bind transform, the clip by SampleClip,
// the world matrices one MatFromTRS and product at a time.
std::vector<Mat34> ReferenceWorld(const Model& m, const Clip* clip, double ticks,
                                  const Mat34& root) {
  std::vector<Vec3> t(m.Nodes.size());
  std::vector<Quat> r(m.Nodes.size());
  std::vector<Vec3> s(m.Nodes.size());
  for (std::size_t j = 0; j < m.Nodes.size(); ++j) {
    t[j] = m.Nodes[j].Translation;
    r[j] = m.Nodes[j].Rotation;
    s[j] = m.Nodes[j].Scale;
  }
  if (clip) SampleClip(*clip, ticks, t.data(), r.data(), s.data());
  std::vector<Mat34> world(m.Nodes.size());
  for (std::size_t j = 0; j < m.Nodes.size(); ++j) {
    const int parent = m.Nodes[j].Parent;
    world[j] = (parent < 0 ? root : world[static_cast<std::size_t>(parent)]) *
               MatFromTRS(t[j], r[j], s[j]);
  }
  return world;
}

// The largest differences between two lists of matrices: of the axes, and
// of the translations relative to the largest translation in `expected`
// (at least 1).
struct Difference {
  float Axes = 0.0f;
  float Translations = 0.0f;
};
void Compare(const std::vector<Mat34>& actual, const std::vector<Mat34>& expected,
             Difference& worst) {
  float reach = 1.0f;
  for (const Mat34& m : expected) reach = std::max(reach, Length(GetTranslation(m)));
  for (std::size_t j = 0; j < expected.size(); ++j) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c)
        worst.Axes = std::max(worst.Axes, std::fabs(actual[j].m[r][c] - expected[j].m[r][c]));
      worst.Translations =
          std::max(worst.Translations, std::fabs(actual[j].m[r][3] - expected[j].m[r][3]) / reach);
    }
  }
}

TEST(AnimationRuntime, PlaybackWithCursorsPosesEveryNodeAsTheReferenceSamplerDoes) {
  auto models = Models();
  REQUIRE_MODELS(models);
  for (const auto& [name, model] : models) {
    Scene scene(model, 1);
    const Model& m = *scene.GetModel();
    Character& c = scene.GetCharacter(0);
    c.Speed = 1.0f;
    c.TimeOffset = 0.0;
    double total = 0.0;
    for (const Clip& clip : m.Clips) total += clip.Seconds();
    // Forward a frame at a time through every clip and a loop, then jumps
    // back and forward, then the clips' very ends and starts.
    std::vector<double> times;
    for (double t = 0.0; t < total + 0.5 && times.size() < 2000; t += 1.0 / 60.0)
      times.push_back(t);
    for (double t : {0.73 * total, 0.1 * total, 0.1 * total + 1e-3, 0.95 * total, 0.0, -0.25})
      times.push_back(t);
    double start = 0.0;
    for (const Clip& clip : m.Clips) {
      start += clip.Seconds();
      times.push_back(start);
      times.push_back(std::nextafter(start, 0.0));
    }
    Difference worst;
    for (const double t : times) {
      scene.Animate(c, t, 0);
      scene.SolveSkeleton(c, 0);
      double ticks = 0.0;
      const int clip = ClipAt(m, t, ticks);
      const std::vector<Mat34> expected =
          ReferenceWorld(m, clip >= 0 ? &m.Clips[static_cast<std::size_t>(clip)] : nullptr, ticks,
                         c.Poses[0].Root);
      Compare(c.Poses[0].World, expected, worst);
    }
    // Float rounding: the translations sum down chains of up to a hundred
    // nodes, of a model scaled down to stand 1.8 units tall.
    EXPECT_LT(worst.Axes, 2e-5f) << name << " over " << times.size() << " times";
    EXPECT_LT(worst.Translations, 1e-4f) << name << " over " << times.size() << " times";
  }
}

TEST(AnimationRuntime, SingleKeyConstantAndRepeatedChannelsPlayAsTheReferenceSamplerDoes) {
  auto models = Models();
  REQUIRE_MODELS(models);
  const Model& m = *models[0].second;
  ASSERT_FALSE(m.Clips.empty());
  // The first clip plus: a single-key rotation, a track whose keys are all
  // equal, and a second channel for an animated node (the later wins).
  Clip clip = m.Clips[0];
  ASSERT_FALSE(clip.Channels.empty());
  const int animated = clip.Channels[0].Node;
  const int other = (animated + 1) % static_cast<int>(m.Nodes.size());
  clip.Channels.push_back({other, {}, {{1.0, QuatFromAxisAngle({0, 1, 0}, 0.5f)}}, {}});
  clip.Channels.push_back(
      {other,
       {{0.0, {1, 2, 3}}, {clip.Duration * 0.5, {1, 2, 3}}, {clip.Duration, {1, 2, 3}}},
       {},
       {}});
  clip.Channels.push_back({animated,
                           {{0.0, {0, 0, 0}}, {clip.Duration, {0, 5, 0}}},
                           {{0.0, Quat{}}, {clip.Duration, QuatFromAxisAngle({1, 0, 0}, 3.0f)}},
                           {}});
  const ClipTracks tracks(clip, m.Nodes);
  PlaybackCursor cursor;
  const std::size_t n = m.Nodes.size();
  std::vector<Vec3> t(n), s(n), rt(n), rs(n);
  std::vector<Quat> r(n), rr(n);
  for (const double ticks : {-1.0, 0.0, 0.3 * clip.Duration, 0.31 * clip.Duration, clip.Duration,
                             clip.Duration + 5.0, 0.2 * clip.Duration}) {
    tracks.Sample(ticks, cursor, t.data(), r.data(), s.data());
    for (std::size_t j = 0; j < n; ++j) {
      rt[j] = m.Nodes[j].Translation;
      rr[j] = m.Nodes[j].Rotation;
      rs[j] = m.Nodes[j].Scale;
    }
    SampleClip(clip, ticks, rt.data(), rr.data(), rs.data());
    for (std::size_t j = 0; j < n; ++j) {
      EXPECT_LT(Length(t[j] - rt[j]), 1e-5f * (1.0f + Length(rt[j]))) << j << " at " << ticks;
      EXPECT_LT(Length(s[j] - rs[j]), 1e-6f) << j << " at " << ticks;
      const float dot = r[j].x * rr[j].x + r[j].y * rr[j].y + r[j].z * rr[j].z + r[j].w * rr[j].w;
      EXPECT_GT(dot, 1.0f - 1e-6f) << j << " at " << ticks;
    }
  }
  EXPECT_EQ(t[static_cast<std::size_t>(other)].y, 2.0f);

  // The batched slerp against the formula in double precision, from
  // nearly equal keys to a half turn apart.
  std::vector<Quat> a, b, out(64);
  std::vector<float> blend;
  for (int k = 0; k < 64; ++k) {
    const float angle = 3.14159f * static_cast<float>(k * k) / (63.0f * 63.0f);
    const Quat q = QuatFromAxisAngle({0.3f, 1.0f, -0.2f}, 0.4f * static_cast<float>(k));
    a.push_back(q);
    b.push_back(QuatFromAxisAngle({1.0f, -0.5f, 0.25f}, angle) * q);
    blend.push_back(static_cast<float>(k % 8) / 7.0f);
  }
  SlerpBatch(a.data(), b.data(), blend.data(), a.size(), out.data());
  for (std::size_t k = 0; k < a.size(); ++k) {
    double cosine = double(a[k].x) * b[k].x + double(a[k].y) * b[k].y + double(a[k].z) * b[k].z +
                    double(a[k].w) * b[k].w;
    const double sign = cosine < 0.0 ? -1.0 : 1.0;
    cosine = std::min(1.0, std::fabs(cosine));
    const double angle = std::acos(cosine);
    const double u =
        angle < 1e-9 ? 1.0 - blend[k] : std::sin((1.0 - blend[k]) * angle) / std::sin(angle);
    const double v =
        (angle < 1e-9 ? blend[k] : std::sin(blend[k] * angle) / std::sin(angle)) * sign;
    const double e[4] = {u * a[k].x + v * b[k].x, u * a[k].y + v * b[k].y, u * a[k].z + v * b[k].z,
                         u * a[k].w + v * b[k].w};
    const double got[4] = {out[k].x, out[k].y, out[k].z, out[k].w};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], e[i], 1e-6) << k << " component " << i;
  }
}

}  // namespace
