// KtItemPopup: the drop-down item list that a list control or a property
// editor opens above every other view through IKtViewContainer::PopupOpen.
// Toolkit-internal (the module never sees it); shared by ktoolkit and
// kcontrols.
#pragma once

#include <GL/gl.h>

#include "host/ktoolkit.h"

// What a popup lists and whom it tells about a pick.
class IKtItemPopupSource {
 public:
  virtual int PopupItemCount() = 0;
  virtual const char* PopupItem(int index) = 0;  // may be null: drawn empty
  virtual int PopupSelected() = 0;               // highlighted on opening
  virtual void PopupPicked(int index) = 0;       // the user clicked an item
  virtual void PopupClosed() = 0;                // the popup left the screen

 protected:
  ~IKtItemPopupSource() = default;
};

class KHOST_API KtItemPopup : public KtView {
 public:
  explicit KtItemPopup(IKtItemPopupSource* source);
  ~KtItemPopup() override;

  void Destroy(int flags) override;  // held by value: does nothing

  // Opens below the window rectangle (x, y, width, height) of the control
  // through `container`; one row per item, rowHeight pixels each. False when
  // there is nothing to show or no window takes popups.
  bool Open(IKtViewContainer* container, int x, int y, int width, int height, int rowHeight);
  void Close();
  bool IsOpen() const { return mOpenedOn != nullptr; }
  int GetRowHeight() const { return mRowHeight; }
  int GetHoverIndex() const { return mHover; }

  void ViewExpose(IKtGeometry* geometry) override;
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;
  void Detach(IKtViewContainer* container) override;

 private:
  int RowAt(int windowY) const;
  IKtItemPopupSource* mSource;
  IKtViewContainer* mOpenedOn = nullptr;
  int mRowHeight = 16;
  int mHover = -1;
};

// Colours of the toolkit's grey theme (0..255 grey levels).
namespace kt_theme {
inline constexpr unsigned char kPanel = 128;
inline constexpr unsigned char kField = 84;
inline constexpr unsigned char kFieldHover = 100;
inline constexpr unsigned char kButton = 104;
inline constexpr unsigned char kButtonHover = 122;
inline constexpr unsigned char kButtonPressed = 70;
inline constexpr unsigned char kEdge = 168;
inline constexpr unsigned char kHighlight = 60;
inline constexpr unsigned char kText = 235;
inline constexpr unsigned char kTextDim = 180;
inline constexpr unsigned char kTrack = 92;
inline constexpr unsigned char kSlider = 176;

// Sets the current GL colour to a grey level.
inline void Grey(unsigned char level) {
  glColor3ub(level, level, level);
}

inline float F(int v) {
  return static_cast<float>(v);
}

// A one-pixel outline just inside (x0, y0)-(x1, y1).
inline void Outline(IKtGraphic* g, float x0, float y0, float x1, float y1) {
  g->DrawRectangle(x0, y0, x1, y0 + 1.0f);
  g->DrawRectangle(x0, y1 - 1.0f, x1, y1);
  g->DrawRectangle(x0, y0, x0 + 1.0f, y1);
  g->DrawRectangle(x1 - 1.0f, y0, x1, y1);
}
// The keyboard-focus ring: a light blue outline one pixel inside
// (x0, y0)-(x1, y1).
inline void FocusRing(IKtGraphic* g, float x0, float y0, float x1, float y1) {
  glColor3ub(120, 180, 255);
  Outline(g, x0 + 1.0f, y0 + 1.0f, x1 - 1.0f, y1 - 1.0f);
}

// Space between a text cut to fit and what follows it.
inline constexpr int kTextGap = 3;
}  // namespace kt_theme
