// The host's 3D viewport: draws the scene's skinned characters with OpenGL
// shaders from the scene's camera (the one the culling frustum is built
// from), over a ground plane with a grid, lit by one directional light.
//
// Characters are drawn from GL buffer objects that Upload fills each frame
// (viewport_upload.cpp): with CPU skinning the deformed positions and
// normals; with GPU skinning the skin matrices (a uniform buffer block per
// character) that the vertex shader blends the bind-pose vertices with, as
// the CPU skinning does. An
// imported model's rigid meshes (each following one node) are drawn from
// the bind pose placed by their node's matrix either way, so the bone block
// (the palette) holds only the bones that skin its deformed meshes.
//
// An imported model's meshes are drawn in their materials
// (viewport_materials.h): opaque and cut-out meshes first, then the blended
// ones over them, the characters back to front; a one-sided mesh's faces
// seen from behind are not drawn (Sidedness).
//
// Every call: [loop thread], with the GL context current on it. After Draw
// the context is back in its default state (program 0, vertex array 0, no
// array or uniform buffer bound, depth test, face culling, blending and 2D
// texturing off, texture unit 0 with texture 0 and no sampler), so
// immediate-mode drawing after it is unaffected.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <vector>

#include "khost/base/status.h"
#include "khost/render/skin_palette.h"
#include "khost/render/viewport_materials.h"
#include "khost/scene/workload.h"

namespace khost {

class Viewport final : public FrameRenderer {
 public:
  // Compiles the shaders and builds the ground on the current context; an
  // error naming the reason when the context cannot run them. `notes`
  // (borrowed, may be null) hears once when GPU skinning is asked of a scene
  // whose bones the bone block cannot hold.
  static Result<std::unique_ptr<Viewport>> Create(std::ostream* notes = nullptr);
  // Deletes its GL objects: the context must be current.
  ~Viewport() override;
  Viewport(const Viewport&) = delete;
  Viewport& operator=(const Viewport&) = delete;

  // Where the viewport lies in the drawable: window pixels from the
  // top-left, in a drawable `drawableHeight` pixels tall.
  void SetRectangle(int x, int y, int width, int height, int drawableHeight);
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }

  // Ok when the viewport can draw `scene`, with GPU skinning when
  // `gpuSkinning`: otherwise why not (a model whose deformed meshes are
  // skinned with more bones than a uniform block holds: MaxSkinBones()).
  // Uploads the model's images.
  Status CheckScene(const Scene& scene, bool gpuSkinning);
  // Whether the bones `scene`'s deformed meshes are skinned with fit the
  // bone block; without, frames skin on the CPU whatever the setting (said
  // once to the notes).
  bool CanSkinOnGpu(const Scene& scene) override;
  const ViewportMaterials& Materials() const { return mMaterials; }
  int MaxSkinBones() const { return mMaxBones; }

  std::size_t Upload(Scene& scene, int buffer, bool gpuSkinning) override;
  // Clears the viewport, draws the ground and grid, then one draw call per
  // item of the draw list at the item's level of detail (per mesh of an
  // imported model).
  void Draw(Scene& scene, const std::vector<DrawItem>& drawList, bool gpuSkinning) override;

  // Character draw calls issued by the last Draw.
  int LastDrawCalls() const { return mDrawCalls; }

 private:
  Viewport() = default;
  Status Build();

  struct CharacterBuffers {
    unsigned Deformed = 0;  // CPU skinning: positions, then normals
    unsigned BindPose = 0;  // GPU skinning: position, normal, bones, weights
    unsigned Indices = 0;
    unsigned Surface = 0;  // mShared: texture coordinates and colours
    unsigned CpuArray = 0;
    unsigned GpuArray = 0;
    std::size_t Vertices = 0;
    int LodFirst[4] = {0, 0, 0, 0};
    int LodCount[4] = {0, 0, 0, 0};
    bool Shared = false;  // Indices and GpuArray are the model's (mShared)
    // CPU skinning of an imported model: per mesh, the matrix a rigid mesh
    // is drawn with this frame (unused for deformed meshes).
    std::vector<Mat34> MeshMatrices;
  };
  Status EnsureSkinProgram(int bones);
  // Ok when a palette of `bones` fits the bone block; else the failure
  // naming the limit.
  Status CheckPalette(int bones) const;
  // The palette of `scene`'s model (kept until the model changes).
  const SkinPalette& PaletteOf(const Scene& scene);
  // Each rigid mesh's matrix of pose buffer `buffer` into b.MeshMatrices;
  // the bytes that are.
  std::size_t PlaceRigidMeshes(const Scene& scene, const Character& c, int buffer,
                               CharacterBuffers& b);
  void MakeBindPose(const Character& c, CharacterBuffers& b);
  void SyncScene(Scene& scene);
  void ReleaseCharacters();
  CharacterBuffers& Buffers(Scene& scene, int index, bool gpu);
  void DrawGround(const float* viewProjection);
  // The item's meshes of one pass: opaque and cut-out, or blended.
  void DrawCharacter(Scene& scene, const DrawItem& item, bool gpuSkinning, bool blended);
  void RestoreDefaultState();

  unsigned mMeshProgram = 0;
  unsigned mSkinProgram = 0;
  unsigned mGroundProgram = 0;
  int mMeshViewProjection = -1;
  int mMeshLight = -1;
  int mMeshModel = -1;
  MaterialUniforms mMeshMaterial;
  int mSkinViewProjection = -1;
  int mSkinLight = -1;
  MaterialUniforms mSkinMaterial;
  int mGroundViewProjection = -1;
  int mGroundColour = -1;
  unsigned mGroundBuffer = 0;
  unsigned mGroundArray = 0;
  int mGroundQuadVertices = 0;
  int mGridVertices = 0;
  unsigned mBoneBuffer = 0;
  std::ptrdiff_t mBoneStride = 0;  // bytes per character slot in mBoneBuffer
  std::ptrdiff_t mBoneBufferSize = 0;

  ViewportMaterials mMaterials;
  bool mBlended = false;               // the scene's model has blended meshes
  std::vector<DrawItem> mBackToFront;  // the draw list for them
  const Scene* mScene = nullptr;
  std::vector<CharacterBuffers> mCharacters;
  CharacterBuffers mShared;              // an imported model's indices and bind pose
  int mSkinBones = 0;                    // the bones the skinning program holds
  const Model* mPaletteModel = nullptr;  // PaletteOf's model, and its palette
  SkinPalette mPalette;
  std::ostream* mNotes = nullptr;
  bool mNotedPalette = false;
  int mMaxBones = 64;  // the most a uniform block can hold

  int mX = 0;
  int mY = 0;
  int mWidth = 0;
  int mHeight = 0;
  int mDrawableHeight = 0;
  int mDrawCalls = 0;
};

}  // namespace khost
