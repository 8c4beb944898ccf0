#include "khost/app/window_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using khost::ChooseToolSize;
using khost::ExitStatus;
using khost::ToolSize;
using khost::WindowLayout;

TEST(KhostWindowLayout, ResizesKeepTheToolsWidthAndGiveTheViewportTheRest) {
  const ToolSize tool{800, 420, 755, 354};
  const WindowLayout start = WindowLayout::Beside(tool, 640, 200);
  EXPECT_EQ(start.WindowWidth(), 1440);
  EXPECT_EQ(start.WindowHeight(), 420);
  EXPECT_EQ(start.Tool().X, 640);
  EXPECT_TRUE(start.LeavesGaps());  // below the short viewport

  const WindowLayout wide = start.Resized(2000, 600);
  EXPECT_EQ(wide.Tool().Width, 800);
  EXPECT_EQ(wide.Tool().Height, 600);
  EXPECT_EQ(wide.Viewport().Width, 1200);
  EXPECT_EQ(wide.Viewport().Height, 600);
  EXPECT_FLOAT_EQ(wide.ViewportAspect(), 2.0f);
  EXPECT_FALSE(wide.LeavesGaps());

  // Narrower than the tool: the viewport has nothing left and gives the
  // camera no aspect; widening again restores the tool's asked width.
  const WindowLayout narrow = wide.Resized(500, 400);
  EXPECT_EQ(narrow.Tool().X, 0);
  EXPECT_EQ(narrow.Tool().Width, 500);
  EXPECT_EQ(narrow.Viewport().Width, 0);
  EXPECT_EQ(narrow.ViewportAspect(), 0.0f);
  EXPECT_EQ(narrow.Resized(1000, 400).Tool().Width, 800);

  // Without a viewport the tool takes the whole window, whatever its size.
  const WindowLayout alone = WindowLayout::Beside(tool, 0, 300).Resized(1000, 500);
  EXPECT_EQ(alone.Tool().Width, 1000);
  EXPECT_EQ(alone.Viewport().Height, 0);
  EXPECT_FALSE(alone.LeavesGaps());
}

TEST(KhostWindowLayout, TheToolsSizeGrowsToItsMinimumUnlessAskedBelowIt) {
  const khost::ToolSizes tool{600, 300, 755, 354};
  const khost::Result<ToolSize> grown = ChooseToolSize(std::nullopt, std::nullopt, tool);
  ASSERT_TRUE(grown);
  EXPECT_EQ(grown->Width, 755);
  EXPECT_EQ(grown->Height, 354);

  const khost::Result<ToolSize> refused = ChooseToolSize(700, 500, tool);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.GetError().Code, ExitStatus::kBadInput);
  EXPECT_EQ(refused.GetError().Message, "--size 700x500 is below the tool's minimum size 755x354");

  // A tool asking for an unusable start size, or minimum sizes out of
  // range, cannot make a window beyond what can be drawn.
  EXPECT_EQ(ChooseToolSize(std::nullopt, std::nullopt, {0, 300, 1, 1}).GetError().Code,
            ExitStatus::kFailure);
  const khost::Result<ToolSize> clamped =
      ChooseToolSize(std::nullopt, std::nullopt, {600, 300, -5, 1 << 30});
  ASSERT_TRUE(clamped);
  EXPECT_EQ(clamped->MinWidth, 1);
  EXPECT_EQ(clamped->Height, 16384);

  // The whole window, tool and viewport together, must fit the drawable.
  const WindowLayout wide = WindowLayout::Beside({800, 420, 1, 1}, 16000, 100);
  EXPECT_EQ(wide.CheckWindow(false).Code(), ExitStatus::kBadInput);
  const WindowLayout big = WindowLayout::Beside({800, 8000, 1, 1}, 8000, 8000);
  EXPECT_TRUE(big.CheckWindow(false));
  EXPECT_EQ(big.CheckWindow(true).Code(), ExitStatus::kBadInput);
}

}  // namespace
