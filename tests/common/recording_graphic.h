// RecordingGraphic: an IKtGraphic that records its drawing calls in the
// shared call log (call_log.h) instead of drawing.
//
// Recorded: SetViewport, DrawRectangle, BeginPrimitive, EndPrimitive,
// DrawString (text and all arguments), PushView and PopView. MeasureString
// answers fixed sizes: 7 pixels per byte wide, 20 high in the title style
// (2) and 14 in every other. PushView, PopView and GetViewOrigin keep a real
// origin stack, so views exposed inside views get the window positions the
// toolkit would give them.
#pragma once

#include <vector>

#include "common/call_log.h"
#include "host/ktoolkit.h"

namespace kp_test {

class RecordingGraphic : public IKtGraphic {
 public:
  static constexpr int kCharWidth = 7;
  static constexpr int kTitleHeight = 20;
  static constexpr int kTextHeight = 14;

  RecordingGraphic() = default;
  virtual ~RecordingGraphic() = default;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;
  void Destroy(int flags) override;

  void SetViewport(int x, int y, int width, int height) override;
  void DrawRectangle(float x0, float y0, float x1, float y1) override;
  void BeginPrimitive(int kind) override;
  void EndPrimitive() override;
  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int fontStyle) override;
  void MeasureString(const char* text, int fontStyle, int& width, int& height) override;
  void PushView(int x, int y, int width, int height) override;
  void PopView() override;
  void GetViewOrigin(int& x, int& y) override;

  int ViewDepth() const { return static_cast<int>(mOrigins.size()); }

 private:
  struct Origin {
    int X;
    int Y;
  };
  std::vector<Origin> mOrigins;
};

// A container that counts refresh requests and refuses popups.
class NullContainer : public IKtViewContainer {
 public:
  virtual ~NullContainer() = default;
  IObject* IQuery(unsigned long interfaceId, int reserved) override;
  void Destroy(int flags) override;
  void ViewRefreshRequest(IKtView* view, bool immediate) override;
  bool PopupOpen(IKtView* popup) override;
  void PopupClose(IKtView* popup) override;
  int RefreshRequests = 0;
};

}  // namespace kp_test
