#include "khost/render/viewport.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "khost/render/character_mesh.h"
#include "khost/render/viewport_programs.h"
#include "khost/runtime/model.h"
#include "khost/runtime/skin_layout.h"

namespace khost {

namespace {

constexpr int kMinBones = 64;      // the bone block holds at least this many joints
constexpr float kGroundHalf = 60;  // metres
constexpr int kGridHalf = 30;      // grid lines every metre out to this
constexpr GLuint kBoneBinding = 0;

// Sky, ground and grid: a light blue above a dull green-grey, so the
// saturated character colours stand out against both.
constexpr float kSky[3] = {0.62f, 0.72f, 0.86f};
constexpr float kGround[3] = {0.40f, 0.45f, 0.40f};
constexpr float kGrid[3] = {0.28f, 0.32f, 0.28f};
constexpr float kAlbedos[][3] = {
    {0.95f, 0.50f, 0.15f}, {0.85f, 0.20f, 0.25f}, {0.95f, 0.80f, 0.20f},
    {0.80f, 0.30f, 0.75f}, {0.15f, 0.55f, 0.90f}, {0.95f, 0.95f, 0.90f},
};
// Towards the light: above, behind and left of the camera, so the faces
// turned to the camera are lit.
constexpr float kLight[3] = {-0.37f, 0.79f, 0.49f};

const Mat34 kIdentity;

struct BindVertex {
  float Position[3];
  float Normal[3];
  uint16_t Bones[4];
  float Weights[4];
};

}  // namespace

Result<std::unique_ptr<Viewport>> Viewport::Create(std::ostream* notes) {
  std::unique_ptr<Viewport> viewport(new Viewport());
  viewport->mNotes = notes;
  if (Status built = viewport->Build(); !built) return built.GetError();
  return viewport;
}

Status Viewport::Build() {
  if (epoxy_gl_version() < 33) {
    return Failure("the viewport needs OpenGL 3.3; the context offers " +
                   std::to_string(epoxy_gl_version() / 10) + "." +
                   std::to_string(epoxy_gl_version() % 10));
  }
  for (auto [program, vertex, fragment] :
       {std::tuple{&mMeshProgram, kMeshVertex, kMeshFragment},
        std::tuple{&mGroundProgram, kGroundVertex, kGroundFragment}}) {
    const Result<GLuint> linked = Link(vertex, fragment);
    if (!linked) return linked.AsStatus();
    *program = *linked;
  }
  GLint blockBytes = 16384;
  glGetIntegerv(GL_MAX_UNIFORM_BLOCK_SIZE, &blockBytes);
  mMaxBones = std::max(kMinBones, blockBytes / static_cast<GLint>(sizeof(Mat34)));
  if (Status skin = EnsureSkinProgram(kMinBones); !skin) return skin;
  mMeshViewProjection = glGetUniformLocation(mMeshProgram, "uViewProjection");
  mMeshLight = glGetUniformLocation(mMeshProgram, "uLight");
  mMeshModel = glGetUniformLocation(mMeshProgram, "uModel");
  mMeshMaterial = MaterialUniforms::Of(mMeshProgram);
  mGroundViewProjection = glGetUniformLocation(mGroundProgram, "uViewProjection");
  mGroundColour = glGetUniformLocation(mGroundProgram, "uColour");
  glGenBuffers(1, &mBoneBuffer);

  // The ground: two triangles, then the grid's lines just above them.
  std::vector<float> ground = {-kGroundHalf, 0, -kGroundHalf, kGroundHalf,  0, -kGroundHalf,
                               kGroundHalf,  0, kGroundHalf,  -kGroundHalf, 0, -kGroundHalf,
                               kGroundHalf,  0, kGroundHalf,  -kGroundHalf, 0, kGroundHalf};
  mGroundQuadVertices = 6;
  for (int i = -kGridHalf; i <= kGridHalf; ++i) {
    const float v = static_cast<float>(i);
    const float h = static_cast<float>(kGridHalf);
    ground.insert(ground.end(), {v, 0.0f, -h, v, 0.0f, h, -h, 0.0f, v, h, 0.0f, v});
  }
  mGridVertices = static_cast<GLsizei>(ground.size() / 3) - mGroundQuadVertices;
  glGenVertexArrays(1, &mGroundArray);
  glBindVertexArray(mGroundArray);
  glGenBuffers(1, &mGroundBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, mGroundBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(ground.size() * sizeof(float)),
               ground.data(), GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
  RestoreDefaultState();
  if (glGetError() != GL_NO_ERROR) {
    return Failure("the viewport's GL objects could not be made");
  }
  return {};
}

Status Viewport::CheckPalette(int bones) const {
  if (bones <= mMaxBones) return {};
  return Failure("GPU skinning holds at most " + std::to_string(mMaxBones) +
                 " bones a character here; the scene's deformed meshes are skinned with " +
                 std::to_string(bones));
}

Status Viewport::EnsureSkinProgram(int bones) {
  if (mSkinProgram && bones <= mSkinBones) return {};
  if (Status fits = CheckPalette(bones); !fits) return fits;
  bones = std::max(bones, kMinBones);
  const std::string source =
      "#version 330 core\n#define BONES " + std::to_string(bones) + "\n" + kSkinVertex;
  const Result<GLuint> linked = Link(source.c_str(), kMeshFragment);
  if (!linked) return linked.AsStatus();
  const GLuint program = *linked;
  const GLuint block = glGetUniformBlockIndex(program, "Bones");
  if (block == GL_INVALID_INDEX) {
    glDeleteProgram(program);
    return Failure("the skinning shader lost its bone block");
  }
  glUniformBlockBinding(program, block, kBoneBinding);
  if (mSkinProgram) glDeleteProgram(mSkinProgram);
  mSkinProgram = program;
  mSkinBones = bones;
  mSkinViewProjection = glGetUniformLocation(mSkinProgram, "uViewProjection");
  mSkinLight = glGetUniformLocation(mSkinProgram, "uLight");
  mSkinMaterial = MaterialUniforms::Of(mSkinProgram);
  glUseProgram(0);
  GLint alignment = 256;
  glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
  if (alignment < 1) alignment = 256;
  const GLsizeiptr blockBytes = static_cast<GLsizeiptr>(bones) * 3 * 4 * sizeof(float);
  mBoneStride = (blockBytes + alignment - 1) / alignment * alignment;
  return {};
}

const SkinPalette& Viewport::PaletteOf(const Scene& scene) {
  const Model* model = scene.GetModel();
  if (model != mPaletteModel) {
    mPaletteModel = model;
    mPalette = model ? SkinPalette(*model, scene.GetMeshSlots()) : SkinPalette();
  }
  return mPalette;
}

bool Viewport::CanSkinOnGpu(const Scene& scene) {
  const Status fits = CheckPalette(static_cast<int>(PaletteOf(scene).Size()));
  if (!fits && mNotes && !mNotedPalette) {
    *mNotes << "khost: " << fits.GetError().Message << ": skinning on the CPU instead\n";
    mNotedPalette = true;
  }
  return static_cast<bool>(fits);
}

Status Viewport::CheckScene(const Scene& scene, bool gpuSkinning) {
  const Model* model = scene.GetModel();
  if (!model) return {};
  // The images go to the GPU now, once, rather than in the first frame.
  mMaterials.Prepare(*model);
  const int bones = static_cast<int>(PaletteOf(scene).Size());
  if (gpuSkinning) return EnsureSkinProgram(bones);
  // Beyond the limit the frames skin on the CPU (CanSkinOnGpu) should GPU
  // skinning be switched on later.
  return EnsureSkinProgram(std::min(bones, mMaxBones));
}

Viewport::~Viewport() {
  ReleaseCharacters();
  if (mGroundArray) glDeleteVertexArrays(1, &mGroundArray);
  if (mGroundBuffer) glDeleteBuffers(1, &mGroundBuffer);
  if (mBoneBuffer) glDeleteBuffers(1, &mBoneBuffer);
  if (mMeshProgram) glDeleteProgram(mMeshProgram);
  if (mSkinProgram) glDeleteProgram(mSkinProgram);
  if (mGroundProgram) glDeleteProgram(mGroundProgram);
}

void Viewport::SetRectangle(int x, int y, int width, int height, int drawableHeight) {
  mX = x;
  mY = y;
  mWidth = std::max(0, width);
  mHeight = std::max(0, height);
  mDrawableHeight = drawableHeight;
}

void Viewport::ReleaseCharacters() {
  for (CharacterBuffers& b : mCharacters) {
    if (b.Shared) {
      // The model's index and bind-pose buffers belong to mShared.
      glDeleteBuffers(1, &b.Deformed);
      glDeleteVertexArrays(1, &b.CpuArray);
      continue;
    }
    const GLuint buffers[3] = {b.Deformed, b.BindPose, b.Indices};
    const GLuint arrays[2] = {b.CpuArray, b.GpuArray};
    glDeleteBuffers(3, buffers);
    glDeleteVertexArrays(2, arrays);
  }
  mCharacters.clear();
  const GLuint buffers[3] = {mShared.BindPose, mShared.Indices, mShared.Surface};
  glDeleteBuffers(3, buffers);
  glDeleteVertexArrays(1, &mShared.GpuArray);
  mShared = CharacterBuffers{};
}

void Viewport::SyncScene(Scene& scene) {
  // A rebuilt scene is a new object (made while the old one still lived),
  // so its address differs from the last one seen.
  if (mScene == &scene && mCharacters.size() == static_cast<std::size_t>(scene.GetCharacterCount()))
    return;
  ReleaseCharacters();
  mCharacters.resize(static_cast<std::size_t>(scene.GetCharacterCount()));
  mScene = &scene;
  mBlended = false;
  // A scene with more bones than the skinning program holds gets a bigger
  // one (beyond the limit the frames skin on the CPU: CanSkinOnGpu).
  if (const Model* model = scene.GetModel()) {
    // Within the limit a failure can only be the driver's; the program
    // already built stays in use.
    static_cast<void>(
        EnsureSkinProgram(std::min(static_cast<int>(PaletteOf(scene).Size()), mMaxBones)));
    mMaterials.Prepare(*model);
    mBlended = std::any_of(model->Meshes.begin(), model->Meshes.end(),
                           [](const ModelMesh& m) { return m.Alpha == AlphaMode::kBlend; });
  }
}

Viewport::CharacterBuffers& Viewport::Buffers(Scene& scene, int index, bool gpu) {
  CharacterBuffers& b = mCharacters[static_cast<std::size_t>(index)];
  const Character& c = scene.GetCharacter(index);
  if (c.Source) {
    // The instances of a model share its indices and bind-pose vertices
    // (and with them the GPU skinning's vertex array).
    if (!mShared.Indices) {
      const std::vector<uint32_t>& all = c.Source->Indices;
      glGenBuffers(1, &mShared.Indices);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mShared.Indices);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(all.size() * sizeof(uint32_t)),
                   all.data(), GL_STATIC_DRAW);
      mShared.Vertices = c.Vertices().size();
      mShared.Surface = ViewportMaterials::MakeSurfaceBuffer(*c.Source);
    }
    if (!b.Shared) {
      b.Shared = true;
      b.Indices = mShared.Indices;
      b.Vertices = mShared.Vertices;
    }
    // Rigid meshes are drawn from the bind pose with CPU skinning too.
    const std::vector<int>& slots = scene.GetMeshSlots();
    const bool rigid = std::any_of(slots.begin(), slots.end(), [](int s) { return s >= 0; });
    if ((gpu || rigid) && !mShared.GpuArray) MakeBindPose(c, mShared);
    b.GpuArray = mShared.GpuArray;
  } else if (!b.Indices) {
    std::vector<unsigned> all;
    for (int lod = 0; lod < kCharacterLevels; ++lod) {
      const std::vector<unsigned> level = CharacterMeshIndices(c.Mesh.size(), lod);
      b.LodFirst[lod] = static_cast<GLsizei>(all.size());
      b.LodCount[lod] = static_cast<GLsizei>(level.size());
      all.insert(all.end(), level.begin(), level.end());
    }
    glGenBuffers(1, &b.Indices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.Indices);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(all.size() * sizeof(unsigned)),
                 all.data(), GL_STATIC_DRAW);
    b.Vertices = c.Mesh.size();
  }
  if (!gpu && !b.CpuArray) {
    glGenBuffers(1, &b.Deformed);
    glGenVertexArrays(1, &b.CpuArray);
    glBindVertexArray(b.CpuArray);
    glBindBuffer(GL_ARRAY_BUFFER, b.Deformed);
    const GLsizeiptr half = static_cast<GLsizeiptr>(b.Vertices * sizeof(Vec3));
    glBufferData(GL_ARRAY_BUFFER, 2 * half, nullptr, GL_STREAM_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vec3), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vec3),
                          reinterpret_cast<const void*>(half));
    if (c.Source) ViewportMaterials::AttachSurface(mShared.Surface, *c.Source);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.Indices);
    glBindVertexArray(0);
  }
  if (gpu && !b.GpuArray) MakeBindPose(c, b);
  return b;
}

void Viewport::MakeBindPose(const Character& c, CharacterBuffers& b) {
  {
    const std::vector<SkinVertex>& mesh = c.Vertices();
    std::vector<BindVertex> vertices(mesh.size());
    for (std::size_t k = 0; k < mesh.size(); ++k) {
      const SkinVertex& v = mesh[k];
      BindVertex& out = vertices[k];
      out.Position[0] = v.Position.x;
      out.Position[1] = v.Position.y;
      out.Position[2] = v.Position.z;
      out.Normal[0] = v.Normal.x;
      out.Normal[1] = v.Normal.y;
      out.Normal[2] = v.Normal.z;
      for (int i = 0; i < kMaxInfluences; ++i) {
        // An imported model's bones go by their place in the palette; a
        // rigid mesh's vertices have none there (they are drawn by their
        // mesh's matrix). A bone the bone block cannot hold is dropped
        // (such a scene skins on the CPU; the character builder makes at
        // most 35).
        int bone = v.Bones[i];
        if (c.Source) {
          bone = mPalette.IndexOf(v.Bones[i]);
        }
        const bool held = bone >= 0 && bone < mSkinBones;
        out.Bones[i] = held ? static_cast<uint16_t>(bone) : 0;
        out.Weights[i] = held ? v.Weights[i] : 0.0f;
      }
    }
    glGenBuffers(1, &b.BindPose);
    glGenVertexArrays(1, &b.GpuArray);
    glBindVertexArray(b.GpuArray);
    glBindBuffer(GL_ARRAY_BUFFER, b.BindPose);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(BindVertex)),
                 vertices.data(), GL_STATIC_DRAW);
    const GLsizei stride = sizeof(BindVertex);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(BindVertex, Position)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(BindVertex, Normal)));
    glEnableVertexAttribArray(2);
    glVertexAttribIPointer(2, 4, GL_UNSIGNED_SHORT, stride,
                           reinterpret_cast<const void*>(offsetof(BindVertex, Bones)));
    glEnableVertexAttribArray(3);
    glVertexAttribPointer(3, 4, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(BindVertex, Weights)));
    if (c.Source) ViewportMaterials::AttachSurface(mShared.Surface, *c.Source);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.Indices);
    glBindVertexArray(0);
  }
}

void Viewport::DrawGround(const float* viewProjection) {
  glUseProgram(mGroundProgram);
  glUniformMatrix4fv(mGroundViewProjection, 1, GL_FALSE, viewProjection);
  glBindVertexArray(mGroundArray);
  glUniform3fv(mGroundColour, 1, kGround);
  glDrawArrays(GL_TRIANGLES, 0, mGroundQuadVertices);
  glUniform3fv(mGroundColour, 1, kGrid);
  glDrawArrays(GL_LINES, mGroundQuadVertices, mGridVertices);
}

void Viewport::Draw(Scene& scene, const std::vector<DrawItem>& drawList, bool gpuSkinning) {
  mDrawCalls = 0;
  if (mWidth <= 0 || mHeight <= 0) return;
  SyncScene(scene);
  const int glY = mDrawableHeight - mY - mHeight;
  glViewport(mX, glY, mWidth, mHeight);
  glEnable(GL_SCISSOR_TEST);
  glScissor(mX, glY, mWidth, mHeight);
  glClearColor(kSky[0], kSky[1], kSky[2], 1.0f);
  glClearDepth(1.0);
  glDepthMask(GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  float viewProjection[16];
  CameraMatrix(scene.GetCamera(), viewProjection);
  // The ground lies under everything: drawn first without depth.
  glDisable(GL_DEPTH_TEST);
  DrawGround(viewProjection);

  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  // The mesh program draws rigid meshes with GPU skinning too.
  glUseProgram(mMeshProgram);
  glUniformMatrix4fv(mMeshViewProjection, 1, GL_FALSE, viewProjection);
  glUniform3fv(mMeshLight, 1, kLight);
  if (gpuSkinning) {
    glUseProgram(mSkinProgram);
    glUniformMatrix4fv(mSkinViewProjection, 1, GL_FALSE, viewProjection);
    glUniform3fv(mSkinLight, 1, kLight);
  }
  glActiveTexture(GL_TEXTURE0);
  for (const DrawItem& item : drawList) DrawCharacter(scene, item, gpuSkinning, false);
  if (mBlended) {
    // Blended meshes over everything solid, the farthest first, leaving
    // the depth buffer as the solid meshes wrote it.
    mBackToFront = drawList;
    std::stable_sort(mBackToFront.begin(), mBackToFront.end(),
                     [](const DrawItem& a, const DrawItem& b) { return a.Depth > b.Depth; });
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    for (const DrawItem& item : mBackToFront) DrawCharacter(scene, item, gpuSkinning, true);
    glDepthMask(GL_TRUE);
  }
  RestoreDefaultState();
}

void Viewport::DrawCharacter(Scene& scene, const DrawItem& item, bool gpuSkinning, bool blended) {
  if (item.Character < 0 || item.Character >= scene.GetCharacterCount()) return;
  const CharacterBuffers& b = mCharacters[static_cast<std::size_t>(item.Character)];
  const GLuint array = gpuSkinning ? b.GpuArray : b.CpuArray;
  if (!array) return;  // not uploaded this frame
  const MaterialUniforms& material = gpuSkinning ? mSkinMaterial : mMeshMaterial;
  glBindVertexArray(array);
  if (gpuSkinning) {
    glBindBufferRange(GL_UNIFORM_BUFFER, kBoneBinding, mBoneBuffer, mBoneStride * item.Character,
                      mBoneStride);
  }
  if (const Model* model = scene.GetCharacter(item.Character).Source) {
    // An imported model: a draw call per mesh of this pass, in its
    // material. A rigid mesh is its bind pose placed by its matrix, with
    // the mesh program; a deformed one the deformed vertices as they are,
    // or with GPU skinning the bind pose the skinning program blends.
    const std::vector<int>& slots = scene.GetMeshSlots();
    for (std::size_t k = 0; k < model->Meshes.size(); ++k) {
      const ModelMesh& mesh = model->Meshes[k];
      if ((mesh.Alpha == AlphaMode::kBlend) != blended) continue;
      const bool rigid =
          k < slots.size() && slots[k] >= 0 && k < b.MeshMatrices.size() && mShared.GpuArray;
      const bool skinned = gpuSkinning && !rigid;
      if (gpuSkinning) glUseProgram(skinned ? mSkinProgram : mMeshProgram);
      if (!skinned) {
        glBindVertexArray(rigid ? mShared.GpuArray : b.CpuArray);
        glUniform4fv(mMeshModel, 3, rigid ? &b.MeshMatrices[k].m[0][0] : &kIdentity.m[0][0]);
      } else {
        glBindVertexArray(b.GpuArray);
      }
      mMaterials.Use(skinned ? mSkinMaterial : mMeshMaterial, mesh);
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh.IndexCount), GL_UNSIGNED_INT,
                     reinterpret_cast<const void*>(mesh.FirstIndex * sizeof(uint32_t)));
      ++mDrawCalls;
    }
    return;
  }
  if (blended) return;
  if (!gpuSkinning) glUniform4fv(mMeshModel, 3, &kIdentity.m[0][0]);
  const std::size_t look = static_cast<std::size_t>(item.Character) % std::size(kAlbedos);
  ViewportMaterials::UsePlain(material, kAlbedos[look]);
  const int lod = std::clamp(item.Lod, 0, kCharacterLevels - 1);
  glDrawElements(
      GL_TRIANGLES, b.LodCount[lod], GL_UNSIGNED_INT,
      reinterpret_cast<const void*>(static_cast<std::size_t>(b.LodFirst[lod]) * sizeof(unsigned)));
  ++mDrawCalls;
}

void Viewport::RestoreDefaultState() {
  glUseProgram(0);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBufferBase(GL_UNIFORM_BUFFER, kBoneBinding, 0);
  glBindBuffer(GL_UNIFORM_BUFFER, 0);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  glDisable(GL_SCISSOR_TEST);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindSampler(0, 0);
  glDisable(GL_TEXTURE_2D);
}

}  // namespace khost
