// A record of drawing calls for unit tests of painting code.
//
// Two sources append to one shared log, so a test sees their relative order:
//   - gl_recorder.cpp defines the immediate-mode OpenGL entry points the
//     module uses (glMatrixMode, glLoadIdentity, glColor3ub/3f/3d, glRectd,
//     glVertex2d) and the toolkit's two text helpers. Linked into a test
//     executable, these definitions take precedence over the real libraries'.
//   - RecordingGraphic (recording_graphic.h), an IKtGraphic that records its
//     drawing calls.
#pragma once

#include <string>
#include <vector>

namespace kp_test {

struct RecordedCall {
  std::string Name;          // "glColor3f", "DrawRectangle", "DrawString", ...
  std::vector<double> Args;  // numeric arguments in call order
  std::string Text;          // the text of DrawString and the text helpers
};

std::vector<RecordedCall>& CallLog();
void ClearCallLog();
void RecordCall(const char* name, std::vector<double> args, const char* text = nullptr);

// Calls named `name`, in log order.
std::vector<RecordedCall> CallsNamed(const std::vector<RecordedCall>& log, const std::string& name);
// "Name arg arg ... 'text'" with arguments printed as %g: compact text for
// comparing call sequences.
std::string Describe(const RecordedCall& call);
std::vector<std::string> Describe(const std::vector<RecordedCall>& calls);

// Index of the first call named `name` at or after `from`; -1 when none.
int FindCall(const std::vector<RecordedCall>& log, const std::string& name, int from = 0);

}  // namespace kp_test
