// What both headless surfaces share: drawing into a framebuffer object of the
// requested size (a colour and a depth/stencil renderbuffer), since neither
// has a window whose pixels are kept. Each platform makes its own OpenGL
// context and makes it current; this class owns the framebuffer object in
// that context and answers the surface's size, resizing and read-back.
//
// Threads: the surface's (see KSurface).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ksurface.h"
#include "standin/platform/gl_entry.h"

namespace ksurface {

// An OpenGL entry point of the current context by name; null where it has
// none (each platform asks its own way).
using GlEntryLookup = void* (*)(const char* name);

class OffscreenSurface : public KSurface {
 public:
  int Width() const override { return mWidth; }
  int Height() const override { return mHeight; }
  bool IsWindow() const override { return false; }
  // The platform's context current, then the framebuffer object bound.
  bool MakeCurrent() override;
  // Finishes rendering; nothing is shown.
  void Present() override;
  void PollEvents(KSurfaceSink*) override {}
  bool ShouldClose() const override { return false; }
  // A framebuffer object of the new size; where the renderer refuses it, one
  // of the old size again, so the surface stays usable.
  bool Resize(int width, int height, std::string* error) override;
  bool ReadPixels(std::vector<unsigned char>& rgba) override;

 protected:
  // Refuses (false, with a message) a size outside 1..kSurfaceMaxSide.
  static bool CheckSize(int width, int height, std::string* error);

  // Makes the platform's context current on this thread unless it already
  // is. False without a context or when the platform refuses.
  virtual bool MakeContextCurrent() = 0;
  // Why MakeContextCurrent just failed, in the platform's words (read
  // straight after the failure, before anything else resets the error).
  virtual std::string ContextFailureText() const = 0;
  // The message for a framebuffer object OpenGL finds incomplete.
  virtual std::string IncompleteText(GLenum status) const = 0;

  // Looks up the framebuffer-object entry points (OpenGL 3.0 or
  // ARB_framebuffer_object) in the current context; false if any is missing.
  bool LoadFramebufferFunctions(GlEntryLookup lookup);
  // Makes a width × height framebuffer object in the current context, binds
  // it, sets the viewport to it and clears it to transparent black.
  bool AllocateFramebuffer(int width, int height, std::string* error);
  // Deletes the framebuffer object, if the context can still be made
  // current; for the platform's teardown, before its context goes.
  void ReleaseFramebuffer();

 private:
  void DeleteFramebuffer();

  int mWidth = 0;
  int mHeight = 0;
  PFNGLGENFRAMEBUFFERSPROC mGenFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC mBindFramebuffer = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC mDeleteFramebuffers = nullptr;
  PFNGLGENRENDERBUFFERSPROC mGenRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC mBindRenderbuffer = nullptr;
  PFNGLDELETERENDERBUFFERSPROC mDeleteRenderbuffers = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC mRenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC mFramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC mCheckFramebufferStatus = nullptr;
  GLuint mFramebuffer = 0;
  GLuint mColor = 0;
  GLuint mDepthStencil = 0;
};

// A platform's headless surface made and its Create(width, height, error)
// called: null (the reason in *error) when that fails.
template <class Surface>
std::unique_ptr<KSurface> MakeOffscreenSurface(int width, int height, std::string* error) {
  auto surface = std::make_unique<Surface>();
  if (!surface->Create(width, height, error)) return nullptr;
  return surface;
}

}  // namespace ksurface
