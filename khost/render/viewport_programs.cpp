#include "khost/render/viewport_programs.h"

#include <cmath>
#include <string>

namespace khost {

// uModel: the rows of the 3x4 matrix that places the vertices (the
// identity for CPU-skinned vertices, a rigid mesh's skin matrix for its
// bind pose). The texture coordinates and colours (locations 4 and 5, see
// viewport_materials.h) pass through to the fragment shader.
const char* const kMeshVertex = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 4) in vec2 aTexCoord;
layout(location = 5) in vec4 aColour;
uniform mat4 uViewProjection;
uniform vec4 uModel[3];
out vec3 vNormal;
out vec2 vTexCoord;
out vec4 vColour;
void main() {
  vTexCoord = aTexCoord;
  vColour = aColour;
  vec4 p = vec4(aPosition, 1.0);
  vNormal = vec3(dot(uModel[0].xyz, aNormal), dot(uModel[1].xyz, aNormal),
                 dot(uModel[2].xyz, aNormal));
  gl_Position = uViewProjection * vec4(dot(uModel[0], p), dot(uModel[1], p), dot(uModel[2], p),
                                       1.0);
}
)";

// The linear-blend skinning of the CPU path: the weighted sum of the skin
// matrices (rows of a 3x4 matrix, three vec4 per bone) applied to the bind
// position and normal.
// BONES is defined in front of it: the joints the scene's characters have.
const char* const kSkinVertex = R"(
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in uvec4 aBones;
layout(location = 3) in vec4 aWeights;
layout(location = 4) in vec2 aTexCoord;
layout(location = 5) in vec4 aColour;
layout(std140) uniform Bones {
  vec4 uRows[3 * BONES];
};
uniform mat4 uViewProjection;
out vec3 vNormal;
out vec2 vTexCoord;
out vec4 vColour;
void main() {
  vTexCoord = aTexCoord;
  vColour = aColour;
  vec4 r0 = vec4(0.0);
  vec4 r1 = vec4(0.0);
  vec4 r2 = vec4(0.0);
  for (int i = 0; i < 4; ++i) {
    float w = aWeights[i];
    if (w == 0.0) continue;
    int b = int(aBones[i]) * 3;
    r0 += w * uRows[b];
    r1 += w * uRows[b + 1];
    r2 += w * uRows[b + 2];
  }
  vec4 p = vec4(aPosition, 1.0);
  vec3 position = vec3(dot(r0, p), dot(r1, p), dot(r2, p));
  vNormal = vec3(dot(r0.xyz, aNormal), dot(r1.xyz, aNormal), dot(r2.xyz, aNormal));
  gl_Position = uViewProjection * vec4(position, 1.0);
}
)";

// The material: the base colour and opacity (uAlbedo) times the vertex
// colour and the image's texel when the mesh has them. The shading works
// on display values, as the base colours are given; the image is an sRGB
// texture, so its samples and mipmaps average light, and each sample is
// encoded back to display values before it multiplies. uAlphaMode is the
// mesh's AlphaMode: 0 opaque, 1 cut out below uAlphaCutoff, 2 blended. A
// two-sided face seen from behind is lit as its back.
const char* const kMeshFragment = R"(#version 330 core
in vec3 vNormal;
in vec2 vTexCoord;
in vec4 vColour;
uniform vec3 uLight;
uniform vec4 uAlbedo;
uniform bool uVertexColours;
uniform bool uTextured;
uniform sampler2D uImage;
uniform int uAlphaMode;
uniform float uAlphaCutoff;
uniform bool uTwoSided;
out vec4 oColour;
vec3 Encode(vec3 linear) {
  vec3 low = linear * 12.92;
  vec3 high = 1.055 * pow(linear, vec3(1.0 / 2.4)) - 0.055;
  return mix(high, low, vec3(lessThanEqual(linear, vec3(0.0031308))));
}
void main() {
  vec4 colour = uAlbedo;
  if (uVertexColours) colour *= vColour;
  if (uTextured) {
    vec4 texel = texture(uImage, vTexCoord);
    colour *= vec4(Encode(texel.rgb), texel.a);
  }
  if (uAlphaMode == 1 && colour.a < uAlphaCutoff) discard;
  vec3 n = normalize(vNormal);
  if (uTwoSided && !gl_FrontFacing) n = -n;
  float diffuse = max(dot(n, uLight), 0.0);
  oColour = vec4(colour.rgb * (0.3 + 0.7 * diffuse), uAlphaMode == 2 ? colour.a : 1.0);
}
)";

const char* const kGroundVertex = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
uniform mat4 uViewProjection;
void main() {
  gl_Position = uViewProjection * vec4(aPosition, 1.0);
}
)";

const char* const kGroundFragment = R"(#version 330 core
uniform vec3 uColour;
out vec4 oColour;
void main() {
  oColour = vec4(uColour, 1.0);
}
)";

namespace {

Result<GLuint> Compile(GLenum stage, const char* source) {
  const GLuint shader = glCreateShader(stage);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    char log[1024] = {0};
    glGetShaderInfoLog(shader, sizeof(log) - 1, nullptr, log);
    glDeleteShader(shader);
    return Failure(std::string("a viewport shader does not compile: ") + log);
  }
  return shader;
}

}  // namespace

Result<GLuint> Link(const char* vertex, const char* fragment) {
  const Result<GLuint> compiledVertex = Compile(GL_VERTEX_SHADER, vertex);
  if (!compiledVertex) return compiledVertex.GetError();
  const GLuint vs = *compiledVertex;
  const Result<GLuint> compiledFragment = Compile(GL_FRAGMENT_SHADER, fragment);
  if (!compiledFragment) {
    glDeleteShader(vs);
    return compiledFragment.GetError();
  }
  const GLuint fs = *compiledFragment;
  const GLuint program = glCreateProgram();
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (ok != GL_TRUE) {
    char log[1024] = {0};
    glGetProgramInfoLog(program, sizeof(log) - 1, nullptr, log);
    glDeleteProgram(program);
    return Failure(std::string("a viewport shader does not link: ") + log);
  }
  return program;
}

namespace {

// Column-major 4x4 matrices, as glUniformMatrix4fv takes them.
void Multiply(const float* a, const float* b, float* out) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a[k * 4 + r] * b[c * 4 + k];
      out[c * 4 + r] = sum;
    }
  }
}

}  // namespace

void CameraMatrix(const Camera& camera, float* viewProjection) {
  const Vec3 f = Normalize(camera.Forward);
  const Vec3 s = Normalize(Cross(f, camera.Up));
  const Vec3 u = Cross(s, f);
  const Vec3 e = camera.Position;
  const float view[16] = {s.x, u.x, -f.x, 0, s.y,        u.y,        -f.y,      0,
                          s.z, u.z, -f.z, 0, -Dot(s, e), -Dot(u, e), Dot(f, e), 1};
  const float focal = 1.0f / std::tan(camera.VerticalFovRadians * 0.5f);
  const float n = camera.Near;
  const float fa = camera.Far;
  float projection[16] = {0};
  projection[0] = focal / camera.Aspect;
  projection[5] = focal;
  projection[10] = (fa + n) / (n - fa);
  projection[11] = -1.0f;
  projection[14] = 2.0f * fa * n / (n - fa);
  Multiply(projection, view, viewProjection);
}

}  // namespace khost
