// Full paints with real OpenGL: the stand-in's graphic context on a headless
// surface, read back as pixels; and a paint's heap allocations counted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/allocation_counter.h"
#include "display/profiling_draw_view.h"
#include "display_test_support.h"
#include "host/ktoolkit.h"
#include "ksurface.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/viewhost.h"

namespace kp_test {
namespace {

struct Rgb {
  int R, G, B;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "(" << c.R << ", " << c.G << ", " << c.B << ")";
}

::testing::AssertionResult Near(const Rgb& actual, const Rgb& expected) {
  auto close = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
  if (close(actual.R, expected.R) && close(actual.G, expected.G) && close(actual.B, expected.B)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << actual << " instead of " << expected;
}

// A headless surface with the stand-in's graphic context and a view host
// showing one drawing view.
class RenderTest : public ::testing::Test {
 protected:
  void Open(int width, int height) {
    std::string error;
    surface = KSurface_CreateHeadless(width, height, &error);
    ASSERT_NE(surface, nullptr) << error;
    graphic = KtGraphic_CreateGL(width, height, &error);
    ASSERT_NE(graphic, nullptr) << error;
    host = std::make_unique<KtViewHost>(graphic);
    host->SetRoot(static_cast<IKtView*>(&view), width, height);
  }
  void TearDown() override {
    if (host) host->SetRoot(nullptr, 0, 0);
    host.reset();
    if (graphic) graphic->Destroy(0);
  }
  void Read() {
    ASSERT_TRUE(surface->ReadPixels(pixels));
    ASSERT_EQ(pixels.size(), size_t(surface->Width()) * size_t(surface->Height()) * 4);
  }
  Rgb At(int x, int y) const {
    const size_t i = (size_t(y) * size_t(surface->Width()) + size_t(x)) * 4;
    return Rgb{pixels[i], pixels[i + 1], pixels[i + 2]};
  }

  ProfilerScope profiler;
  KtProfilingDrawView view;
  std::unique_ptr<KSurface> surface;
  IKtGraphic* graphic = nullptr;
  std::unique_ptr<KtViewHost> host;
  std::vector<unsigned char> pixels;
};

const Rgb kGrey{128, 128, 128};
const Rgb kDark{68, 68, 68};

TEST_F(RenderTest, PaintShowsHeaderBandAndBarsWhereTheGeometryPutsThem) {
  // Slot 1 against its own average: shares 0.5, 1 and 1.5. With a view 800
  // wide the bar scale is 156, so the zero line is at 20 + 312 = 332: the
  // bar covers x 332 to 488 and y 95 to 110, the band x 410 to 566 and y 100
  // to 105.
  auto upper = MakeSampling("Upper", {5000, 10000, 15000}, 1.0f, 0.0f, 0.0f);
  auto devices = MakeSampling("Devices", {16666.7}, 0.0f, 0.0f, 1.0f);
  KProfiler::TheOne()->RootCycles[1] = upper.get();
  KProfiler::TheOne()->RootCycles[0] = devices.get();
  Open(800, 420);
  host->Expose();
  Read();

  EXPECT_TRUE(Near(At(700, 10), kGrey)) << "header strip";
  EXPECT_TRUE(Near(At(700, 75), kGrey)) << "header strip";
  for (int y = 80; y < 85; ++y) EXPECT_TRUE(Near(At(400, y), kDark)) << "band row " << y;
  EXPECT_TRUE(Near(At(400, 87), kGrey)) << "background under the band";

  EXPECT_TRUE(Near(At(340, 97), Rgb{255, 0, 0})) << "average bar";
  EXPECT_TRUE(Near(At(480, 108), Rgb{255, 0, 0})) << "average bar";
  EXPECT_TRUE(Near(At(450, 102), Rgb{128, 0, 0})) << "band over the bar";
  EXPECT_TRUE(Near(At(550, 102), Rgb{128, 0, 0})) << "band past the bar's end";
  EXPECT_TRUE(Near(At(550, 97), kGrey)) << "right of the bar";
  EXPECT_TRUE(Near(At(320, 97), kGrey)) << "left of the zero line";
  // The devices row in millisecond mode (share just above 1, 156 pixels),
  // below the upper row and its separator.
  EXPECT_TRUE(Near(At(400, 120), Rgb{0, 0, 255})) << "lower block row at 115";
}

TEST_F(RenderTest, RowsScrolledAboveTheBandAreCovered) {
  auto upper = MakeSampling("Upper", {10000}, 1.0f, 0.0f, 0.0f);
  auto second = MakeSampling("Second", {10000}, 0.0f, 0.0f, 1.0f);
  std::unique_ptr<KProfilingSampling> lower[4];
  KProfiler::TheOne()->RootCycles[1] = upper.get();
  KProfiler::TheOne()->RootCycles[2] = second.get();
  const int lowerSlots[] = {3, 4, 5, 8};
  for (int i = 0; i < 4; ++i) {
    lower[i] = MakeSampling("L", {1000});
    KProfiler::TheOne()->RootCycles[lowerSlots[i]] = lower[i].get();
  }
  Open(600, 150);
  host->Expose();
  view.ScrollValueChanged(30.0f);
  host->Expose();
  ASSERT_EQ(view.GetScrollPosition(), 30);
  Read();

  // Top 60: the first row (65 to 80) lies under the strip, the second (80 to
  // 95) shows below the band only.
  EXPECT_TRUE(Near(At(300, 70), kGrey));
  EXPECT_TRUE(Near(At(300, 82), kDark));
  EXPECT_TRUE(Near(At(300, 88), Rgb{0, 0, 255}));
}

TEST_F(RenderTest, PaintAllocatesNoHeapMemory) {
  // A chart of more than a thousand rows: slot 3 with 1200 children, drawn
  // with child rows on, in both label modes, with numbers that change
  // between paints.
  std::vector<std::unique_ptr<KProfilingSampling>> cycles;
  for (int slot : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11}) {
    cycles.push_back(MakeSampling("Root cycle " + std::to_string(slot), {1000.0 + slot}));
    KProfiler::TheOne()->RootCycles[slot] = cycles.back().get();
  }
  auto parent = MakeSampling("Parent", {8000});
  KProfiler::TheOne()->RootCycles[3] = parent.get();
  for (int i = 0; i < 1200; ++i) {
    cycles.push_back(MakeSampling(std::string(static_cast<size_t>(i % 40 + 1), 'c') + "hild",
                                  {5.0 + i}, float(i % 7) / 7.0f, 0.5f, 1.0f));
    KProfilingSampling_AddChild(*parent, 1, cycles.back().get());
  }
  KProfiler::TheOne()->EvaluationDepth = 1;
  KProfilingSampling_AddSample(KProfiler::TheOne()->ProfilingCost, 250);

  Open(900, 500);
  for (int i = 0; i < 3; ++i) host->Expose();  // glyph atlases and first-use set-up

  long total = 0;
  for (int frame = 0; frame < 60; ++frame) {
    KProfiler::TheOne()->FrameReference = frame % 2 == 0;
    for (size_t i = 0; i < cycles.size(); i += 7) {
      KProfilingSampling_AddSample(*cycles[i], 100.0 * frame + static_cast<double>(i) * 1.37);
    }
    KProfilingSampling_AddSample(KProfiler::TheOne()->ProfilingCost, 100.0 + frame);
    view.ScrollValueChanged(static_cast<float>(frame * 11));
    ArmAllocationCounter();
    host->Expose();
    total += DisarmAllocationCounter();
  }
  EXPECT_GT(view.GetChartHeight(), 1000 * 15);
  EXPECT_EQ(total, 0) << (CountsMalloc() ? "operator new and malloc" : "operator new")
                      << " calls during 60 paints";

  // The counter does see allocations, so a zero above means something.
  ArmAllocationCounter();
  auto probe = std::make_unique<int>(1);
  EXPECT_GE(DisarmAllocationCounter(), 1);
}

TEST_F(RenderTest, SkippingOffViewDrawingLeavesATallScrolledChartUnchanged) {
  // About 700 rows three levels deep, bars past the view's right edge,
  // scrolled to the top, to a row boundary, mid-row and to the end, in both
  // label modes: every pixel as the graphic context draws with the skip off.
  std::vector<std::unique_ptr<KProfilingSampling>> cycles;
  for (int slot : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11}) {
    cycles.push_back(MakeSampling("Root \xc3\x85 " + std::to_string(slot), {900.0 + 40 * slot},
                                  0.1f * slot, 0.6f, 0.3f));
    KProfiler::TheOne()->RootCycles[slot] = cycles.back().get();
  }
  auto parent = MakeSampling("Parent", {8000});
  KProfiler::TheOne()->RootCycles[3] = parent.get();
  for (int i = 0; i < 120; ++i) {
    cycles.push_back(MakeSampling("Child gj " + std::to_string(i), {20.0 + 3 * i, 400.0 + i},
                                  float(i % 5) / 5.0f, 0.9f, 0.2f));
    KProfilingSampling* child = cycles.back().get();
    KProfilingSampling_AddChild(*parent, 1, child);
    for (int k = 0; k < 4; ++k) {
      cycles.push_back(MakeSampling(std::string(static_cast<size_t>(k * 9 + 1), 'W'),
                                    {5.0 + k + i, 2500.0 * k}, 1.0f, 0.3f, float(k) / 4.0f));
      KProfilingSampling_AddChild(*child, 1, cycles.back().get());
    }
  }
  KProfiler::TheOne()->EvaluationDepth = 1;
  Open(640, 330);

  auto paint = [&](bool skip) {
    KtGraphic_SetSkipOffViewGL(graphic, skip);
    host->Expose();
    std::vector<unsigned char> frame;
    EXPECT_TRUE(surface->ReadPixels(frame));
    return frame;
  };
  for (bool percent : {true, false}) {
    KProfiler::TheOne()->FrameReference = percent;
    for (float scroll : {0.0f, 150.0f, 4321.5f, 1.0e7f}) {
      SCOPED_TRACE(testing::Message() << "percent " << percent << ", scroll " << scroll);
      view.ScrollValueChanged(scroll);
      host->Expose();  // the scroll range follows the chart one paint later
      host->Expose();
      const int position = view.GetScrollPosition();
      const std::vector<unsigned char> skipped = paint(true);
      const std::vector<unsigned char> everything = paint(false);
      EXPECT_EQ(view.GetScrollPosition(), position);
      ASSERT_EQ(skipped.size(), everything.size());
      size_t differing = 0;
      for (size_t i = 0; i < skipped.size(); ++i) differing += skipped[i] != everything[i];
      EXPECT_EQ(differing, 0u) << "bytes differ";
      pixels = skipped;
      int barPixels = 0;  // right of the zero line at x 270, below the band
      for (int y = 90; y < 330; ++y) {
        for (int x = 272; x < 600; ++x) barPixels += !Near(At(x, y), kGrey);
      }
      EXPECT_GT(barPixels, 500);
    }
  }
  EXPECT_GT(view.GetChartHeight(), 600 * 15);
  KtGraphic_SetSkipOffViewGL(graphic, true);
}

}  // namespace
}  // namespace kp_test
