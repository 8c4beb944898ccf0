// The viewport's per-frame upload (see viewport.h): the deformed vertices
// of CPU skinning, or the palettes' skin matrices of GPU skinning, and the
// matrices that place an imported model's rigid meshes.
#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

#include "khost/render/viewport.h"
#include "khost/runtime/skin_layout.h"

namespace khost {

std::size_t Viewport::Upload(Scene& scene, int buffer, bool gpuSkinning) {
  SyncScene(scene);
  const int count = scene.GetCharacterCount();
  std::size_t bytes = 0;
  if (gpuSkinning) {
    // One slot of the bone buffer per character; the visible ones get
    // their skin matrices (three rows of four floats per joint).
    const GLsizeiptr size = mBoneStride * count;
    glBindBuffer(GL_UNIFORM_BUFFER, mBoneBuffer);
    if (mBoneBufferSize < size) {
      glBufferData(GL_UNIFORM_BUFFER, size, nullptr, GL_STREAM_DRAW);
      mBoneBufferSize = size;
    }
    auto* mapped = static_cast<unsigned char*>(glMapBufferRange(
        GL_UNIFORM_BUFFER, 0, size, GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT));
    const std::vector<int>& palette = PaletteOf(scene).Slots();
    for (int i = 0; mapped && i < count; ++i) {
      Character& c = scene.GetCharacter(i);
      if (!c.Visible) continue;
      CharacterBuffers& b = Buffers(scene, i, true);
      const std::vector<Mat34>& skin = c.Poses[buffer & 1].Skin;
      unsigned char* slot =
          mapped + static_cast<std::size_t>(mBoneStride) * static_cast<std::size_t>(i);
      if (!c.Source) {
        const std::size_t joints =
            std::min<std::size_t>(skin.size(), static_cast<std::size_t>(mSkinBones));
        std::memcpy(slot, skin.data(), joints * sizeof(Mat34));
        bytes += joints * sizeof(Mat34);
        continue;
      }
      // An imported model: its palette's matrices, and each rigid mesh's.
      const std::size_t held = std::min(palette.size(), static_cast<std::size_t>(mSkinBones));
      for (std::size_t j = 0; j < held; ++j) {
        const auto from = static_cast<std::size_t>(palette[j]);
        if (from < skin.size()) std::memcpy(slot + j * sizeof(Mat34), &skin[from], sizeof(Mat34));
      }
      bytes += held * sizeof(Mat34) + PlaceRigidMeshes(scene, c, buffer, b);
    }
    glBindBuffer(GL_UNIFORM_BUFFER, mBoneBuffer);
    if (mapped) glUnmapBuffer(GL_UNIFORM_BUFFER);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
  } else {
    for (int i = 0; i < count; ++i) {
      Character& c = scene.GetCharacter(i);
      if (!c.Visible) continue;
      CharacterBuffers& b = Buffers(scene, i, false);
      GLsizeiptr half = static_cast<GLsizeiptr>(b.Vertices * sizeof(Vec3));
      glBindBuffer(GL_ARRAY_BUFFER, b.Deformed);
      if (c.Source && c.Skinning->DeformedCount() == 0) half = 0;  // rigid meshes only
      // A fresh store each frame: the driver need not wait for the last
      // frame's draws to finish reading the old one.
      if (half > 0) glBufferData(GL_ARRAY_BUFFER, 2 * half, nullptr, GL_STREAM_DRAW);
      if (!c.Source) {
        glBufferSubData(GL_ARRAY_BUFFER, 0, half, c.DeformedPositions.data());
        glBufferSubData(GL_ARRAY_BUFFER, half, half, c.DeformedNormals.data());
        bytes += 2 * static_cast<std::size_t>(half);
        continue;
      }
      // An imported model: the deformed vertices' runs, and each rigid
      // mesh's matrix.
      for (const SkinRun& run : c.Skinning->Runs()) {
        const GLintptr at = static_cast<GLintptr>(run.First * sizeof(Vec3));
        const GLsizeiptr size = static_cast<GLsizeiptr>(run.Count * sizeof(Vec3));
        glBufferSubData(GL_ARRAY_BUFFER, at, size, c.DeformedPositions.data() + run.First);
        glBufferSubData(GL_ARRAY_BUFFER, half + at, size, c.DeformedNormals.data() + run.First);
        bytes += 2 * static_cast<std::size_t>(size);
      }
      bytes += PlaceRigidMeshes(scene, c, buffer, b);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
  glBindVertexArray(0);
  return bytes;
}

std::size_t Viewport::PlaceRigidMeshes(const Scene& scene, const Character& c, int buffer,
                                       CharacterBuffers& b) {
  const std::vector<int>& slots = scene.GetMeshSlots();
  const std::vector<Mat34>& skin = c.Poses[buffer & 1].Skin;
  std::size_t bytes = 0;
  b.MeshMatrices.assign(slots.size(), Mat34{});
  for (std::size_t k = 0; k < slots.size(); ++k) {
    if (slots[k] < 0 || static_cast<std::size_t>(slots[k]) >= skin.size()) continue;
    b.MeshMatrices[k] = skin[static_cast<std::size_t>(slots[k])];
    bytes += sizeof(Mat34);
  }
  return bytes;
}

}  // namespace khost
