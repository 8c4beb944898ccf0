// The headless surface: an EGL desktop-OpenGL compatibility context (Mesa's
// software renderer where no GPU is present) rendering into a framebuffer
// object, so nothing needs a display.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "ksurface.h"
#include "surface_internal.h"

namespace {

using ksurface::Fail;

std::string EglErrorText(const char* what) {
  char text[128];
  std::snprintf(text, sizeof(text), "%s failed (EGL error 0x%04x)", what,
                static_cast<unsigned>(eglGetError()));
  return text;
}

bool HasExtension(const char* list, const char* name) {
  if (!list || !name) return false;
  const size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
    const bool startOk = p == list || p[-1] == ' ';
    const bool endOk = p[length] == ' ' || p[length] == '\0';
    if (startOk && endOk) return true;
  }
  return false;
}

// One EGL display serves every headless surface of the process. It is
// initialised with the first surface and kept for the life of the process:
// terminating it would unload the driver, and surfaces made later would pay
// for loading it again (and leak checkers could no longer name the driver's
// own one-time allocations).
struct SharedDisplay {
  std::mutex mutex;
  EGLDisplay display = EGL_NO_DISPLAY;
};

SharedDisplay& TheDisplay() {
  static SharedDisplay shared;
  return shared;
}

EGLDisplay TryInitialize(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
  EGLint major = 0;
  EGLint minor = 0;
  if (!eglInitialize(display, &major, &minor)) return EGL_NO_DISPLAY;
  return display;
}

EGLDisplay AcquireDisplay(std::string* error) {
  SharedDisplay& shared = TheDisplay();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (shared.display != EGL_NO_DISPLAY) return shared.display;
  EGLDisplay display = EGL_NO_DISPLAY;
  // The surfaceless platform needs neither a display server nor a GPU.
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
      display = TryInitialize(
          getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
    }
  }
  // Otherwise whatever the default display is (with a pbuffer for making
  // the context current).
  if (display == EGL_NO_DISPLAY) display = TryInitialize(eglGetDisplay(EGL_DEFAULT_DISPLAY));
  if (display == EGL_NO_DISPLAY) {
    Fail(error, EglErrorText("no EGL display: eglInitialize"));
    return EGL_NO_DISPLAY;
  }
  shared.display = display;
  return display;
}

// Framebuffer-object entry points, looked up at run time because the
// OpenGL library's headers do not promise them as plain symbols.
struct FramebufferFunctions {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;

  template <class F>
  static bool Load(F& function, const char* name) {
    function = reinterpret_cast<F>(eglGetProcAddress(name));
    return function != nullptr;
  }

  bool LoadAll() {
    return Load(GenFramebuffers, "glGenFramebuffers") &&
           Load(DeleteFramebuffers, "glDeleteFramebuffers") &&
           Load(BindFramebuffer, "glBindFramebuffer") &&
           Load(FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(CheckFramebufferStatus, "glCheckFramebufferStatus") &&
           Load(GenRenderbuffers, "glGenRenderbuffers") &&
           Load(DeleteRenderbuffers, "glDeleteRenderbuffers") &&
           Load(BindRenderbuffer, "glBindRenderbuffer") &&
           Load(RenderbufferStorage, "glRenderbufferStorage");
  }
};

constexpr int kMaxHeadlessSize = kSurfaceMaxSide;

class HeadlessSurface final : public KSurface {
 public:
  HeadlessSurface() = default;
  ~HeadlessSurface() override { Release(); }

  bool Create(int width, int height, std::string* error) {
    if (width < 1 || height < 1 || width > kMaxHeadlessSize || height > kMaxHeadlessSize) {
      return Fail(error, "headless surface size " + std::to_string(width) + "x" +
                             std::to_string(height) + " is outside 1..16384");
    }
    mDisplay = AcquireDisplay(error);
    if (mDisplay == EGL_NO_DISPLAY) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) return Fail(error, EglErrorText("eglBindAPI(OpenGL)"));

    EGLConfig config = nullptr;
    if (!ChooseConfig(config)) return Fail(error, "no EGL configuration renders desktop OpenGL");
    if (!CreateContext(config, error)) return false;

    const char* displayExtensions = eglQueryString(mDisplay, EGL_EXTENSIONS);
    if (!HasExtension(displayExtensions, "EGL_KHR_surfaceless_context")) {
      const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
      mPbuffer = eglCreatePbufferSurface(mDisplay, config, pbufferAttributes);
      if (mPbuffer == EGL_NO_SURFACE) return Fail(error, EglErrorText("eglCreatePbufferSurface"));
    }
    if (!eglMakeCurrent(mDisplay, mPbuffer, mPbuffer, mContext)) {
      return Fail(error, EglErrorText("eglMakeCurrent"));
    }
    if (!CheckCompatibility(error)) return false;
    if (!mFbo.LoadAll()) return Fail(error, "the OpenGL context has no framebuffer objects");
    return AllocateFramebuffer(width, height, error);
  }

  int Width() const override { return mWidth; }
  int Height() const override { return mHeight; }
  bool IsWindow() const override { return false; }

  bool MakeCurrent() override {
    if (mContext == EGL_NO_CONTEXT) return false;
    if (eglGetCurrentContext() != mContext) {
      eglBindAPI(EGL_OPENGL_API);
      if (!eglMakeCurrent(mDisplay, mPbuffer, mPbuffer, mContext)) return false;
    }
    if (mFbo.BindFramebuffer) mFbo.BindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
    return true;
  }

  void Present() override {
    if (MakeCurrent()) glFinish();
  }

  void PollEvents(KSurfaceSink*) override {}
  bool ShouldClose() const override { return false; }

  bool Resize(int width, int height, std::string* error) override {
    if (width < 1 || height < 1 || width > kMaxHeadlessSize || height > kMaxHeadlessSize) {
      return Fail(error, "headless surface size " + std::to_string(width) + "x" +
                             std::to_string(height) + " is outside 1..16384");
    }
    if (!MakeCurrent()) return Fail(error, EglErrorText("eglMakeCurrent"));
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

  bool ReadPixels(std::vector<unsigned char>& rgba) override {
    if (!MakeCurrent()) {
      rgba.clear();
      return false;
    }
    glFinish();
    return ksurface::ReadFramebuffer(mWidth, mHeight, rgba);
  }

 private:
  bool ChooseConfig(EGLConfig& config) {
    // Prefer configurations that also offer pbuffers (needed where the
    // context cannot be current without a surface); accept any otherwise.
    const EGLint surfaceTypes[] = {EGL_PBUFFER_BIT, 0};
    for (EGLint surfaceType : surfaceTypes) {
      const EGLint attributes[] = {
          EGL_SURFACE_TYPE, surfaceType, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
          EGL_RED_SIZE,     8,           EGL_GREEN_SIZE,      8,
          EGL_BLUE_SIZE,    8,           EGL_ALPHA_SIZE,      8,
          EGL_NONE};
      EGLint count = 0;
      if (eglChooseConfig(mDisplay, attributes, &config, 1, &count) && count > 0) return true;
    }
    return false;
  }

  bool CreateContext(EGLConfig config, std::string* error) {
    // A 3.3 compatibility context where the driver offers profiles; a
    // legacy context (compatibility by definition) otherwise.
    const EGLint compatibility[] = {EGL_CONTEXT_MAJOR_VERSION,
                                    3,
                                    EGL_CONTEXT_MINOR_VERSION,
                                    3,
                                    EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                    EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                    EGL_NONE};
    mContext = eglCreateContext(mDisplay, config, EGL_NO_CONTEXT, compatibility);
    if (mContext == EGL_NO_CONTEXT) {
      mContext = eglCreateContext(mDisplay, config, EGL_NO_CONTEXT, nullptr);
    }
    if (mContext == EGL_NO_CONTEXT) return Fail(error, EglErrorText("eglCreateContext(OpenGL)"));
    return true;
  }

  static bool CheckCompatibility(std::string* error) {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version) return Fail(error, "the OpenGL context answers no version");
    int major = 0;
    int minor = 0;
    std::sscanf(version, "%d.%d", &major, &minor);
    if (major > 3 || (major == 3 && minor >= 2)) {
      GLint profile = 0;
      glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
      if ((profile & GL_CONTEXT_CORE_PROFILE_BIT) != 0 &&
          (profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT) == 0) {
        return Fail(error, std::string("the OpenGL context is a core profile (") + version +
                               "); immediate mode needs a compatibility profile");
      }
    }
    return true;
  }

  bool AllocateFramebuffer(int width, int height, std::string* error) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (maxSize > 0 && (width > maxSize || height > maxSize)) {
      return Fail(error, "headless surface size exceeds the renderer's limit of " +
                             std::to_string(maxSize));
    }
    mFbo.GenFramebuffers(1, &mFramebuffer);
    mFbo.BindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
    mFbo.GenRenderbuffers(1, &mColor);
    mFbo.BindRenderbuffer(GL_RENDERBUFFER, mColor);
    mFbo.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    mFbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, mColor);
    mFbo.GenRenderbuffers(1, &mDepthStencil);
    mFbo.BindRenderbuffer(GL_RENDERBUFFER, mDepthStencil);
    mFbo.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    mFbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                 mDepthStencil);
    mFbo.BindRenderbuffer(GL_RENDERBUFFER, 0);
    const GLenum status = mFbo.CheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
      char text[96];
      std::snprintf(text, sizeof(text), "the framebuffer object is incomplete (status 0x%04x)",
                    static_cast<unsigned>(status));
      return Fail(error, text);
    }
    mWidth = width;
    mHeight = height;
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    return true;
  }

  void DeleteFramebuffer() {
    if (mFbo.BindFramebuffer) mFbo.BindFramebuffer(GL_FRAMEBUFFER, 0);
    if (mFramebuffer) mFbo.DeleteFramebuffers(1, &mFramebuffer);
    if (mColor) mFbo.DeleteRenderbuffers(1, &mColor);
    if (mDepthStencil) mFbo.DeleteRenderbuffers(1, &mDepthStencil);
    mFramebuffer = mColor = mDepthStencil = 0;
  }

  void Release() {
    if (mContext != EGL_NO_CONTEXT) {
      if (MakeCurrent()) DeleteFramebuffer();
      eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      eglDestroyContext(mDisplay, mContext);
      mContext = EGL_NO_CONTEXT;
    }
    if (mPbuffer != EGL_NO_SURFACE) {
      eglDestroySurface(mDisplay, mPbuffer);
      mPbuffer = EGL_NO_SURFACE;
    }
  }

  EGLDisplay mDisplay = EGL_NO_DISPLAY;
  EGLContext mContext = EGL_NO_CONTEXT;
  EGLSurface mPbuffer = EGL_NO_SURFACE;
  FramebufferFunctions mFbo;
  GLuint mFramebuffer = 0;
  GLuint mColor = 0;
  GLuint mDepthStencil = 0;
  int mWidth = 0;
  int mHeight = 0;
};

}  // namespace

std::unique_ptr<KSurface> KSurface_CreateHeadless(int width, int height, std::string* error) {
  auto surface = std::make_unique<HeadlessSurface>();
  if (!surface->Create(width, height, error)) return nullptr;
  return surface;
}
