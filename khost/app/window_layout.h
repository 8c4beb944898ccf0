// The window's layout: the 3D viewport on the left, the tool window beside
// it on the right, both from the window's top edge. Worked out here only,
// for the window khost asks for and for every size the window takes later.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "khost/base/status.h"
#include "khost/setup/module_bridge.h"

namespace khost {

struct PixelRect {
  int X = 0;  // window pixels from the top-left
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

struct ToolSize {
  int Width = 0;
  int Height = 0;
  int MinWidth = 0;  // the tool's minimum, 1 to 16384 a side
  int MinHeight = 0;
};

// The tool's size: the one asked for (--size, both or neither), else the
// tool's start size grown to its minimum. A size that cannot be drawn is a
// failure; an asked size below the tool's minimum is bad input.
Result<ToolSize> ChooseToolSize(std::optional<int> askedWidth, std::optional<int> askedHeight,
                                const ToolSizes& tool);

class WindowLayout {
 public:
  WindowLayout() = default;
  // The window for a tool of `tool`'s size beside a viewport of
  // viewportWidth x viewportHeight (either 0: no viewport): as wide as both
  // and as tall as the taller.
  static WindowLayout Beside(const ToolSize& tool, int viewportWidth, int viewportHeight);
  // Whether the window can be drawn; when `captured`, whether it can also be
  // captured whole. Bad input otherwise, naming the flag at fault.
  Status CheckWindow(bool captured) const;

  // The same window at a new size: the tool keeps the width it was given
  // (as much of it as the window has) and takes the window's height; the
  // viewport takes the rest.
  WindowLayout Resized(int windowWidth, int windowHeight) const;

  int WindowWidth() const { return mWindowWidth; }
  int WindowHeight() const { return mWindowHeight; }
  const PixelRect& Viewport() const { return mViewport; }
  const PixelRect& Tool() const { return mTool; }
  // Width over height of the viewport; 0 when it has no area.
  float ViewportAspect() const;
  // Whether some of the window lies outside both the viewport and the tool.
  bool LeavesGaps() const;
  // What a live window of this size cannot do, naming the limit, or empty:
  // be drawn (a side beyond the surface's largest), or be captured at the
  // end as PNG, whole (`windowCaptured`) or the tool's part
  // (`toolCaptured`).
  std::string LiveSizeProblem(bool windowCaptured, bool toolCaptured) const;

 private:
  int mWindowWidth = 0;
  int mWindowHeight = 0;
  PixelRect mViewport;
  PixelRect mTool;
  int mAskedToolWidth = 0;
  bool mWithViewport = false;
};

// Says a live window's size problem once: again only when the size passes
// another limit or came back within the limits in between, so a window
// dragged beyond a limit is not named at every resize event.
class SizeNote {
 public:
  // `problem` is the new size's (empty: none).
  void Say(const std::string& problem, std::ostream& out);

 private:
  std::string mSaid;  // the limit last said, or empty
};

}  // namespace khost
