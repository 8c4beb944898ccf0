// The viewport renderer on a real headless GL context, driven by the
// workload as khost drives it.
#include "khost/render/viewport.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "khost/base/thread_pool.h"
#include "khost/import/isolated_import.h"
#include "khost/render/character_mesh.h"
#include "khost/runtime/model.h"
#include "khost/scene/workload.h"
#include "ksurface.h"

namespace {

using khost::EngineSettings;
using khost::FrameTimings;
using khost::Viewport;
using khost::Workload;

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr int kCharacters = 24;

class ViewportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    mSurface = KSurface_CreateHeadless(kWidth, kHeight, &error);
    if (!mSurface) GTEST_SKIP() << "no headless surface: " << error;
    khost::Result<std::unique_ptr<Viewport>> created = Viewport::Create();
    ASSERT_TRUE(created) << created.GetError().Message;
    mViewport = std::move(*created);
    mViewport->SetRectangle(0, 0, kWidth, kHeight, kHeight);
    mPool = std::make_unique<khost::ThreadPool>(2);
    mWorkload = std::make_unique<Workload>(*mPool, kCharacters);
    mWorkload->SetCameraAspect(static_cast<float>(kWidth) / kHeight);
    mWorkload->SetRenderer(mViewport.get());
  }
  void TearDown() override {
    if (mWorkload) mWorkload->Drain();
    mWorkload.reset();
    mViewport.reset();
  }

  // Runs frame `frame`, keeps its timings and reads back what it drew.
  std::vector<unsigned char> Draw(long long frame, const EngineSettings& settings,
                                  FrameTimings& timings) {
    timings = mWorkload->RunFrame(frame, settings);
    std::vector<unsigned char> rgba;
    EXPECT_TRUE(mSurface->ReadPixels(rgba));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    return rgba;
  }

  std::unique_ptr<KSurface> mSurface;
  std::unique_ptr<Viewport> mViewport;
  std::unique_ptr<khost::ThreadPool> mPool;
  std::unique_ptr<Workload> mWorkload;
};

bool Near(const unsigned char* p, int r, int g, int b) {
  return std::abs(p[0] - r) <= 10 && std::abs(p[1] - g) <= 10 && std::abs(p[2] - b) <= 10;
}

// Pixels that are neither sky, ground nor grid.
int CharacterPixels(const std::vector<unsigned char>& rgba) {
  int n = 0;
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
    const unsigned char* p = &rgba[i];
    if (!Near(p, 158, 184, 219) && !Near(p, 102, 115, 102) && !Near(p, 71, 82, 71)) ++n;
  }
  return n;
}

// Pixels whose colour differs by more than `tolerance` in some channel.
int Differing(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
              int tolerance) {
  int n = 0;
  for (std::size_t i = 0; i + 3 < a.size() && i + 3 < b.size(); i += 4) {
    for (int c = 0; c < 3; ++c) {
      if (std::abs(a[i + c] - b[i + c]) > tolerance) {
        ++n;
        break;
      }
    }
  }
  return n;
}

TEST_F(ViewportTest, GpuSkinningDrawsTheCpuPictureWhileTheCpuDeformsNothing) {
  EngineSettings cpu;
  EngineSettings gpu;
  gpu.GPUSkinning = true;
  FrameTimings cpuTimings;
  FrameTimings gpuTimings;
  const std::vector<unsigned char> a = Draw(40, cpu, cpuTimings);
  const std::size_t cpuBytes = mWorkload->GetUploadBytes();
  const std::vector<unsigned char> b = Draw(40, gpu, gpuTimings);
  const std::size_t gpuBytes = mWorkload->GetUploadBytes();

  const int total = kWidth * kHeight;
  const int characters = CharacterPixels(a);
  ASSERT_GT(characters, total / 100) << "the CPU picture shows no characters";
  // The same pose: rounding may move an edge pixel here and there (a few
  // in a thousand; binding each vertex to one bone moves thirty times more).
  EXPECT_LE(Differing(a, b, 16), characters / 200);
  EXPECT_GT(cpuTimings.DeformedVertices, 0u);
  EXPECT_EQ(gpuTimings.DeformedVertices, 0u);
  // Skin matrices instead of vertices.
  EXPECT_GT(gpuBytes, 0u);
  EXPECT_LT(gpuBytes * 10, cpuBytes);
  EXPECT_EQ(mViewport->LastDrawCalls(), gpuTimings.VisibleCharacters);

  // The thread pool's evaluation and deformation, and the pipelined next
  // frame, draw the serial pictures exactly.
  EngineSettings parallel;
  parallel.ParallelEvaluation = parallel.ParallelDeformation = parallel.ParallelPipeline = true;
  FrameTimings timings;
  EXPECT_EQ(Draw(40, parallel, timings), a);
  const std::vector<unsigned char> pipelined = Draw(41, parallel, timings);
  mWorkload->Drain();
  EXPECT_EQ(pipelined, Draw(41, cpu, timings));
}

TEST_F(ViewportTest, RigidMeshesAreDrawnWithTheirNodesMatricesInsteadOfDeformed) {
  // A static model (no bones, no clips) and boxes on animated nodes: with
  // CPU skinning nothing is deformed and only a matrix per mesh is sent,
  // and the picture is the one GPU skinning draws from the bind pose.
  for (const char* file : {"OBJ/WusonOBJ.obj", "Collada/box_nested_animation.dae"}) {
    const std::string path = std::string("/usr/share/assimp/models/") + file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "needs the assimp-testmodels package";
    khost::Result<khost::Model> model = khost::ImportIsolated(path);
    ASSERT_TRUE(model) << file;
    mWorkload->Drain();
    mWorkload = std::make_unique<Workload>(
        *mPool, std::make_shared<const khost::Model>(std::move(*model)), kCharacters);
    mWorkload->SetCameraAspect(static_cast<float>(kWidth) / kHeight);
    mWorkload->SetRenderer(mViewport.get());
    const khost::Scene& scene = mWorkload->GetScene();
    for (const int slot : scene.GetMeshSlots()) EXPECT_GE(slot, 0) << file;

    EngineSettings cpu;
    EngineSettings gpu;
    gpu.GPUSkinning = true;
    FrameTimings cpuTimings;
    FrameTimings gpuTimings;
    const std::vector<unsigned char> a = Draw(40, cpu, cpuTimings);
    const std::size_t cpuBytes = mWorkload->GetUploadBytes();
    const std::vector<unsigned char> b = Draw(40, gpu, gpuTimings);
    const int characters = CharacterPixels(a);
    EXPECT_GT(characters, kWidth * kHeight / 200) << file;
    EXPECT_LE(Differing(a, b, 16), characters / 200) << file;
    EXPECT_EQ(cpuTimings.DeformedVertices, 0u) << file;
    EXPECT_GT(cpuTimings.VisibleCharacters, 0) << file;
    EXPECT_LE(cpuBytes, static_cast<std::size_t>(cpuTimings.VisibleCharacters) *
                            scene.GetMeshSlots().size() * sizeof(khost::Mat34))
        << file;
    // The next frames move the animated boxes, drawn alike the same way.
    const std::vector<unsigned char> later = Draw(70, cpu, cpuTimings);
    EXPECT_LE(Differing(later, Draw(70, gpu, gpuTimings), 16), characters / 200) << file;
  }
}

TEST_F(ViewportTest, CullingOffDrawsEveryCharacterAndTheSamePicture) {
  EngineSettings on;
  EngineSettings off;
  off.FrustumCulling = false;
  FrameTimings timings;
  const std::vector<unsigned char> culled = Draw(10, on, timings);
  const int drawnWithCulling = mViewport->LastDrawCalls();
  EXPECT_EQ(drawnWithCulling, timings.VisibleCharacters);
  EXPECT_GT(drawnWithCulling, 0);
  EXPECT_LT(drawnWithCulling, kCharacters);
  const std::vector<unsigned char> all = Draw(10, off, timings);
  EXPECT_EQ(mViewport->LastDrawCalls(), kCharacters);
  // Culling only left out what the camera does not see.
  EXPECT_EQ(all, culled);

  // A rebuilt scene gets buffers of its own.
  mWorkload->Rebuild(7);
  Draw(10, off, timings);
  EXPECT_EQ(mViewport->LastDrawCalls(), 7);
  off.GPUSkinning = true;
  Draw(10, off, timings);
  EXPECT_EQ(mViewport->LastDrawCalls(), 7);
}

TEST_F(ViewportTest, DrawingLeavesTheContextInItsDefaultState) {
  for (const bool gpu : {false, true}) {
    EngineSettings settings;
    settings.GPUSkinning = gpu;
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    FrameTimings timings;
    Draw(5, settings, timings);
    GLint value = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &value);
    EXPECT_EQ(value, 0) << gpu;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &value);
    EXPECT_EQ(value, 0) << gpu;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0) << gpu;
    glGetIntegerv(GL_UNIFORM_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0) << gpu;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
    EXPECT_EQ(value, GL_TEXTURE0) << gpu;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(value, 0) << gpu;
    for (const GLenum cap : {GL_DEPTH_TEST, GL_CULL_FACE, GL_BLEND, GL_TEXTURE_2D}) {
      EXPECT_FALSE(glIsEnabled(cap)) << gpu << " capability 0x" << std::hex << cap;
    }
  }
}

TEST(ViewportMesh, EveryLevelOfDetailIndexesTheMeshWithFewerTriangles) {
  const std::size_t vertices = 3 * khost::kMeshRings * khost::kMeshRingVertices;
  std::size_t previous = 0;
  for (int lod = 0; lod < 4; ++lod) {
    const std::vector<unsigned> indices = khost::CharacterMeshIndices(vertices, lod);
    ASSERT_FALSE(indices.empty()) << lod;
    EXPECT_EQ(indices.size() % 3, 0u);
    for (unsigned i : indices) {
      ASSERT_LT(i, vertices) << lod;
    }
    if (lod > 0) {
      EXPECT_LT(indices.size(), previous) << lod;
    }
    previous = indices.size();
  }
  // The finest level: every quad between neighbouring rings, two triangles each.
  EXPECT_EQ(khost::CharacterMeshIndices(vertices, 0).size(),
            3u * (khost::kMeshRings - 1) * khost::kMeshRingVertices * 6);
}

}  // namespace
