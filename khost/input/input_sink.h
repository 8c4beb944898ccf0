// Routes the window's events to the tool window shown in it.
#pragma once

#include "host/ktoolkit.h"
#include "khost/scene/camera_control.h"
#include "ksurface.h"
#include "standin/ktoolkit/viewhost.h"

namespace khost {

// Window events over the 3D viewport (the window's left ToolX pixels, and
// drags that began there) move its camera; the rest go to the toolkit,
// moved into the tool's own coordinates (it lies ToolX pixels right of the
// window's left edge). Two kinds go to the toolkit wherever they land: a
// button's release, so that a drag or a held button begun in the tool ends
// with it (the camera sees it too, to end its own drag), and a click while
// the toolkit has a popup open, which closes the popup and goes no further.
// A resize is applied at the start of the next frame. Anything but a mouse
// move marks the tool for a repaint this frame.
class InputSink : public KSurfaceSink {
 public:
  explicit InputSink(KtViewHost& host) : mHost(host) {}
  void SurfaceInput(int event, int x, int y, int button, int modifiers) override {
    const bool closesPopup = event == kInputMouseDown && mHost.GetPopup();
    const bool camera = !closesPopup && Camera && Scene &&
                        Camera->Input(*Scene, event, x, y, button, ToolX, ViewportHeight);
    if (camera && event != kInputMouseUp) return;
    mHost.Input(event, x - ToolX, y, button, modifiers);
    if (event != kInputMouseMove) Touched = true;
  }
  void SurfaceResized(int width, int height) override {
    Resized = true;
    Width = width;
    Height = height;
  }
  int ToolX = 0;
  int ViewportHeight = 0;
  CameraControl* Camera = nullptr;  // borrowed; null: no camera input
  Workload* Scene = nullptr;        // borrowed
  bool Touched = false;
  bool Resized = false;
  int Width = 0;
  int Height = 0;

 private:
  KtViewHost& mHost;
};

}  // namespace khost
