// The headless surface on Windows: a WGL context on a hidden window, drawing
// into a framebuffer object of the requested size (a hidden window's own
// pixels are not guaranteed to be kept). Windows with input are the Linux
// host application's business; here KSurface_CreateWindow answers null.
#include <memory>
#include <string>

#include "ksurface.h"
#include "offscreen_surface.h"
#include "standin/platform/gl_entry.h"
#include "surface_internal.h"

namespace {

using ksurface::Fail;

const wchar_t kWindowClass[] = L"KSurfaceHeadless";

std::string LastErrorText(const char* what) {
  return std::string(what) + " failed (Windows error " + std::to_string(GetLastError()) + ")";
}

// Framebuffer objects are OpenGL 3.0 (or ARB_framebuffer_object): asked of
// the current context.
void* WglEntry(const char* name) {
  return reinterpret_cast<void*>(wglGetProcAddress(name));
}

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSW windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

class HeadlessSurface final : public ksurface::OffscreenSurface {
 public:
  ~HeadlessSurface() override {
    if (mContext) {
      ReleaseFramebuffer();
      wglMakeCurrent(nullptr, nullptr);
      wglDeleteContext(mContext);
    }
    if (mDc) ReleaseDC(mWindow, mDc);
    if (mWindow) DestroyWindow(mWindow);
  }

  bool Create(int width, int height, std::string* error) {
    if (!CheckSize(width, height, error)) return false;
    if (!RegisterWindowClass()) return Fail(error, LastErrorText("RegisterClass"));
    mWindow = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (!mWindow) return Fail(error, LastErrorText("CreateWindowEx"));
    mDc = GetDC(mWindow);
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 32;
    format.cAlphaBits = 8;
    format.cDepthBits = 24;
    format.cStencilBits = 8;
    format.iLayerType = PFD_MAIN_PLANE;
    const int chosen = mDc ? ChoosePixelFormat(mDc, &format) : 0;
    if (chosen == 0 || !SetPixelFormat(mDc, chosen, &format)) {
      return Fail(error, LastErrorText("choosing an OpenGL pixel format"));
    }
    mContext = wglCreateContext(mDc);
    if (!mContext) return Fail(error, LastErrorText("wglCreateContext"));
    if (!wglMakeCurrent(mDc, mContext)) return Fail(error, LastErrorText("wglMakeCurrent"));
    if (!LoadFramebufferFunctions(WglEntry)) {
      return Fail(error, "the OpenGL context offers no framebuffer objects");
    }
    return AllocateFramebuffer(width, height, error);
  }

 private:
  bool MakeContextCurrent() override {
    if (!mContext) return false;
    return wglGetCurrentContext() == mContext || wglMakeCurrent(mDc, mContext);
  }

  std::string ContextFailureText() const override { return LastErrorText("wglMakeCurrent"); }

  std::string IncompleteText(GLenum status) const override {
    return "the framebuffer object is incomplete (status " +
           std::to_string(static_cast<unsigned>(status)) + ")";
  }

  HWND mWindow = nullptr;
  HDC mDc = nullptr;
  HGLRC mContext = nullptr;
};

}  // namespace

std::unique_ptr<KSurface> KSurface_CreateHeadless(int width, int height, std::string* error) {
  return ksurface::MakeOffscreenSurface<HeadlessSurface>(width, height, error);
}

std::unique_ptr<KSurface> KSurface_CreateWindow(int, int, const char*, std::string* error) {
  Fail(error, "windows with input are not part of the Windows build");
  return nullptr;
}

bool KSurface_DisplayAvailable() {
  return false;
}

void KSurface_OnDisplayLost(KSurfaceDisplayLost, void*) {
  // No windows, so no display to lose.
}
