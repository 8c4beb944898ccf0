// The window's composition around the viewport: the tool window's own
// colour buffer, shown beside the viewport every frame, and the window-wide
// steps of a frame's drawing (the background where nothing lies, the hand-off
// to the renderer).
//
// Every call: [loop thread], with the GL context current on it.
#pragma once

#include <memory>
#include <vector>

#include "khost/base/status.h"

namespace khost {

// A colour buffer the tool window paints into at its own rate, shown in
// the drawable every frame: the tool's last paint stays on screen between
// repaints whatever the window system does with the back buffer.
class ToolLayer {
 public:
  static Result<std::unique_ptr<ToolLayer>> Create(int width, int height);
  ~ToolLayer();
  ToolLayer(const ToolLayer&) = delete;
  ToolLayer& operator=(const ToolLayer&) = delete;

  // Gives the layer a new size, cleared to the window's grey.
  Status Resize(int width, int height);
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }

  // Directs drawing into the layer until End, which returns to the
  // framebuffer that was bound before.
  void Begin();
  void End();
  // Copies the layer into the bound framebuffer with its top-left corner at
  // window pixel (x, y) of a drawable `drawableHeight` pixels tall.
  void Show(int x, int y, int drawableHeight);
  // The layer's pixels, Width() x Height() RGBA, top row first.
  bool Read(std::vector<unsigned char>& rgba);

 private:
  ToolLayer() = default;
  unsigned mFramebuffer = 0;
  unsigned mColour = 0;
  int mPreviousDraw = 0;
  int mPreviousRead = 0;
  int mWidth = 0;
  int mHeight = 0;
};

// Hands the drawing issued so far to the renderer (glFlush). A software
// renderer rasterises it before returning.
void FlushDrawing();

// Waits until the renderer has drawn everything issued so far (glFinish).
void FinishDrawing();

// Clears the whole bound drawable of width x height pixels to the window's
// background grey (what shows where neither viewport nor tool lies).
void ClearWindow(int width, int height);

}  // namespace khost
