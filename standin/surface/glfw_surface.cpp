// The live window: GLFW with a compatibility OpenGL context, its input
// translated to the toolkit's ViewInput codes.
#define GLFW_INCLUDE_NONE
#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/ktoolkit.h"
#include "ksurface.h"
#include "surface_internal.h"

// Last: Xlib defines short macro names (Status, None, Bool).
#include <X11/Xlib.h>

namespace ksurface {

int TranslateKey(int glfwKey) {
  switch (glfwKey) {
    case GLFW_KEY_ENTER:
    case GLFW_KEY_KP_ENTER:
      return kKeyEnter;
    case GLFW_KEY_ESCAPE:
      return kKeyEscape;
    case GLFW_KEY_BACKSPACE:
      return kKeyBackspace;
    case GLFW_KEY_UP:
      return kKeyUp;
    case GLFW_KEY_DOWN:
      return kKeyDown;
    case GLFW_KEY_TAB:
      return kKeyTab;
    case GLFW_KEY_LEFT:
      return kKeyLeft;
    case GLFW_KEY_RIGHT:
      return kKeyRight;
    case GLFW_KEY_HOME:
      return kKeyHome;
    case GLFW_KEY_END:
      return kKeyEnd;
    case GLFW_KEY_DELETE:
      return kKeyDelete;
    default:
      return 0;
  }
}

int TranslateModifiers(int glfwMods) {
  int modifiers = 0;
  if (glfwMods & GLFW_MOD_SHIFT) modifiers |= kModShift;
  if (glfwMods & GLFW_MOD_CONTROL) modifiers |= kModControl;
  if (glfwMods & GLFW_MOD_ALT) modifiers |= kModAlt;
  return modifiers;
}

int TranslateButton(int glfwButton) {
  switch (glfwButton) {
    case GLFW_MOUSE_BUTTON_LEFT:
      return 0;
    case GLFW_MOUSE_BUTTON_RIGHT:
      return 1;
    case GLFW_MOUSE_BUTTON_MIDDLE:
      return 2;
    default:
      return -1;
  }
}

void ScaleCursor(double cursorX, double cursorY, int windowWidth, int windowHeight,
                 int framebufferWidth, int framebufferHeight, int& x, int& y) {
  double scaleX = 1.0;
  double scaleY = 1.0;
  if (windowWidth > 0 && framebufferWidth > 0) {
    scaleX = static_cast<double>(framebufferWidth) / windowWidth;
  }
  if (windowHeight > 0 && framebufferHeight > 0) {
    scaleY = static_cast<double>(framebufferHeight) / windowHeight;
  }
  // The pixel under the cursor: floor, so that a cursor at -0.5 (outside the
  // window while a button is held) lands on -1, not on pixel 0.
  const double fx = std::floor(cursorX * scaleX);
  const double fy = std::floor(cursorY * scaleY);
  constexpr double kLimit = 1.0e9;
  x = std::isfinite(fx) ? static_cast<int>(std::fmax(-kLimit, std::fmin(kLimit, fx))) : 0;
  y = std::isfinite(fy) ? static_cast<int>(std::fmax(-kLimit, std::fmin(kLimit, fy))) : 0;
}

int WheelAccumulator::Add(double offset) {
  if (!std::isfinite(offset)) return 0;
  if ((offset > 0.0 && mRest < 0.0) || (offset < 0.0 && mRest > 0.0)) mRest = 0.0;
  mRest += offset;
  const double whole = std::trunc(mRest);
  mRest -= whole;
  constexpr double kLimit = 1.0e6;
  return static_cast<int>(std::fmax(-kLimit, std::fmin(kLimit, whole)));
}

}  // namespace ksurface

namespace {

using ksurface::Fail;

std::string gLastGlfwError;
bool gGlfwReady = false;

void RecordGlfwError(int code, const char* description) {
  gLastGlfwError = "GLFW error " + std::to_string(code) + ": " + (description ? description : "");
}

bool NamedDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// The display's loss. Xlib calls its I/O error handler when the connection
// to the X server breaks, from whichever call found it, and ends the
// process with exit() once the handler returns; returning into the window
// library and the GL driver with a dead connection is not safe either, so
// the handler never returns: the hook finishes what it must, then the
// process ends with _exit (exit() would run static destructors under the
// threads still running).
std::atomic<KSurfaceDisplayLost> gLostHook{nullptr};
std::atomic<void*> gLostContext{nullptr};

int OnConnectionLost(Display* display) {
  static std::atomic<bool> once{false};
  // A loss found again while the hook runs ends the process at once.
  if (once.exchange(true)) ::_exit(1);
  const char* name = display ? DisplayString(display) : nullptr;
  if (!name || !*name) name = std::getenv("DISPLAY");
  if (!name) name = "";
  if (const KSurfaceDisplayLost hook = gLostHook.load()) hook(name, gLostContext.load());
  const char* parts[] = {"the display ", name, " was lost\n"};
  for (const char* part : parts) {
    if (::write(2, part, std::strlen(part)) < 0) break;
  }
  ::_exit(1);
}

// GLFW stays initialised once it initialised: ending it would unload the
// OpenGL driver, which every later window would load again (and leak
// checkers could no longer name the driver's own one-time allocations).
bool InitGlfw(std::string* error) {
  if (gGlfwReady) return true;
  glfwSetErrorCallback(RecordGlfwError);
  // Before GLFW opens the display, so that no loss goes unhandled.
  XSetIOErrorHandler(OnConnectionLost);
  gLastGlfwError.clear();
  if (glfwInit() == GLFW_TRUE) {
    gGlfwReady = true;
    return true;
  }
  return Fail(error,
              gLastGlfwError.empty() ? std::string("GLFW failed to initialise") : gLastGlfwError);
}

class WindowSurface final : public KSurface {
 public:
  WindowSurface() = default;
  ~WindowSurface() override {
    if (mWindow) {
      glfwDestroyWindow(mWindow);
      mWindow = nullptr;
    }
  }

  bool Create(int width, int height, const char* title, std::string* error) {
    if (width < 1 || height < 1 || width > kSurfaceMaxSide || height > kSurfaceMaxSide) {
      return Fail(error, "window size " + std::to_string(width) + "x" + std::to_string(height) +
                             " is outside 1..16384");
    }
    if (!NamedDisplay())
      return Fail(error, "no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
    if (!InitGlfw(error)) return false;
    gLastGlfwError.clear();

    // A 3.3 compatibility profile where the driver offers profiles; the
    // default legacy context (compatibility by definition) otherwise.
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_COMPAT_PROFILE);
    glfwWindowHint(GLFW_DEPTH_BITS, 24);
    glfwWindowHint(GLFW_STENCIL_BITS, 8);
    const char* caption = title ? title : "";
    mWindow = glfwCreateWindow(width, height, caption, nullptr, nullptr);
    if (!mWindow) {
      glfwDefaultWindowHints();
      glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
      mWindow = glfwCreateWindow(width, height, caption, nullptr, nullptr);
    }
    if (!mWindow) {
      const std::string reason =
          gLastGlfwError.empty() ? std::string("GLFW could not create the window") : gLastGlfwError;
      return Fail(error, reason);
    }
    glfwSetWindowUserPointer(mWindow, this);
    glfwSetFramebufferSizeCallback(mWindow, OnFramebufferSize);
    glfwSetCursorPosCallback(mWindow, OnCursorPos);
    glfwSetMouseButtonCallback(mWindow, OnMouseButton);
    glfwSetScrollCallback(mWindow, OnScroll);
    glfwSetKeyCallback(mWindow, OnKey);
    glfwSetCharCallback(mWindow, OnChar);
    glfwSetWindowCloseCallback(mWindow, OnClose);
    glfwMakeContextCurrent(mWindow);
    glfwSwapInterval(1);
    glfwGetFramebufferSize(mWindow, &mWidth, &mHeight);
    return true;
  }

  int Width() const override { return mWidth; }
  int Height() const override { return mHeight; }
  bool IsWindow() const override { return true; }

  bool MakeCurrent() override {
    if (!mWindow) return false;
    if (glfwGetCurrentContext() != mWindow) glfwMakeContextCurrent(mWindow);
    return glfwGetCurrentContext() == mWindow;
  }

  void Present() override {
    if (mWindow) glfwSwapBuffers(mWindow);
  }

  void PollEvents(KSurfaceSink* sink) override {
    if (!mWindow) return;
    mSink = sink;
    glfwPollEvents();
    mSink = nullptr;
  }

  bool ShouldClose() const override { return !mWindow || glfwWindowShouldClose(mWindow); }

  bool Resize(int width, int height, std::string* error) override {
    if (!mWindow) return Fail(error, "the window is gone");
    if (width < 1 || height < 1 || width > kSurfaceMaxSide || height > kSurfaceMaxSide) {
      return Fail(error, "window size " + std::to_string(width) + "x" + std::to_string(height) +
                             " is outside 1..16384");
    }
    glfwSetWindowSize(mWindow, std::max(width, mMinWidth), std::max(height, mMinHeight));
    return true;
  }

  void SetMinimumSize(int width, int height) override {
    mMinWidth = std::max(0, width);
    mMinHeight = std::max(0, height);
    if (!mWindow) return;
    glfwSetWindowSizeLimits(mWindow, mMinWidth > 0 ? mMinWidth : GLFW_DONT_CARE,
                            mMinHeight > 0 ? mMinHeight : GLFW_DONT_CARE, GLFW_DONT_CARE,
                            GLFW_DONT_CARE);
    int w = 0, h = 0;
    glfwGetWindowSize(mWindow, &w, &h);
    if (w < mMinWidth || h < mMinHeight)
      glfwSetWindowSize(mWindow, std::max(w, mMinWidth), std::max(h, mMinHeight));
  }

  bool ReadPixels(std::vector<unsigned char>& rgba) override {
    if (!MakeCurrent()) {
      rgba.clear();
      return false;
    }
    glReadBuffer(GL_BACK);
    glFinish();
    return ksurface::ReadFramebuffer(mWidth, mHeight, rgba);
  }

 private:
  int mMinWidth = 0;
  int mMinHeight = 0;

  static WindowSurface* Self(GLFWwindow* window) {
    return static_cast<WindowSurface*>(glfwGetWindowUserPointer(window));
  }

  void CursorPixel(int& x, int& y) {
    double cx = 0.0;
    double cy = 0.0;
    glfwGetCursorPos(mWindow, &cx, &cy);
    int windowWidth = 0;
    int windowHeight = 0;
    glfwGetWindowSize(mWindow, &windowWidth, &windowHeight);
    ksurface::ScaleCursor(cx, cy, windowWidth, windowHeight, mWidth, mHeight, x, y);
  }

  int CurrentModifiers() {
    int mods = 0;
    if (glfwGetKey(mWindow, GLFW_KEY_LEFT_SHIFT) == GLFW_PRESS ||
        glfwGetKey(mWindow, GLFW_KEY_RIGHT_SHIFT) == GLFW_PRESS) {
      mods |= GLFW_MOD_SHIFT;
    }
    if (glfwGetKey(mWindow, GLFW_KEY_LEFT_CONTROL) == GLFW_PRESS ||
        glfwGetKey(mWindow, GLFW_KEY_RIGHT_CONTROL) == GLFW_PRESS) {
      mods |= GLFW_MOD_CONTROL;
    }
    if (glfwGetKey(mWindow, GLFW_KEY_LEFT_ALT) == GLFW_PRESS ||
        glfwGetKey(mWindow, GLFW_KEY_RIGHT_ALT) == GLFW_PRESS) {
      mods |= GLFW_MOD_ALT;
    }
    return ksurface::TranslateModifiers(mods);
  }

  void Deliver(int event, int button, int modifiers) {
    if (!mSink) return;
    int x = 0;
    int y = 0;
    CursorPixel(x, y);
    mSink->SurfaceInput(event, x, y, button, modifiers);
  }

  static void OnFramebufferSize(GLFWwindow* window, int width, int height) {
    WindowSurface* self = Self(window);
    if (!self) return;
    // Without a window manager to hold the size limits, a window can still be
    // made smaller: grow it back, and report the size it returns to.
    int windowWidth = 0, windowHeight = 0;
    glfwGetWindowSize(window, &windowWidth, &windowHeight);
    if (windowWidth < self->mMinWidth || windowHeight < self->mMinHeight) {
      glfwSetWindowSize(window, std::max(windowWidth, self->mMinWidth),
                        std::max(windowHeight, self->mMinHeight));
      return;
    }
    self->mWidth = width < 0 ? 0 : width;
    self->mHeight = height < 0 ? 0 : height;
    if (self->mSink) self->mSink->SurfaceResized(self->mWidth, self->mHeight);
  }

  static void OnCursorPos(GLFWwindow* window, double, double) {
    WindowSurface* self = Self(window);
    if (self) self->Deliver(kInputMouseMove, 0, self->CurrentModifiers());
  }

  static void OnMouseButton(GLFWwindow* window, int button, int action, int mods) {
    WindowSurface* self = Self(window);
    const int translated = ksurface::TranslateButton(button);
    if (!self || translated < 0) return;
    if (action == GLFW_PRESS) {
      self->Deliver(kInputMouseDown, translated, ksurface::TranslateModifiers(mods));
    } else if (action == GLFW_RELEASE) {
      self->Deliver(kInputMouseUp, translated, ksurface::TranslateModifiers(mods));
    }
  }

  static void OnScroll(GLFWwindow* window, double, double yOffset) {
    WindowSurface* self = Self(window);
    if (!self) return;
    const int steps = self->mWheel.Add(yOffset);
    if (steps != 0) self->Deliver(kInputMouseWheel, steps, self->CurrentModifiers());
  }

  static void OnKey(GLFWwindow* window, int key, int, int action, int mods) {
    WindowSurface* self = Self(window);
    if (!self || (action != GLFW_PRESS && action != GLFW_REPEAT)) return;
    const int code = ksurface::TranslateKey(key);
    if (code != 0) self->Deliver(kInputKeyDown, code, ksurface::TranslateModifiers(mods));
  }

  static void OnChar(GLFWwindow* window, unsigned int codePoint) {
    WindowSurface* self = Self(window);
    if (!self || codePoint > 0x10FFFF) return;
    self->Deliver(kInputKeyChar, static_cast<int>(codePoint), self->CurrentModifiers());
  }

  static void OnClose(GLFWwindow* window) {
    WindowSurface* self = Self(window);
    if (self && self->mSink) self->mSink->SurfaceCloseRequested();
  }

  GLFWwindow* mWindow = nullptr;
  KSurfaceSink* mSink = nullptr;
  ksurface::WheelAccumulator mWheel;
  int mWidth = 0;
  int mHeight = 0;
};

}  // namespace

std::unique_ptr<KSurface> KSurface_CreateWindow(int width, int height, const char* title,
                                                std::string* error) {
  auto surface = std::make_unique<WindowSurface>();
  if (!surface->Create(width, height, title, error)) return nullptr;
  return surface;
}

bool KSurface_DisplayAvailable() {
  if (!NamedDisplay()) return false;
  return InitGlfw(nullptr);
}

void KSurface_OnDisplayLost(KSurfaceDisplayLost hook, void* context) {
  gLostContext.store(context);
  gLostHook.store(hook);
}
