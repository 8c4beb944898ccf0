#include "common/recording_graphic.h"

#include <cstring>

namespace kp_test {

IObject* RecordingGraphic::IQuery(unsigned long interfaceId, int /*reserved*/) {
  if (interfaceId == kIID_IObject || interfaceId == kIID_IObjectSelf ||
      interfaceId == kIID_IKtGraphic) {
    return this;
  }
  return nullptr;
}

void RecordingGraphic::Destroy(int /*flags*/) {}

void RecordingGraphic::SetViewport(int x, int y, int width, int height) {
  RecordCall("SetViewport", {double(x), double(y), double(width), double(height)});
}

void RecordingGraphic::DrawRectangle(float x0, float y0, float x1, float y1) {
  RecordCall("DrawRectangle", {double(x0), double(y0), double(x1), double(y1)});
}

void RecordingGraphic::BeginPrimitive(int kind) {
  RecordCall("BeginPrimitive", {double(kind)});
}

void RecordingGraphic::EndPrimitive() {
  RecordCall("EndPrimitive", {});
}

void RecordingGraphic::DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                                  int fontStyle) {
  RecordCall("DrawString",
             {double(x), double(y), double(clipLeft), double(clipRight), double(fontStyle)}, text);
}

void RecordingGraphic::MeasureString(const char* text, int fontStyle, int& width, int& height) {
  width = text ? static_cast<int>(std::strlen(text)) * kCharWidth : 0;
  height = fontStyle == kGraphic_Font_Style_Title ? kTitleHeight : kTextHeight;
}

void RecordingGraphic::PushView(int x, int y, int width, int height) {
  int ox = 0;
  int oy = 0;
  GetViewOrigin(ox, oy);
  mOrigins.push_back(Origin{ox + x, oy + y});
  RecordCall("PushView", {double(x), double(y), double(width), double(height)});
}

void RecordingGraphic::PopView() {
  if (!mOrigins.empty()) mOrigins.pop_back();
  RecordCall("PopView", {});
}

void RecordingGraphic::GetViewOrigin(int& x, int& y) {
  x = mOrigins.empty() ? 0 : mOrigins.back().X;
  y = mOrigins.empty() ? 0 : mOrigins.back().Y;
}

IObject* NullContainer::IQuery(unsigned long interfaceId, int /*reserved*/) {
  return interfaceId == kIID_IObject || interfaceId == kIID_IKtViewContainer ? this : nullptr;
}
void NullContainer::Destroy(int /*flags*/) {}
void NullContainer::ViewRefreshRequest(IKtView* /*view*/, bool /*immediate*/) {
  ++RefreshRequests;
}
bool NullContainer::PopupOpen(IKtView* /*popup*/) {
  return false;
}
void NullContainer::PopupClose(IKtView* /*popup*/) {}

}  // namespace kp_test
