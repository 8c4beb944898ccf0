// Translation of window input to the toolkit's ViewInput codes.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/ktoolkit.h"
#include "surface_internal.h"

namespace {

using namespace ksurface;

TEST(WindowInput, KeysModifiersAndButtonsMapToToolkitCodes) {
  EXPECT_EQ(TranslateKey(GLFW_KEY_ENTER), kKeyEnter);
  EXPECT_EQ(TranslateKey(GLFW_KEY_KP_ENTER), kKeyEnter);
  EXPECT_EQ(TranslateKey(GLFW_KEY_ESCAPE), kKeyEscape);
  EXPECT_EQ(TranslateKey(GLFW_KEY_BACKSPACE), kKeyBackspace);
  EXPECT_EQ(TranslateKey(GLFW_KEY_UP), kKeyUp);
  EXPECT_EQ(TranslateKey(GLFW_KEY_DOWN), kKeyDown);
  EXPECT_EQ(TranslateKey(GLFW_KEY_TAB), kKeyTab);
  // Keys without a code are not reported as key-downs (typed characters
  // arrive as kInputKeyChar instead).
  EXPECT_EQ(TranslateKey(GLFW_KEY_A), 0);
  EXPECT_EQ(TranslateKey(GLFW_KEY_UNKNOWN), 0);
  // Modifiers the toolkit has no bit for are dropped, not shifted into others.
  EXPECT_EQ(TranslateModifiers(GLFW_MOD_CONTROL), kModControl);
  EXPECT_EQ(TranslateModifiers(GLFW_MOD_SHIFT | GLFW_MOD_ALT | GLFW_MOD_SUPER | GLFW_MOD_CAPS_LOCK),
            kModShift | kModAlt);
  EXPECT_EQ(TranslateButton(GLFW_MOUSE_BUTTON_LEFT), 0);
  EXPECT_EQ(TranslateButton(GLFW_MOUSE_BUTTON_RIGHT), 1);
  EXPECT_EQ(TranslateButton(GLFW_MOUSE_BUTTON_MIDDLE), 2);
  EXPECT_EQ(TranslateButton(GLFW_MOUSE_BUTTON_4), -1);
}

TEST(WindowInput, CursorPositionsBecomeFramebufferPixels) {
  int x = 0, y = 0;
  ScaleCursor(10.7, 20.2, 100, 100, 100, 100, x, y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
  // A high-density screen: two pixels per screen unit.
  ScaleCursor(10.7, 20.2, 100, 50, 200, 100, x, y);
  EXPECT_EQ(x, 21);
  EXPECT_EQ(y, 40);
  // Left of or above the window (a drag leaving it) stays outside.
  ScaleCursor(-0.5, -3.0, 100, 100, 100, 100, x, y);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -3);
  // A minimised window (zero sizes) and wild values do not divide by zero
  // or overflow.
  ScaleCursor(5.0, 6.0, 0, 0, 0, 0, x, y);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 6);
  ScaleCursor(1e30, std::numeric_limits<double>::quiet_NaN(), 100, 100, 100, 100, x, y);
  EXPECT_GT(x, 0);
  EXPECT_EQ(y, 0);
}

TEST(WindowInput, WheelFractionsAddUpToWholeSteps) {
  WheelAccumulator wheel;
  EXPECT_EQ(wheel.Add(1.0), 1);
  EXPECT_EQ(wheel.Add(-3.0), -3);
  EXPECT_EQ(wheel.Add(0.4), 0);
  EXPECT_EQ(wheel.Add(0.4), 0);
  EXPECT_EQ(wheel.Add(0.4), 1);  // 1.2: one step, 0.2 kept
  EXPECT_EQ(wheel.Add(0.8), 1);
  // A reversal forgets the remainder instead of eating into the new way.
  EXPECT_EQ(wheel.Add(0.5), 0);
  EXPECT_EQ(wheel.Add(-0.7), 0);
  EXPECT_EQ(wheel.Add(-0.3), -1);
  EXPECT_EQ(wheel.Add(std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(wheel.Add(std::nan("")), 0);
  EXPECT_EQ(wheel.Add(2.5), 2);
}

}  // namespace
