// Shared surface helpers: error reporting and frame read-back.
#include <GL/gl.h>

#include <cstring>

#include "surface_internal.h"

namespace ksurface {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

void FlipRows(unsigned char* rgba, int width, int height) {
  if (!rgba || width <= 0 || height <= 1) return;
  const size_t stride = static_cast<size_t>(width) * 4;
  // Swap rows pairwise through a small stack buffer, a chunk at a time, so
  // no row-sized allocation is needed.
  unsigned char chunk[1024];
  for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    unsigned char* a = rgba + stride * static_cast<size_t>(top);
    unsigned char* b = rgba + stride * static_cast<size_t>(bottom);
    for (size_t done = 0; done < stride; done += sizeof(chunk)) {
      const size_t n = stride - done < sizeof(chunk) ? stride - done : sizeof(chunk);
      std::memcpy(chunk, a + done, n);
      std::memcpy(a + done, b + done, n);
      std::memcpy(b + done, chunk, n);
    }
  }
}

bool ReadFramebuffer(int width, int height, std::vector<unsigned char>& rgba) {
  rgba.clear();
  if (width <= 0 || height <= 0) return false;
  rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  GLint packAlignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  const bool ok = glGetError() == GL_NO_ERROR;
  glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
  if (!ok) {
    rgba.clear();
    return false;
  }
  FlipRows(rgba.data(), width, height);
  return true;
}

}  // namespace ksurface
