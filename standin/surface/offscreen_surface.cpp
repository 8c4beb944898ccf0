// The framebuffer object behind both headless surfaces (offscreen_surface.h).
#include "offscreen_surface.h"

#include "surface_internal.h"

namespace ksurface {

namespace {

template <class F>
bool Load(F& function, GlEntryLookup lookup, const char* name) {
  function = reinterpret_cast<F>(lookup(name));
  return function != nullptr;
}

}  // namespace

bool OffscreenSurface::CheckSize(int width, int height, std::string* error) {
  if (width < 1 || height < 1 || width > kSurfaceMaxSide || height > kSurfaceMaxSide) {
    return Fail(error, "headless surface size " + std::to_string(width) + "x" +
                           std::to_string(height) + " is outside 1..16384");
  }
  return true;
}

bool OffscreenSurface::MakeCurrent() {
  if (!MakeContextCurrent()) return false;
  // Null only while a platform's Create fails before the lookup succeeds.
  if (mBindFramebuffer) mBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
  return true;
}

void OffscreenSurface::Present() {
  if (MakeCurrent()) glFinish();
}

bool OffscreenSurface::Resize(int width, int height, std::string* error) {
  if (!CheckSize(width, height, error)) return false;
  if (!MakeCurrent()) return Fail(error, ContextFailureText());
  if (width == mWidth && height == mHeight) return true;
  const int oldWidth = mWidth;
  const int oldHeight = mHeight;
  DeleteFramebuffer();
  if (AllocateFramebuffer(width, height, error)) return true;
  // Keep a usable surface of the old size rather than none.
  DeleteFramebuffer();
  AllocateFramebuffer(oldWidth, oldHeight, nullptr);
  return false;
}

bool OffscreenSurface::ReadPixels(std::vector<unsigned char>& rgba) {
  if (!MakeCurrent()) {
    rgba.clear();
    return false;
  }
  glFinish();
  return ReadFramebuffer(mWidth, mHeight, rgba);
}

bool OffscreenSurface::LoadFramebufferFunctions(GlEntryLookup lookup) {
  return Load(mGenFramebuffers, lookup, "glGenFramebuffers") &&
         Load(mBindFramebuffer, lookup, "glBindFramebuffer") &&
         Load(mDeleteFramebuffers, lookup, "glDeleteFramebuffers") &&
         Load(mGenRenderbuffers, lookup, "glGenRenderbuffers") &&
         Load(mBindRenderbuffer, lookup, "glBindRenderbuffer") &&
         Load(mDeleteRenderbuffers, lookup, "glDeleteRenderbuffers") &&
         Load(mRenderbufferStorage, lookup, "glRenderbufferStorage") &&
         Load(mFramebufferRenderbuffer, lookup, "glFramebufferRenderbuffer") &&
         Load(mCheckFramebufferStatus, lookup, "glCheckFramebufferStatus");
}

bool OffscreenSurface::AllocateFramebuffer(int width, int height, std::string* error) {
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
  if (maxSize > 0 && (width > maxSize || height > maxSize)) {
    return Fail(error,
                "headless surface size exceeds the renderer's limit of " + std::to_string(maxSize));
  }
  mGenFramebuffers(1, &mFramebuffer);
  mBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
  mGenRenderbuffers(1, &mColor);
  mBindRenderbuffer(GL_RENDERBUFFER, mColor);
  mRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  mFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, mColor);
  mGenRenderbuffers(1, &mDepthStencil);
  mBindRenderbuffer(GL_RENDERBUFFER, mDepthStencil);
  mRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
  mFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                           mDepthStencil);
  mBindRenderbuffer(GL_RENDERBUFFER, 0);
  const GLenum status = mCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) return Fail(error, IncompleteText(status));
  mWidth = width;
  mHeight = height;
  glViewport(0, 0, width, height);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  return true;
}

void OffscreenSurface::DeleteFramebuffer() {
  if (mBindFramebuffer) mBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (mFramebuffer) mDeleteFramebuffers(1, &mFramebuffer);
  if (mColor) mDeleteRenderbuffers(1, &mColor);
  if (mDepthStencil) mDeleteRenderbuffers(1, &mDepthStencil);
  mFramebuffer = mColor = mDepthStencil = 0;
}

void OffscreenSurface::ReleaseFramebuffer() {
  if (MakeCurrent()) DeleteFramebuffer();
}

}  // namespace ksurface
