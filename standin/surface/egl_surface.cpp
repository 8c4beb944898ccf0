// The headless surface: an EGL desktop-OpenGL compatibility context (Mesa's
// software renderer where no GPU is present) rendering into a framebuffer
// object, so nothing needs a display.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "ksurface.h"
#include "offscreen_surface.h"
#include "standin/platform/gl_entry.h"
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

// Framebuffer-object entry points are looked up at run time because the
// OpenGL library's headers do not promise them as plain symbols.
void* EglEntry(const char* name) {
  return reinterpret_cast<void*>(eglGetProcAddress(name));
}

class HeadlessSurface final : public ksurface::OffscreenSurface {
 public:
  ~HeadlessSurface() override {
    if (mContext != EGL_NO_CONTEXT) {
      ReleaseFramebuffer();
      eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      eglDestroyContext(mDisplay, mContext);
    }
    if (mPbuffer != EGL_NO_SURFACE) eglDestroySurface(mDisplay, mPbuffer);
  }

  bool Create(int width, int height, std::string* error) {
    if (!CheckSize(width, height, error)) return false;
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
    if (!LoadFramebufferFunctions(EglEntry)) {
      return Fail(error, "the OpenGL context has no framebuffer objects");
    }
    return AllocateFramebuffer(width, height, error);
  }

 private:
  bool MakeContextCurrent() override {
    if (mContext == EGL_NO_CONTEXT) return false;
    if (eglGetCurrentContext() == mContext) return true;
    eglBindAPI(EGL_OPENGL_API);
    return eglMakeCurrent(mDisplay, mPbuffer, mPbuffer, mContext);
  }

  std::string ContextFailureText() const override { return EglErrorText("eglMakeCurrent"); }

  std::string IncompleteText(GLenum status) const override {
    char text[96];
    std::snprintf(text, sizeof(text), "the framebuffer object is incomplete (status 0x%04x)",
                  static_cast<unsigned>(status));
    return text;
  }

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

  EGLDisplay mDisplay = EGL_NO_DISPLAY;
  EGLContext mContext = EGL_NO_CONTEXT;
  EGLSurface mPbuffer = EGL_NO_SURFACE;
};

}  // namespace

std::unique_ptr<KSurface> KSurface_CreateHeadless(int width, int height, std::string* error) {
  return ksurface::MakeOffscreenSurface<HeadlessSurface>(width, height, error);
}
