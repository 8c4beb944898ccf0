// How the viewport draws an imported mesh's material: the model's images
// as GL textures (sRGB, with mipmaps), a sampler per pair of wrap modes,
// the buffer of the vertices' texture coordinates and colours, and the
// uniforms and state (alpha mode, face culling) a mesh is drawn with.
//
// An image is uploaded once: at setup (Viewport::CheckScene), else with
// the first frame's upload. A rebuilt crowd shares its model's images and
// keeps their textures. Every call needs the GL context current. (GL names
// are unsigned and locations int here, so that the header needs no GL.)
#pragma once

#include <cstdint>
#include <vector>

#include "khost/runtime/model.h"

namespace khost {

// The vertex attributes the mesh programs read a vertex's texture
// coordinates and colour from (positions, normals, bones and weights take
// 0 to 3).
inline constexpr unsigned kTexCoordAttribute = 4;
inline constexpr unsigned kColourAttribute = 5;

// Where a mesh program (bind pose or GPU skinning) takes its material.
struct MaterialUniforms {
  int Albedo = -1;  // vec4: base colour and opacity
  int VertexColours = -1;
  int Textured = -1;
  int Alpha = -1;  // the AlphaMode
  int AlphaCutoff = -1;
  int TwoSided = -1;
  // Finds them in `program` and points its image sampler at texture unit
  // 0 (leaves `program` in use).
  static MaterialUniforms Of(unsigned program);
};

class ViewportMaterials {
 public:
  ViewportMaterials() = default;
  ~ViewportMaterials();
  ViewportMaterials(const ViewportMaterials&) = delete;
  ViewportMaterials& operator=(const ViewportMaterials&) = delete;

  // Makes the textures of `model`'s images, unless they are the ones made
  // last (the same pixels). An image the context cannot hold (wider than
  // GL_MAX_TEXTURE_SIZE) gets none; its meshes are drawn untextured.
  void Prepare(const Model& model);
  // The texture of each image (0: none), for the tests.
  const std::vector<unsigned>& Textures() const { return mTextures; }

  // A buffer of `model`'s texture coordinates, then its colours, or 0 when
  // it has neither; and its attributes in the vertex array bound now.
  static unsigned MakeSurfaceBuffer(const Model& model);
  static void AttachSurface(unsigned buffer, const Model& model);

  // The uniforms, texture, sampler and face culling that draw `mesh`.
  void Use(const MaterialUniforms& uniforms, const ModelMesh& mesh);
  // A procedural character's: a plain opaque colour, both sides drawn.
  static void UsePlain(const MaterialUniforms& uniforms, const float* rgb);

 private:
  void Release();
  unsigned Sampler(ImageWrap u, ImageWrap v);

  std::vector<unsigned> mTextures;                   // per image of the model
  std::vector<const std::vector<uint8_t>*> mPixels;  // what each was made from
  unsigned mSamplers[3][3] = {};                     // by wrap mode, U then V
};

}  // namespace khost
