#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "common/call_log.h"
#include "host/ktoolkit.h"

namespace kp_test {

std::vector<RecordedCall>& CallLog() {
  static std::vector<RecordedCall> log;
  return log;
}

void ClearCallLog() {
  CallLog().clear();
}

void RecordCall(const char* name, std::vector<double> args, const char* text) {
  CallLog().push_back(RecordedCall{name, std::move(args), text ? text : ""});
}

std::vector<RecordedCall> CallsNamed(const std::vector<RecordedCall>& log,
                                     const std::string& name) {
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : log) {
    if (call.Name == name) out.push_back(call);
  }
  return out;
}

std::string Describe(const RecordedCall& call) {
  std::string out = call.Name;
  char number[64];
  for (double arg : call.Args) {
    std::snprintf(number, sizeof number, " %g", arg);
    out += number;
  }
  if (!call.Text.empty()) out += " '" + call.Text + "'";
  return out;
}

std::vector<std::string> Describe(const std::vector<RecordedCall>& calls) {
  std::vector<std::string> out;
  out.reserve(calls.size());
  for (const RecordedCall& call : calls) out.push_back(Describe(call));
  return out;
}

int FindCall(const std::vector<RecordedCall>& log, const std::string& name, int from) {
  for (int i = from < 0 ? 0 : from; i < static_cast<int>(log.size()); ++i) {
    if (log[static_cast<size_t>(i)].Name == name) return i;
  }
  return -1;
}

}  // namespace kp_test

using kp_test::RecordCall;

extern "C" {

void glMatrixMode(GLenum mode) {
  RecordCall("glMatrixMode", {static_cast<double>(mode)});
}
void glLoadIdentity() {
  RecordCall("glLoadIdentity", {});
}
void glColor3ub(GLubyte red, GLubyte green, GLubyte blue) {
  RecordCall("glColor3ub", {double(red), double(green), double(blue)});
}
void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
  RecordCall("glColor3f", {double(red), double(green), double(blue)});
}
void glColor3d(GLdouble red, GLdouble green, GLdouble blue) {
  RecordCall("glColor3d", {red, green, blue});
}
void glRectd(GLdouble x0, GLdouble y0, GLdouble x1, GLdouble y1) {
  RecordCall("glRectd", {x0, y0, x1, y1});
}
void glVertex2d(GLdouble x, GLdouble y) {
  RecordCall("glVertex2d", {x, y});
}

}  // extern "C"

// The toolkit's text helpers, recorded with their arguments. The size comes
// from the graphic context, so a RecordingGraphic's fixed sizes apply.
void Graphic_GetStringSizeVertex(IKtGraphic* graphic, char* text, int& width, int& height,
                                 kGraphic_Font_Style style) {
  width = 0;
  height = 0;
  if (graphic) graphic->MeasureString(text, style, width, height);
  RecordCall("Graphic_GetStringSizeVertex", {double(style), double(width), double(height)}, text);
}

void Graphic_DrawStringCenterVertex(IKtGraphic* /*graphic*/, char* text, double x, double y,
                                    double alignX, double alignY, double scale,
                                    kGraphic_Font_Style style) {
  RecordCall("Graphic_DrawStringCenterVertex", {x, y, alignX, alignY, scale, double(style)}, text);
}
