// Routes the window's events to the tool window shown in it.
#pragma once

#include "host/ktoolkit.h"
#include "ksurface.h"

namespace khost {

// Window events go straight to the toolkit, moved into the tool's own
// coordinates (it lies ToolX pixels right of the window's left edge); a
// resize is applied at the start of the next frame. Anything but a mouse
// move marks the tool for a repaint this frame.
class InputSink : public KSurfaceSink {
 public:
  explicit InputSink(KtViewHost& host) : mHost(host) {}
  void SurfaceInput(int event, int x, int y, int button, int modifiers) override {
    mHost.Input(event, x - ToolX, y, button, modifiers);
    if (event != kInputMouseMove) Touched = true;
  }
  void SurfaceResized(int width, int height) override {
    Resized = true;
    Width = width;
    Height = height;
  }
  int ToolX = 0;
  bool Touched = false;
  bool Resized = false;
  int Width = 0;
  int Height = 0;

 private:
  KtViewHost& mHost;
};

}  // namespace khost
