#include "khost/app/window_layout.h"

#include <algorithm>
#include <string>

#include "khost/cli/cli.h"
#include "khost/cli/cli_values.h"
#include "ksurface.h"

namespace khost {

namespace {

constexpr int kMaxSide = kSurfaceMaxSide;

std::string SizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

Result<ToolSize> ChooseToolSize(std::optional<int> askedWidth, std::optional<int> askedHeight,
                                const ToolSizes& tool) {
  ToolSize size;
  size.Width = askedWidth ? *askedWidth : tool.StartWidth;
  size.Height = askedHeight ? *askedHeight : tool.StartHeight;
  if (const std::string problem = SizeProblem(size.Width, size.Height); !problem.empty()) {
    return Failure("the tool asks for an unusable start size: " + problem);
  }
  // Below its minimum the tool would hide controls; a start size below it
  // grows to it, an asked size below it is refused.
  size.MinWidth = std::clamp(tool.MinWidth, 1, kMaxSide);
  size.MinHeight = std::clamp(tool.MinHeight, 1, kMaxSide);
  if (askedWidth && (size.Width < size.MinWidth || size.Height < size.MinHeight)) {
    return BadInput("--size " + std::to_string(size.Width) + "x" + std::to_string(size.Height) +
                    " is below the tool's minimum size " + std::to_string(size.MinWidth) + "x" +
                    std::to_string(size.MinHeight));
  }
  size.Width = std::max(size.Width, size.MinWidth);
  size.Height = std::max(size.Height, size.MinHeight);
  return size;
}

WindowLayout WindowLayout::Beside(const ToolSize& tool, int viewportWidth, int viewportHeight) {
  WindowLayout layout;
  layout.mWithViewport = viewportWidth > 0 && viewportHeight > 0;
  if (!layout.mWithViewport) viewportWidth = viewportHeight = 0;
  layout.mAskedToolWidth = tool.Width;
  layout.mViewport = {0, 0, viewportWidth, viewportHeight};
  layout.mTool = {viewportWidth, 0, tool.Width, tool.Height};
  layout.mWindowWidth = viewportWidth + tool.Width;
  layout.mWindowHeight = std::max(viewportHeight, tool.Height);
  return layout;
}

Status WindowLayout::CheckWindow(bool captured) const {
  if (mWindowWidth > kMaxSide) {
    return BadInput("--viewport " + std::to_string(mViewport.Width) + "x" +
                    std::to_string(mViewport.Height) + " beside the tool's " +
                    std::to_string(mTool.Width) + " pixels makes a window " +
                    std::to_string(mWindowWidth) + " wide, more than " + std::to_string(kMaxSide));
  }
  if (const std::string problem = SizeProblem(mWindowWidth, mWindowHeight);
      captured && !problem.empty()) {
    return BadInput("--window-screenshot: the whole window's " + problem);
  }
  return {};
}

WindowLayout WindowLayout::Resized(int windowWidth, int windowHeight) const {
  WindowLayout layout = *this;
  const int toolWidth = mWithViewport ? std::min(mAskedToolWidth, windowWidth) : windowWidth;
  const int viewportWidth = mWithViewport ? windowWidth - toolWidth : 0;
  layout.mWindowWidth = windowWidth;
  layout.mWindowHeight = windowHeight;
  layout.mViewport = {0, 0, viewportWidth, mWithViewport ? windowHeight : 0};
  layout.mTool = {viewportWidth, 0, toolWidth, windowHeight};
  return layout;
}

float WindowLayout::ViewportAspect() const {
  if (mViewport.Width <= 0 || mViewport.Height <= 0) return 0.0f;
  return static_cast<float>(mViewport.Width) / static_cast<float>(mViewport.Height);
}

bool WindowLayout::LeavesGaps() const {
  const bool viewportFills = mViewport.Width == 0 || mViewport.Height >= mWindowHeight;
  return !viewportFills || mTool.Height < mWindowHeight ||
         mViewport.Width + mTool.Width < mWindowWidth;
}

std::string WindowLayout::LiveSizeProblem(bool windowCaptured, bool toolCaptured) const {
  if (mWindowWidth > kMaxSide || mWindowHeight > kMaxSide) {
    return "the window's new size " + SizeText(mWindowWidth, mWindowHeight) +
           " cannot be drawn: the surface takes at most " + std::to_string(kMaxSide) +
           " pixels a side";
  }
  const std::string end = "; make the window smaller before the run ends";
  if (const std::string problem = SizeProblem(mWindowWidth, mWindowHeight);
      windowCaptured && !problem.empty()) {
    return "--window-screenshot cannot capture the window: its " + problem + end;
  }
  if (const std::string problem = SizeProblem(mTool.Width, mTool.Height);
      toolCaptured && !problem.empty()) {
    return "--screenshot cannot capture the tool: its " + problem + end;
  }
  return "";
}

void SizeNote::Say(const std::string& problem, std::ostream& out) {
  // The problem without its numbers: which limit, not which size.
  std::string limit;
  for (char c : problem) {
    if (c < '0' || c > '9') limit += c;
  }
  if (!limit.empty() && limit != mSaid) out << "khost: " << problem << "\n";
  mSaid = limit;
}

}  // namespace khost
