// A recording IKtGraphic for toolkit tests. PushView/PopView/GetViewOrigin
// keep a real origin stack, so views record true window rectangles and hit
// testing works as on screen; drawing calls are recorded in window pixels.
#pragma once

#include <string>
#include <vector>

#include "host/ktoolkit.h"

class FakeGraphic final : public IKtGraphic {
 public:
  struct Rect {
    int X, Y, Width, Height;
  };
  struct Box {
    float X0, Y0, X1, Y1;  // window pixels
  };
  struct Text {
    std::string Value;
    float X, Y;  // window pixels
  };

  FakeGraphic() { mStack.push_back({0, 0, 0, 0}); }
  virtual ~FakeGraphic() = default;

  IObject* IQuery(unsigned long id, int) override {
    return (id == kIID_IObject || id == kIID_IKtGraphic) ? this : nullptr;
  }
  void Destroy(int) override {}

  void SetViewport(int, int, int, int) override { ++Viewports; }
  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    ++Rectangles;
    if (Recording)
      Filled.push_back({x0 + static_cast<float>(Origin().X), y0 + static_cast<float>(Origin().Y),
                        x1 + static_cast<float>(Origin().X), y1 + static_cast<float>(Origin().Y)});
  }
  void BeginPrimitive(int) override { ++Primitives; }
  void EndPrimitive() override {}
  void DrawString(const char* text, float x, float y, int, int, int) override {
    if (Recording) Texts.push_back({text ? text : "", x + Origin().X, y + Origin().Y});
  }
  // Seven pixels per character, twelve high: enough to place text.
  void MeasureString(const char* text, int, int& width, int& height) override {
    width = 0;
    for (const char* p = text; p && *p; ++p) width += 7;
    height = 12;
  }
  void PushView(int x, int y, int width, int height) override {
    const Rect& top = mStack.back();
    mStack.push_back({top.X + x, top.Y + y, width, height});
    if (Recording) Pushed.push_back(mStack.back());
  }
  void PopView() override {
    if (mStack.size() > 1)
      mStack.pop_back();
    else
      ++UnbalancedPops;
  }
  void GetViewOrigin(int& x, int& y) override {
    x = Origin().X;
    y = Origin().Y;
  }

  int Depth() const { return static_cast<int>(mStack.size()) - 1; }
  const Rect& Origin() const { return mStack.back(); }
  bool DrewText(const std::string& text) const {
    for (const Text& t : Texts)
      if (t.Value == text) return true;
    return false;
  }
  void Clear() {
    Texts.clear();
    Pushed.clear();
    Filled.clear();
    Rectangles = Primitives = Viewports = 0;
  }

  bool Recording = true;
  std::vector<Text> Texts;
  std::vector<Rect> Pushed;  // every view entered, in window pixels
  std::vector<Box> Filled;   // every rectangle drawn
  int Rectangles = 0;
  int Primitives = 0;
  int Viewports = 0;
  int UnbalancedPops = 0;

 private:
  std::vector<Rect> mStack;
};

// A container that counts what its views ask for and keeps one popup.
class RecordingContainer final : public IKtViewContainer {
 public:
  virtual ~RecordingContainer() = default;
  IObject* IQuery(unsigned long id, int) override {
    return (id == kIID_IObject || id == kIID_IKtViewContainer) ? this : nullptr;
  }
  void Destroy(int) override {}
  void ViewRefreshRequest(IKtView* view, bool) override {
    ++Refreshes;
    LastRefreshed = view;
  }
  bool PopupOpen(IKtView* popup) override {
    Popup = popup;
    return AcceptPopups;
  }
  void PopupClose(IKtView* popup) override {
    if (popup == Popup) Popup = nullptr;
  }
  int Refreshes = 0;
  IKtView* LastRefreshed = nullptr;
  IKtView* Popup = nullptr;
  bool AcceptPopups = true;
};

// Receives numbered or property events and counts them.
class EventCounter final : public ICallback {
 public:
  virtual ~EventCounter() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void OnEvent(IRegister* sender, KEventBase*) {
    ++Count;
    LastSender = sender;
  }
  int Count = 0;
  IRegister* LastSender = nullptr;
};
