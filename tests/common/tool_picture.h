// The tool window in one fixed profiler state, painted with the stand-in's
// OpenGL graphic context on a headless surface: the same code on Linux and
// on Windows, so that the two builds' pictures can be set side by side.
//
// Two paints of the same state: one without text (every rectangle, band,
// bar, line and scroll bar, but no glyph), which must match between the
// platforms pixel for pixel, and one with text, for a person to look at.
// The text lines are recorded with their window positions.
//
// Threads: the test's main thread, which the surface's context is made
// current on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/kbaselib.h"

namespace kptest {

constexpr int kPictureWidth = 800;
constexpr int kPictureHeight = 420;

// Fills the profiler's twelve root cycles and its cost sampling with fixed
// samples and turns profiling on; puts everything back when destroyed.
class PictureState {
 public:
  PictureState();
  ~PictureState();
  PictureState(const PictureState&) = delete;
  PictureState& operator=(const PictureState&) = delete;

 private:
  std::vector<std::unique_ptr<KProfilingSampling>> mCycles;
};

struct ToolPicture {
  int Width = 0;
  int Height = 0;
  std::vector<unsigned char> Shapes;  // RGBA, top row first: the paint without text
  std::vector<unsigned char> Full;    // RGBA, top row first: the paint with text
  // One entry per line of text drawn: "x y text", window pixels of the
  // line's left end and vertical middle.
  std::vector<std::string> Texts;
};

// Attaches `window` (a tool window's root interface, borrowed) to a view host
// at kPictureWidth × kPictureHeight and paints it twice. False, with a
// reason in *error, when no surface or graphic context can be had.
bool PaintToolPicture(IObject* window, ToolPicture& picture, std::string* error);

// Where two pictures of the same size differ: the number of pixels and the
// first of them. 0 when they are the same.
int CountDifferentPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                         int width, int& firstX, int& firstY);

// The first difference between two lists of recorded lines, or "" when
// they hold the same texts in the same order at the same columns, each row
// within `rowTolerance` pixels (a font's line height moves a block's second
// line).
std::string FirstTextDifference(const std::vector<std::string>& actual,
                                const std::vector<std::string>& expected, int rowTolerance);

// The recorded lines as a text file's contents (one per line) and back.
std::string JoinLines(const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace kptest
