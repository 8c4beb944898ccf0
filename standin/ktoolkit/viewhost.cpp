// KtViewHost: the window's root container. It sizes and attaches one
// top-level view, paints it and then the open popup over it, and routes input
// to the popup first.
#include "standin/ktoolkit/viewhost.h"

#include <GL/gl.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "item_popup.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

IKtGeometry* GeometryOf(IKtView* view) {
  if (KtView* kt = dynamic_cast<KtView*>(view)) return static_cast<IKtGeometry*>(kt);
  return KQueryInterface<IKtGeometry>(view, kIID_IKtGeometry);
}

// The focusable controls under `view` that have been painted, in focus
// order: a layout's regions in order, except that the views a layout holds
// directly are taken in address order, which for members of one object is
// their declaration order.
void CollectFocusable(IKtView* view, std::vector<KtView*>& out, int depth) {
  if (!view || depth > 32) return;
  auto* kt = dynamic_cast<KtView*>(view);
  auto* layout = dynamic_cast<KtLayout*>(kt);
  if (!layout) {
    int x = 0, y = 0, w = 0, h = 0;
    if (kt && KtView_IsFocusable(*kt) && KtView_GetWindowRect(*kt, x, y, w, h) && w > 0 && h > 0)
      out.push_back(kt);
    return;
  }
  std::vector<IKtView*> children;
  for (int i = 0; i < KtLayout_GetRegionCount(*layout); ++i) {
    IKtView* child = KtLayout_GetRegionView(*layout, KtLayout_GetRegionName(*layout, i));
    if (child && std::find(children.begin(), children.end(), child) == children.end())
      children.push_back(child);
  }
  std::stable_sort(children.begin(), children.end(), [](IKtView* a, IKtView* b) {
    return std::less<const void*>()(dynamic_cast<const void*>(a), dynamic_cast<const void*>(b));
  });
  for (IKtView* child : children) CollectFocusable(child, out, depth + 1);
}

// The tooltip box: the whole text in a frame just below and right of the
// pointer, moved as far as needed to stay inside the window.
void PaintToolTip(IKtGraphic* g, int windowWidth, int windowHeight) {
  const char* text = KtToolTip_Shown();
  int px = 0, py = 0;
  if (!text || !KtToolTip_Anchor(px, py)) return;
  int tw = 0, th = 0;
  g->MeasureString(text, kGraphic_Font_Style_Regular, tw, th);
  const int w = tw + 10;
  const int h = th + 6;
  int x = px + 12;
  int y = py + 18;
  if (y + h > windowHeight) y = py - h - 4;  // above the pointer near the bottom
  x = std::clamp(x, 0, std::max(0, windowWidth - w));
  y = std::clamp(y, 0, std::max(0, windowHeight - h));
  const float x0 = kt_theme::F(x), y0 = kt_theme::F(y);
  const float x1 = kt_theme::F(x + w), y1 = kt_theme::F(y + h);
  glColor3ub(250, 246, 214);
  g->DrawRectangle(x0, y0, x1, y1);
  kt_theme::Grey(40);
  kt_theme::Outline(g, x0, y0, x1, y1);
  g->DrawString(text, x0 + 5.0f, (y0 + y1) * 0.5f, x, x + w - 1, kGraphic_Font_Style_Regular);
}

}  // namespace

KtViewHost::KtViewHost(IKtGraphic* graphic) : mGraphic(graphic) {}

KtViewHost::~KtViewHost() {
  if (mPopup) PopupClose(mPopup);
  if (mRoot) {
    IKtView* root = mRoot;
    mRoot = nullptr;
    root->Detach(this);
  }
}

IObject* KtViewHost::IQuery(unsigned long interfaceId, int /*reserved*/) {
  if (interfaceId == kIID_IObject || interfaceId == kIID_IObjectSelf ||
      interfaceId == kIID_IKtViewContainer)
    return static_cast<IKtViewContainer*>(this);
  return nullptr;
}

void KtViewHost::Destroy(int /*flags*/) {}

void KtViewHost::SetRoot(IKtView* view, int width, int height) {
  if (mPopup) PopupClose(mPopup);
  if (mRoot && mRoot != view) {
    IKtView* old = mRoot;
    mRoot = nullptr;
    old->Detach(this);
  }
  mWidth = width < 0 ? 0 : width;
  mHeight = height < 0 ? 0 : height;
  if (!view) {
    ViewRefreshRequest(nullptr, false);
    return;
  }
  const bool fresh = mRoot != view;
  mRoot = view;
  if (IKtGeometry* g = GeometryOf(view)) {
    g->SetPos(0, 0);
    g->SetSize(mWidth, mHeight);
  }
  if (fresh) view->Attach(this, mGraphic);
  ViewRefreshRequest(view, false);
}

void KtViewHost::Resize(int width, int height) {
  mWidth = width < 0 ? 0 : width;
  mHeight = height < 0 ? 0 : height;
  if (mRoot) {
    if (IKtGeometry* g = GeometryOf(mRoot)) g->SetSize(mWidth, mHeight);
  }
  ViewRefreshRequest(mRoot, false);
}

void KtViewHost::Expose() {
  // The whole window, whatever scissor the last paint left behind.
  glDisable(GL_SCISSOR_TEST);
  glViewport(0, 0, mWidth, mHeight);
  glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  if (!mGraphic) return;
  KtRepeat_Run();
  mGraphic->SetViewport(0, 0, mWidth, mHeight);
  if (mRoot) mRoot->ViewExpose(nullptr);
  if (mPopup) mPopup->ViewExpose(nullptr);
  if (KtToolTip_Shown()) {
    mGraphic->SetViewport(0, 0, mWidth, mHeight);
    PaintToolTip(mGraphic, mWidth, mHeight);
  }
}

bool KtViewHost::Input(int event, int x, int y, int button, int modifiers) {
  if (IKtView* popup = mPopup) {
    if (popup->ViewInput(event, x, y, button, modifiers)) return true;
    // A click that the popup did not take lands outside it: it closes the
    // popup and goes no further.
    if (event == kInputMouseDown && mPopup == popup) {
      PopupClose(popup);
      return true;
    }
  }
  if (event == kInputKeyDown && button == kKeyTab) {
    MoveFocus((modifiers & kModShift) != 0);
    return true;
  }
  // A click drops the focus; the control it lands on takes it again.
  if (event == kInputMouseDown) KtView_ClearFocus();
  return mRoot ? mRoot->ViewInput(event, x, y, button, modifiers) : false;
}

bool KtViewHost::MoveFocus(bool backwards) {
  std::vector<KtView*> order;
  CollectFocusable(mRoot, order, 0);
  if (order.empty()) return false;
  const auto at = std::find(order.begin(), order.end(), KtView_GetFocused());
  const int count = static_cast<int>(order.size());
  int index = 0;
  if (at == order.end()) {
    index = backwards ? count - 1 : 0;
  } else {
    const int current = static_cast<int>(at - order.begin());
    index = (current + (backwards ? count - 1 : 1)) % count;
  }
  KtView_TakeFocus(*order[static_cast<size_t>(index)]);
  return true;
}

void KtViewHost::ViewRefreshRequest(IKtView* /*view*/, bool /*immediate*/) {
  ++mRefreshRequests;
  mRefreshPending = true;
}

bool KtViewHost::PopupOpen(IKtView* popup) {
  if (!popup) return false;
  if (popup == mPopup) return true;
  if (mPopup) PopupClose(mPopup);
  mPopup = popup;
  popup->Attach(this, mGraphic);
  ViewRefreshRequest(popup, false);
  return true;
}

void KtViewHost::PopupClose(IKtView* popup) {
  if (!popup || popup != mPopup) return;
  mPopup = nullptr;
  popup->Detach(this);
  ViewRefreshRequest(nullptr, false);
}

bool KtViewHost::TakeRefreshRequest() {
  const bool pending = mRefreshPending;
  mRefreshPending = false;
  return pending;
}
