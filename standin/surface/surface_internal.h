// Pieces shared by the surface implementations, and the input translation of
// windows (kept free of the window library's types so that it can be tested
// without a display).
#pragma once

#include <string>
#include <vector>

namespace ksurface {

// Sets *error (when not null) to `message`; returns false for `return Fail(...)`.
bool Fail(std::string* error, const std::string& message);

// Reads the bound read framebuffer's width × height RGBA pixels top row
// first (OpenGL returns the bottom row first).
bool ReadFramebuffer(int width, int height, std::vector<unsigned char>& rgba);

// Reverses the row order of a width × height RGBA image in place.
void FlipRows(unsigned char* rgba, int width, int height);

// GLFW key code → kKey code, or 0 for keys the toolkit has no code for.
int TranslateKey(int glfwKey);
// GLFW modifier bits → kInputModifier bits.
int TranslateModifiers(int glfwMods);
// GLFW mouse button → ViewInput button (0 left, 1 right, 2 middle), or -1.
int TranslateButton(int glfwButton);
// Window coordinates (screen units) → framebuffer pixels, for displays where
// the two differ (high-density screens).
void ScaleCursor(double cursorX, double cursorY, int windowWidth, int windowHeight,
                 int framebufferWidth, int framebufferHeight, int& x, int& y);

// Turns scroll offsets, which touchpads report in fractions, into whole
// wheel steps; the remainder waits for the next offset in the same
// direction (a reversal drops it).
class WheelAccumulator {
 public:
  int Add(double offset);

 private:
  double mRest = 0.0;
};

}  // namespace ksurface
