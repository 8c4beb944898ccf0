// The headless surface on Windows: a WGL context on a hidden window, drawing
// into a framebuffer object of the requested size (a hidden window's own
// pixels are not guaranteed to be kept). Windows with input are the Linux
// host application's business; here KSurface_CreateWindow answers null.
#include <memory>
#include <string>

#include "ksurface.h"
#include "standin/platform/gl_entry.h"
#include "surface_internal.h"

namespace {

using ksurface::Fail;

constexpr int kMaxHeadlessSize = kSurfaceMaxSide;
const wchar_t kWindowClass[] = L"KSurfaceHeadless";

// Framebuffer objects are OpenGL 3.0 (or ARB_framebuffer_object): asked of
// the current context.
struct FramebufferFunctions {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;

  template <class F>
  static bool Load(F& function, const char* name) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(wglGetProcAddress(name)));
    return function != nullptr;
  }
  bool LoadAll() {
    return Load(GenFramebuffers, "glGenFramebuffers") &&
           Load(BindFramebuffer, "glBindFramebuffer") &&
           Load(DeleteFramebuffers, "glDeleteFramebuffers") &&
           Load(GenRenderbuffers, "glGenRenderbuffers") &&
           Load(BindRenderbuffer, "glBindRenderbuffer") &&
           Load(DeleteRenderbuffers, "glDeleteRenderbuffers") &&
           Load(RenderbufferStorage, "glRenderbufferStorage") &&
           Load(FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(CheckFramebufferStatus, "glCheckFramebufferStatus");
  }
};

std::string LastErrorText(const char* what) {
  return std::string(what) + " failed (Windows error " + std::to_string(GetLastError()) + ")";
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

class HeadlessSurface final : public KSurface {
 public:
  ~HeadlessSurface() override { Release(); }

  bool Create(int width, int height, std::string* error) {
    if (width < 1 || height < 1 || width > kMaxHeadlessSize || height > kMaxHeadlessSize) {
      return Fail(error, "headless surface size " + std::to_string(width) + "x" +
                             std::to_string(height) + " is outside 1..16384");
    }
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
    if (!mFbo.LoadAll()) {
      return Fail(error, "the OpenGL context offers no framebuffer objects");
    }
    return AllocateFramebuffer(width, height, error);
  }

  int Width() const override { return mWidth; }
  int Height() const override { return mHeight; }
  bool IsWindow() const override { return false; }

  bool MakeCurrent() override {
    if (!mContext) return false;
    if (wglGetCurrentContext() != mContext && !wglMakeCurrent(mDc, mContext)) return false;
    mFbo.BindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
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
    if (!MakeCurrent()) return Fail(error, LastErrorText("wglMakeCurrent"));
    if (width == mWidth && height == mHeight) return true;
    const int oldWidth = mWidth;
    const int oldHeight = mHeight;
    DeleteFramebuffer();
    if (AllocateFramebuffer(width, height, error)) return true;
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
      return Fail(error, "the framebuffer object is incomplete (status " +
                             std::to_string(static_cast<unsigned>(status)) + ")");
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
    if (mContext) {
      if (MakeCurrent()) DeleteFramebuffer();
      wglMakeCurrent(nullptr, nullptr);
      wglDeleteContext(mContext);
      mContext = nullptr;
    }
    if (mDc) ReleaseDC(mWindow, mDc);
    if (mWindow) DestroyWindow(mWindow);
    mDc = nullptr;
    mWindow = nullptr;
  }

  HWND mWindow = nullptr;
  HDC mDc = nullptr;
  HGLRC mContext = nullptr;
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

std::unique_ptr<KSurface> KSurface_CreateWindow(int, int, const char*, std::string* error) {
  Fail(error, "windows with input are not part of the Windows build");
  return nullptr;
}

bool KSurface_DisplayAvailable() {
  return false;
}
