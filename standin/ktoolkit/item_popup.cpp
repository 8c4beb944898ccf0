// The item popup a drop-down opens: its rows in the grey theme, picked with
// the pointer or the keys.
#include "item_popup.h"

#include <algorithm>
#include <climits>

#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

using kt_theme::F;
using kt_theme::Grey;
using kt_theme::Outline;

}  // namespace

//-----------------------------------------------------------------------------
// KtItemPopup
//-----------------------------------------------------------------------------

KtItemPopup::KtItemPopup(IKtItemPopupSource* source) : KtView(0), mSource(source) {}

KtItemPopup::~KtItemPopup() {
  // The owner closes the popup first; this only guards a forgotten close so
  // the window never keeps a pointer to a dead view.
  if (mOpenedOn) {
    IKtViewContainer* container = mOpenedOn;
    mOpenedOn = nullptr;
    container->PopupClose(this);
  }
}

void KtItemPopup::Destroy(int /*flags*/) {}

bool KtItemPopup::Open(IKtViewContainer* container, int x, int y, int width, int height,
                       int rowHeight) {
  if (IsOpen()) Close();
  const int count = mSource->PopupItemCount();
  if (!container || count <= 0) return false;
  mRowHeight = std::max(1, rowHeight);
  const long long total = static_cast<long long>(count) * mRowHeight;
  SetPos(x, y + height);
  SetSize(std::max(width, 1), static_cast<int>(std::min<long long>(total, INT_MAX)));
  mHover = mSource->PopupSelected();
  mOpenedOn = container;
  if (!container->PopupOpen(static_cast<IKtView*>(this))) {
    mOpenedOn = nullptr;
    return false;
  }
  return true;
}

void KtItemPopup::Close() {
  if (!mOpenedOn) return;
  IKtViewContainer* container = mOpenedOn;
  container->PopupClose(static_cast<IKtView*>(this));
  // A container that did not detach the popup on close still ends it here.
  if (mOpenedOn) Detach(container);
}

void KtItemPopup::Detach(IKtViewContainer* container) {
  const bool wasOpen = mOpenedOn != nullptr;
  mOpenedOn = nullptr;
  KtView::Detach(container);
  if (wasOpen) mSource->PopupClosed();
}

int KtItemPopup::RowAt(int windowY) const {
  int x = 0, y = 0, w = 0, h = 0;
  if (!KtView_GetWindowRect(*this, x, y, w, h) || windowY < y) return -1;
  const int row = (windowY - y) / mRowHeight;
  return row < mSource->PopupItemCount() ? row : -1;
}

void KtItemPopup::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!IsOpen() || !KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  const float w = F(GetWidth());
  const float h = F(GetHeight());
  Grey(kt_theme::kField);
  g->DrawRectangle(0.0f, 0.0f, w, h);
  const int count = mSource->PopupItemCount();
  for (int i = 0; i < count; ++i) {
    const float top = F(i * mRowHeight);
    if (i == mHover) {
      Grey(kt_theme::kHighlight);
      g->DrawRectangle(1.0f, top, w - 1.0f, top + F(mRowHeight));
    }
    const char* text = mSource->PopupItem(i);
    Grey(kt_theme::kText);
    Graphic_DrawStringFitted(g, text ? text : "", 4.0f, top + F(mRowHeight) * 0.5f,
                             GetWidth() - kt_theme::kTextGap, kGraphic_Font_Style_Regular);
  }
  Grey(kt_theme::kEdge);
  Outline(g, 0.0f, 0.0f, w, h);
  KtViewExposeEnd();
}

bool KtItemPopup::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  if (!IsOpen()) return false;
  const bool inside = KtView_ContainsWindowPoint(*this, x, y);
  const int count = mSource->PopupItemCount();
  switch (event) {
    case kInputMouseMove:
      if (!inside) return false;
      if (RowAt(y) != mHover) {
        mHover = RowAt(y);
        ViewRefresh(false);
      }
      return true;
    case kInputMouseDown: {
      const int row = inside ? RowAt(y) : -1;
      Close();
      // The pick comes last: its handlers may do anything, this popup included.
      if (row >= 0 && button == 0) mSource->PopupPicked(row);
      return true;
    }
    case kInputMouseUp:
      return inside;
    case kInputMouseWheel:
      if (!inside) return false;
      mHover = std::clamp(mHover - button, 0, std::max(0, count - 1));
      ViewRefresh(false);
      return true;
    case kInputKeyDown:
      if (button == kKeyUp || button == kKeyDown) {
        const int step = button == kKeyUp ? -1 : 1;
        mHover = std::clamp(mHover + step, 0, std::max(0, count - 1));
        ViewRefresh(false);
      } else if (button == kKeyEnter) {
        const int row = mHover;
        Close();
        if (row >= 0 && row < count) mSource->PopupPicked(row);
      } else if (button == kKeyEscape) {
        Close();
      }
      return true;
    case kInputKeyChar:
      return true;
    default:
      return false;
  }
}
