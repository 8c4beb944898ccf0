// The live window's camera: mouse and key input over the 3D viewport moves
// the camera of an imported crowd. Left drag orbits about the crowd, right
// or middle drag pans, the wheel zooms, F frames the whole crowd again.
// Headless runs get no such input, so they stay repeatable.
#pragma once

#include "khost/scene/workload.h"

namespace khost {

class CameraControl {
 public:
  // One window event (ViewInput codes; x, y window pixels from the
  // top-left). The viewport covers [0, viewportWidth) x [0,
  // viewportHeight). Returns true when the event was the viewport's: it
  // then goes no further (a drag that began over the viewport stays its
  // own until the button is released).
  bool Input(Workload& workload, int event, int x, int y, int button, int viewportWidth,
             int viewportHeight);

 private:
  int mButton = -1;  // the button dragging, or -1
  int mLastX = 0;
  int mLastY = 0;
};

}  // namespace khost
