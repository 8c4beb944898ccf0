#include "khost/render/viewport_materials.h"

#include <epoxy/gl.h>

#include <cstddef>
#include <utility>

namespace khost {

namespace {

GLint WrapOf(ImageWrap wrap) {
  switch (wrap) {
    case ImageWrap::kClamp:
      return GL_CLAMP_TO_EDGE;
    case ImageWrap::kMirror:
      return GL_MIRRORED_REPEAT;
    case ImageWrap::kRepeat:
      break;
  }
  return GL_REPEAT;
}

}  // namespace

MaterialUniforms MaterialUniforms::Of(GLuint program) {
  MaterialUniforms u;
  u.Albedo = glGetUniformLocation(program, "uAlbedo");
  u.VertexColours = glGetUniformLocation(program, "uVertexColours");
  u.Textured = glGetUniformLocation(program, "uTextured");
  u.Alpha = glGetUniformLocation(program, "uAlphaMode");
  u.AlphaCutoff = glGetUniformLocation(program, "uAlphaCutoff");
  u.TwoSided = glGetUniformLocation(program, "uTwoSided");
  glUseProgram(program);
  glUniform1i(glGetUniformLocation(program, "uImage"), 0);
  return u;
}

ViewportMaterials::~ViewportMaterials() {
  Release();
  for (auto& row : mSamplers) {
    for (GLuint& sampler : row) {
      if (sampler) glDeleteSamplers(1, &sampler);
    }
  }
}

void ViewportMaterials::Release() {
  for (GLuint texture : mTextures) {
    if (texture) glDeleteTextures(1, &texture);
  }
  mTextures.clear();
  mPixels.clear();
}

void ViewportMaterials::Prepare(const Model& model) {
  std::vector<const std::vector<uint8_t>*> pixels;
  for (const ModelImage& image : model.Images) pixels.push_back(image.Rgba.get());
  if (pixels == mPixels) return;
  Release();
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  for (const ModelImage& image : model.Images) {
    GLuint texture = 0;
    if (image.Rgba && image.Width <= largest && image.Height <= largest) {
      // sRGB: the GPU decodes each texel to linear light before filtering,
      // so bilinear samples and the mipmaps average light, not its code.
      glGenTextures(1, &texture);
      glBindTexture(GL_TEXTURE_2D, texture);
      glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, image.Width, image.Height, 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, image.Rgba->data());
      glGenerateMipmap(GL_TEXTURE_2D);
    }
    mTextures.push_back(texture);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  mPixels = std::move(pixels);
}

GLuint ViewportMaterials::MakeSurfaceBuffer(const Model& model) {
  const std::size_t coords = model.TexCoords.size() * sizeof(TexCoord);
  const std::size_t colours = model.Colours.size() * sizeof(VertexColour);
  if (coords + colours == 0) return 0;
  GLuint buffer = 0;
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(coords + colours), nullptr, GL_STATIC_DRAW);
  glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(coords), model.TexCoords.data());
  glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(coords), static_cast<GLsizeiptr>(colours),
                  model.Colours.data());
  return buffer;
}

void ViewportMaterials::AttachSurface(GLuint buffer, const Model& model) {
  if (!buffer) return;
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  if (!model.TexCoords.empty()) {
    glEnableVertexAttribArray(kTexCoordAttribute);
    glVertexAttribPointer(kTexCoordAttribute, 2, GL_FLOAT, GL_FALSE, sizeof(TexCoord), nullptr);
  }
  if (!model.Colours.empty()) {
    const std::size_t at = model.TexCoords.size() * sizeof(TexCoord);
    glEnableVertexAttribArray(kColourAttribute);
    glVertexAttribPointer(kColourAttribute, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(VertexColour),
                          reinterpret_cast<const void*>(at));
  }
}

GLuint ViewportMaterials::Sampler(ImageWrap u, ImageWrap v) {
  GLuint& sampler = mSamplers[static_cast<int>(u)][static_cast<int>(v)];
  if (!sampler) {
    glGenSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, WrapOf(u));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, WrapOf(v));
  }
  return sampler;
}

void ViewportMaterials::Use(const MaterialUniforms& uniforms, const ModelMesh& mesh) {
  const GLuint texture = mesh.Image >= 0 && static_cast<std::size_t>(mesh.Image) < mTextures.size()
                             ? mTextures[static_cast<std::size_t>(mesh.Image)]
                             : 0;
  glUniform4f(uniforms.Albedo, mesh.Colour[0], mesh.Colour[1], mesh.Colour[2], mesh.Opacity);
  glUniform1i(uniforms.VertexColours, mesh.VertexColours ? 1 : 0);
  glUniform1i(uniforms.Textured, texture ? 1 : 0);
  glUniform1i(uniforms.Alpha, static_cast<GLint>(mesh.Alpha));
  glUniform1f(uniforms.AlphaCutoff, mesh.AlphaCutoff);
  glUniform1i(uniforms.TwoSided, mesh.Sides == Sidedness::kTwoSided ? 1 : 0);
  if (texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindSampler(0, Sampler(mesh.WrapU, mesh.WrapV));
  }
  if (mesh.Sides == Sidedness::kOneSided) {
    glEnable(GL_CULL_FACE);
  } else {
    glDisable(GL_CULL_FACE);
  }
}

void ViewportMaterials::UsePlain(const MaterialUniforms& uniforms, const float* rgb) {
  glUniform4f(uniforms.Albedo, rgb[0], rgb[1], rgb[2], 1.0f);
  glUniform1i(uniforms.VertexColours, 0);
  glUniform1i(uniforms.Textured, 0);
  glUniform1i(uniforms.Alpha, static_cast<GLint>(AlphaMode::kOpaque));
  glUniform1i(uniforms.TwoSided, 0);
  glDisable(GL_CULL_FACE);
}

}  // namespace khost
