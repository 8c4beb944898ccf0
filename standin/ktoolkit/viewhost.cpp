// KtViewHost: the window's root container. It sizes and attaches one
// top-level view, paints it and then the open popup over it, and routes input
// to the popup first.
#include <GL/gl.h>

#include "host/ktoolkit.h"

namespace {

IKtGeometry* GeometryOf(IKtView* view) {
  if (KtView* kt = dynamic_cast<KtView*>(view)) return static_cast<IKtGeometry*>(kt);
  return KQueryInterface<IKtGeometry>(view, kIID_IKtGeometry);
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
  mGraphic->SetViewport(0, 0, mWidth, mHeight);
  if (mRoot) mRoot->ViewExpose(nullptr);
  if (mPopup) mPopup->ViewExpose(nullptr);
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
  return mRoot ? mRoot->ViewInput(event, x, y, button, modifiers) : false;
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
