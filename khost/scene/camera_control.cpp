#include "khost/scene/camera_control.h"

#include <algorithm>
#include <cmath>

#include "host/ktoolkit.h"

namespace khost {

namespace {

constexpr float kRadiansPerPixel = 0.008f;
constexpr float kZoomPerStep = 0.85f;

}  // namespace

bool CameraControl::Input(Workload& workload, int event, int x, int y, int button,
                          int viewportWidth, int viewportHeight) {
  const bool over = x >= 0 && y >= 0 && x < viewportWidth && y < viewportHeight;
  if (!workload.GetScene().GetModel()) return false;  // the procedural camera stays put
  switch (event) {
    case kInputMouseDown:
      if (!over || mButton >= 0) return mButton >= 0;
      mButton = button;
      mLastX = x;
      mLastY = y;
      return true;
    case kInputMouseUp:
      if (mButton < 0 || button != mButton) return mButton >= 0 || over;
      mButton = -1;
      return true;
    case kInputMouseMove: {
      if (mButton < 0) return false;
      const int dx = x - mLastX;
      const int dy = y - mLastY;
      mLastX = x;
      mLastY = y;
      Scene& scene = workload.EditScene();
      if (mButton == 0) {
        scene.OrbitCamera(scene.GetPivot(), -static_cast<float>(dx) * kRadiansPerPixel,
                          -static_cast<float>(dy) * kRadiansPerPixel);
      } else {
        const float height = static_cast<float>(std::max(1, viewportHeight));
        scene.PanCamera(-static_cast<float>(dx) / height, static_cast<float>(dy) / height);
      }
      return true;
    }
    case kInputMouseWheel:
      if (!over) return false;
      workload.EditScene().DollyCamera(std::pow(kZoomPerStep, static_cast<float>(button)));
      return true;
    case kInputKeyChar:
      if (!over || (button != 'f' && button != 'F')) return false;
      workload.EditScene().FrameCrowd();
      return true;
    default:
      return false;
  }
}

}  // namespace khost
