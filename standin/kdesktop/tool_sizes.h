// The stand-in tool framework's own sizing rules, which KTool's
// ToolGetMinWSize and ToolGetMinHSize apply to every tool: a tool is never
// smaller than the floor, every control of its layouts is fully shown, and
// every drawing view (a view that paints its whole rectangle itself) gets at
// least the drawing area below.
#pragma once

namespace kdesktop {

inline constexpr int kToolFloorWidth = 200;
inline constexpr int kToolFloorHeight = 150;
inline constexpr int kDrawingViewMinWidth = 512;
inline constexpr int kDrawingViewMinHeight = 128;

}  // namespace kdesktop
