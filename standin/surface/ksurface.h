// ksurface: where the host application draws.
//
// Two kinds of surface carry an OpenGL compatibility context (immediate mode,
// fixed function), which MakeCurrent makes current on the calling thread:
//   - headless: an EGL context on the software renderer drawing into a
//     framebuffer object of the requested size; needs no display, so tests and
//     batch captures use it;
//   - window: a GLFW window whose mouse and keyboard input is translated to
//     the toolkit's ViewInput codes (kViewInputEvent, kKey, kInputModifier in
//     host/ktoolkit.h) and handed to a sink.
// Plus PNG writing and reading for captures.
//
// Every failure is reported as a message in *error (when error is not null)
// and a null or false result; nothing here aborts.
//
// Threads: a surface is used from the thread that created it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The largest side of a surface, in pixels.
constexpr int kSurfaceMaxSide = 16384;
// The side of the largest square capture written or read as PNG, and the
// most RGBA bytes any capture may hold (that square's).
constexpr int kPngMaxSide = 8192;
constexpr std::size_t kPngMaxRgbaBytes = std::size_t{kPngMaxSide} * kPngMaxSide * 4;

// Receives what a window reports while PollEvents runs.
class KSurfaceSink {
 public:
  virtual ~KSurfaceSink() = default;
  // One ViewInput event: event is a kViewInputEvent; x and y are framebuffer
  // pixels from the top-left; button and modifiers as ViewInput takes them.
  virtual void SurfaceInput(int event, int x, int y, int button, int modifiers) = 0;
  // The drawable changed size (framebuffer pixels). Width() and Height()
  // already answer the new size.
  virtual void SurfaceResized(int width, int height) = 0;
  // The user asked to close the window; ShouldClose() now answers true.
  virtual void SurfaceCloseRequested() {}
};

class KSurface {
 public:
  virtual ~KSurface() = default;
  KSurface(const KSurface&) = delete;
  KSurface& operator=(const KSurface&) = delete;

  // Drawable size in pixels.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual bool IsWindow() const = 0;
  // Makes the surface's context current on this thread (and, for headless,
  // binds its framebuffer object). False when that fails.
  virtual bool MakeCurrent() = 0;
  // Ends a frame: swaps a window's buffers; finishes rendering for headless.
  virtual void Present() = 0;
  // Delivers pending window events to `sink` (may be null: the events are
  // dropped but the surface still tracks its size and close request).
  // Headless surfaces have no events.
  virtual void PollEvents(KSurfaceSink* sink) = 0;
  // True once the user asked to close the window; always false headless.
  virtual bool ShouldClose() const = 0;
  // Changes the drawable size: a headless surface reallocates its
  // framebuffer (contents are lost); a window asks the window system, and
  // the new size arrives through the sink like any user resize.
  virtual bool Resize(int width, int height, std::string* error) = 0;
  // The smallest size the user may give a window (window pixels; 0 for no
  // limit). A window refuses sizes below it: the window system's size limits,
  // and a request for a smaller size grows to the minimum. Headless
  // surfaces have no user and ignore it.
  virtual void SetMinimumSize(int /*width*/, int /*height*/) {}
  // The frame drawn so far, as Width() × Height() RGBA bytes, top row first.
  // Read a window before Present (after a swap the back buffer is undefined).
  // Makes the surface current. False (rgba emptied) on failure.
  virtual bool ReadPixels(std::vector<unsigned char>& rgba) = 0;

 protected:
  KSurface() = default;
};

// A headless surface of width × height pixels (each 1 to kSurfaceMaxSide), current on
// return. Null, with a reason in *error, when no EGL display or context can
// be had.
std::unique_ptr<KSurface> KSurface_CreateHeadless(int width, int height, std::string* error);

// A window with a client area of width × height screen units, current on
// return. Null, with a reason in *error, without a display or a context.
std::unique_ptr<KSurface> KSurface_CreateWindow(int width, int height, const char* title,
                                                std::string* error);

// True when an X or Wayland display is named in the environment and the
// window library initialises on it.
bool KSurface_DisplayAvailable();

// What happens when the display under the windows is lost (its X server
// ends, its connection breaks). The window system's library cannot go on
// past that point, so the process ends there: `hook` (null: none) runs
// first, on the thread whose call found the loss, with the display's name.
// It must not touch a window or a GL context again and should end the
// process itself; should it return, or without a hook, the surface says the
// display was lost on standard error and the process exits with status 1
// (at once: no exit handlers run, as other threads may be in the middle of
// their work). Process-wide; [any thread], set between a window's calls.
using KSurfaceDisplayLost = void (*)(const char* display, void* context);
void KSurface_OnDisplayLost(KSurfaceDisplayLost hook, void* context);

// Encodes width × height RGBA bytes (top row first) as an 8-bit RGBA PNG in
// memory. False (png emptied) for a size beyond kPngMaxRgbaBytes.
bool KPng_Encode(int width, int height, const unsigned char* rgba, std::vector<unsigned char>& png,
                 std::string* error);

// Writes width × height RGBA bytes (top row first) as an 8-bit RGBA PNG. The
// file is written to a uniquely named temporary beside its final name and
// renamed into place, so a failed write leaves an existing file as it was.
bool KPng_Write(const char* path, int width, int height, const unsigned char* rgba,
                std::string* error);

// Reads any PNG (grey, palette, 16-bit and interlaced ones included) as 8-bit
// RGBA, top row first. Images above 256 MiB of RGBA are refused.
bool KPng_Read(const char* path, int& width, int& height, std::vector<unsigned char>& rgba,
               std::string* error);
