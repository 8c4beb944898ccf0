#include "khost/app/window_layout.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ksurface.h"

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

// A live window can be resized beyond what khost draws or captures; each
// limit is named, from the constants the checks use, and once per time the
// window goes beyond it.
TEST(KhostWindowLayout, ALiveSizeBeyondALimitIsNamedOnceUntilTheSizeIsFineAgain) {
  const ToolSize tool{800, 420, 755, 354};
  const WindowLayout start = WindowLayout::Beside(tool, 640, 420);
  EXPECT_EQ(start.LiveSizeProblem(true, true), "");
  // Drawable, but more than a PNG capture holds: said only when captured.
  const WindowLayout big = start.Resized(16384, 16384);
  EXPECT_EQ(big.LiveSizeProblem(false, false), "");
  const std::string window = big.LiveSizeProblem(true, false);
  EXPECT_NE(window.find("--window-screenshot"), std::string::npos) << window;
  EXPECT_NE(window.find("(8192x8192)"), std::string::npos) << window;
  // The tool keeps its 800 columns: 800 x 16384 is capturable.
  EXPECT_EQ(big.LiveSizeProblem(false, true), "");
  const std::string tall =
      WindowLayout::Beside(tool, 0, 0).Resized(9000, 9000).LiveSizeProblem(false, true);
  EXPECT_NE(tall.find("--screenshot"), std::string::npos) << tall;
  // Beyond the surface's largest side nothing is drawn, captured or not.
  const std::string huge = start.Resized(30000, 30000).LiveSizeProblem(false, false);
  EXPECT_NE(huge.find("30000x30000 cannot be drawn"), std::string::npos) << huge;
  EXPECT_NE(huge.find(std::to_string(kSurfaceMaxSide) + " pixels a side"), std::string::npos)
      << huge;

  // Said once per limit passed: not again for another size past the same
  // limit, again for another limit or after a size within them.
  const std::string bigger = start.Resized(16384, 16000).LiveSizeProblem(true, false);
  khost::SizeNote note;
  std::ostringstream said;
  for (const std::string& problem :
       {std::string(), window, bigger, huge, huge, std::string(), window}) {
    note.Say(problem, said);
  }
  EXPECT_EQ(said.str(), "khost: " + window + "\nkhost: " + huge + "\nkhost: " + window + "\n");
}
