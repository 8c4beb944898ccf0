// The viewport's GL programs and camera matrix: the shader sources, how a
// program is built from two of them, and the matrix a camera projects with.
// Every call: [loop thread], with the GL context current on it.
#pragma once

#include <epoxy/gl.h>

#include "khost/base/status.h"
#include "khost/scene/culling.h"

namespace khost {

// Shaded meshes (bind pose or CPU-skinned), GPU-skinned meshes, and the
// ground. kSkinVertex has no version line: the viewport prepends it with
// the bone count it is built for ("#define BONES n").
extern const char* const kMeshVertex;
extern const char* const kSkinVertex;
extern const char* const kMeshFragment;
extern const char* const kGroundVertex;
extern const char* const kGroundFragment;

// A linked program of the two stages, or why it does not compile or link.
Result<GLuint> Link(const char* vertex, const char* fragment);

// The projection and view of `camera`, the ones its culling frustum
// bounds: a column-major 4x4 matrix, as glUniformMatrix4fv takes it.
void CameraMatrix(const Camera& camera, float* viewProjection);

}  // namespace khost
