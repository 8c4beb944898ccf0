// The live window's events as InputSink routes them between the viewport's
// camera and the toolkit: what the tool began ends wherever the pointer is
// released, and a click outside an open drop-down closes it even over the
// viewport.
#include "khost/input/input_sink.h"

#include <gtest/gtest.h>

#include <memory>

#include "khost/base/thread_pool.h"
#include "khost/runtime/model.h"
#include "khost/scene/camera_control.h"
#include "khost/scene/workload.h"
#include "toolkit/fake_graphic.h"

namespace {

using namespace khost;

constexpr int kToolX = 640;  // the viewport is the window's left 640 x 420
constexpr int kHeight = 420;

// One triangle on one node: enough for the camera to take viewport input.
std::shared_ptr<const Model> Triangle() {
  Model m;
  m.Nodes.push_back({"root", -1, {}, {}, {1, 1, 1}});
  SkinVertex v;
  v.Weights[0] = 1.0f;
  m.Vertices = {v, v, v};
  m.Vertices[1].Position = {1, 0, 0};
  m.Vertices[2].Position = {0, 1, 0};
  m.Indices = {0, 1, 2};
  m.Meshes.push_back({"m", 0, 3, 0, 3, {0.8f, 0.8f, 0.8f}});
  EXPECT_TRUE(SanitizeModel(m, nullptr));
  return std::make_shared<const Model>(std::move(m));
}

// The window: the viewport and, right of it, a tool holding a scroll bar
// (at 283, 85 of the tool, 17 x 315, showing 330 of 531) and a drop-down
// (at 100, 50, 90 x 15).
class WindowInput : public ::testing::Test {
 protected:
  WindowInput() : host(&graphic), bar(1), list(1), workload(pool, Triangle(), 1), sink(host) {
    bar.MinimumSet(0.0);
    bar.MaximumSet(531.0);
    bar.SliderSet(0.0, 330.0);
    list.Items = "DisplayAll~Evaluation~Rendering~Devices";
    root.AddRegion("Bar", nullptr, 283, kLayoutAttachLeft, nullptr, 1.0f, 85, kLayoutAttachTop,
                   nullptr, 1.0f, 17, kLayoutAttachNone, nullptr, 1.0f, 315, kLayoutAttachNone,
                   nullptr, 1.0f);
    root.SetControl("Bar", bar);
    root.AddRegion("List", nullptr, 100, kLayoutAttachLeft, nullptr, 1.0f, 50, kLayoutAttachTop,
                   nullptr, 1.0f, 90, kLayoutAttachNone, nullptr, 1.0f, 15, kLayoutAttachNone,
                   nullptr, 1.0f);
    root.SetControl("List", list);
    host.SetRoot(&root, 300, kHeight);
    host.Expose();
    sink.ToolX = kToolX;
    sink.ViewportHeight = kHeight;
    sink.Camera = &camera;
    sink.Scene = &workload;
  }
  ~WindowInput() override { host.SetRoot(nullptr, 0, 0); }

  void Send(int event, int x, int y, int button = 0) { sink.SurfaceInput(event, x, y, button, 0); }
  // How far the camera has moved since `from`.
  float CameraMoved(const Vec3& from) {
    return Length(workload.GetScene().GetCamera().Position - from);
  }

  FakeGraphic graphic;
  KtViewHost host;
  KtLayout root;
  KtScrollBar bar;
  KtList list;
  ThreadPool pool{1};
  Workload workload;
  CameraControl camera;
  InputSink sink;
};

TEST_F(WindowInput, AScrollBarDragReleasedOverTheViewportEndsThere) {
  const Vec3 start = workload.GetScene().GetCamera().Position;
  // Grab the slider and drag it down; the drag goes on over the viewport.
  Send(kInputMouseDown, kToolX + 290, 100);
  Send(kInputMouseMove, kToolX + 290, 150);
  const double dragged = bar.SliderStartGet();
  EXPECT_GT(dragged, 0.0);
  Send(kInputMouseMove, 300, 250);
  EXPECT_GT(bar.SliderStartGet(), dragged);
  Send(kInputMouseUp, 300, 250);
  // Released: moving anywhere, with no button held, scrolls nothing.
  const double released = bar.SliderStartGet();
  for (const int y : {90, 200, 390}) {
    Send(kInputMouseMove, kToolX + 290, y);
    EXPECT_EQ(bar.SliderStartGet(), released) << "over the tool at y " << y;
    Send(kInputMouseMove, 100, y);
    EXPECT_EQ(bar.SliderStartGet(), released) << "over the viewport at y " << y;
  }
  // None of it was the camera's, and the camera's own drag still orbits
  // without touching the bar.
  EXPECT_EQ(CameraMoved(start), 0.0f);
  Send(kInputMouseDown, 100, 100);
  Send(kInputMouseMove, 160, 120);
  Send(kInputMouseUp, 160, 120);
  EXPECT_GT(CameraMoved(start), 0.1f);
  EXPECT_EQ(bar.SliderStartGet(), released);
}

TEST_F(WindowInput, AClickInTheViewportClosesAnOpenDropDown) {
  Send(kInputMouseDown, kToolX + 120, 55);
  Send(kInputMouseUp, kToolX + 120, 55);
  ASSERT_TRUE(list.IsOpen());
  host.Expose();
  const Vec3 start = workload.GetScene().GetCamera().Position;
  // The click closes it, chooses nothing, and begins no orbit.
  Send(kInputMouseDown, 300, 200);
  EXPECT_FALSE(list.IsOpen());
  EXPECT_EQ(host.GetPopup(), nullptr);
  EXPECT_EQ(list.SelectedIndex.Get(), 0);
  Send(kInputMouseMove, 360, 240);
  Send(kInputMouseUp, 360, 240);
  EXPECT_EQ(CameraMoved(start), 0.0f);
  // With nothing open, the next click is the viewport's again.
  Send(kInputMouseDown, 300, 200);
  Send(kInputMouseMove, 360, 240);
  Send(kInputMouseUp, 360, 240);
  EXPECT_GT(CameraMoved(start), 0.1f);
}

}  // namespace
