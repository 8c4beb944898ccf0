// KtView: the base of every toolkit view: interface answers, numbered events,
// geometry, attaching, and the paint bracket that records where the view was
// drawn so input in window pixels can be hit-tested against it.
#include <memory>
#include <utility>
#include <vector>

#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

// One callback list per event id, created on first subscription. Lists are
// held by pointer so a list keeps its address while another event's list is
// added from inside a handler.
struct KtView::EventTable {
  std::vector<std::pair<int, std::unique_ptr<KCallbackList>>> Lists;

  KCallbackList* Find(int eventId) const {
    for (const auto& entry : Lists) {
      if (entry.first == eventId) return entry.second.get();
    }
    return nullptr;
  }
};

KtView::KtView(kViewCreation /*creation*/) {}

namespace {
KtView* gFocused = nullptr;  // the view with the keyboard focus
}  // namespace

KtView::~KtView() {
  if (gFocused == this) gFocused = nullptr;
  KtToolTip_Withdraw(this);
  KtRepeat_Stop(this);
  if (mParentLayout) KtLayout_ForgetView(*mParentLayout, this);
  delete mEvents;
}

void KtView_SetFocusable(KtView& view, bool focusable) {
  KtToolkitAccess::Focusable(view) = focusable;
}

bool KtView_IsFocusable(const KtView& view) {
  return KtToolkitAccess::Focusable(const_cast<KtView&>(view));
}

bool KtView_HasFocus(const KtView& view) {
  return gFocused == &view;
}

void KtView_TakeFocus(KtView& view) {
  if (gFocused == &view) return;
  KtView* previous = gFocused;
  gFocused = &view;
  if (previous) previous->ViewRefresh(false);
  view.ViewRefresh(false);
}

KtView* KtView_GetFocused() {
  return gFocused;
}

void KtView_ClearFocus() {
  KtView* previous = gFocused;
  gFocused = nullptr;
  if (previous) previous->ViewRefresh(false);
}

KtLayout* KtView_GetParentLayout(const KtView& view) {
  return KtToolkitAccess::ParentLayout(view);
}

void KtView_SetParentLayout(KtView& view, KtLayout* layout) {
  KtToolkitAccess::ParentLayout(view) = layout;
}

IObject* KtView::IQuery(unsigned long interfaceId, int /*reserved*/) {
  switch (interfaceId) {
    case kIID_IObject:
    case kIID_IObjectSelf:
      return static_cast<IObject*>(static_cast<ICallback*>(this));
    case kIID_IRegister:
      return static_cast<IRegister*>(this);
    case kIID_IKtGeometry:
      return static_cast<IKtGeometry*>(this);
    case kIID_IQzObjectHolder:
      return static_cast<IQzObjectHolder*>(this);
    case kIID_IKtSkinnedView:
      return static_cast<IKtSkinnedView*>(this);
    case kIID_IKtView:
      return static_cast<IKtView*>(this);
    default:
      return nullptr;
  }
}

void KtView::Destroy(int /*flags*/) {
  delete this;
}

IObject* KtView::GetHeldObject() {
  return nullptr;
}

bool KtView::Register(int eventId, ICallback* receiver, kICallbackHandler handler, int priority) {
  if (!receiver || !handler) return false;
  if (!mEvents) mEvents = new EventTable;
  KCallbackList* list = mEvents->Find(eventId);
  if (!list) {
    mEvents->Lists.emplace_back(eventId, std::make_unique<KCallbackList>());
    list = mEvents->Lists.back().second.get();
  }
  // A repeated triple keeps its one subscription and still counts as done.
  if (list->Contains(receiver, handler)) return true;
  return list->Add(receiver, handler, priority);
}

bool KtView::Unregister(int eventId, ICallback* receiver, kICallbackHandler handler) {
  KCallbackList* list = mEvents ? mEvents->Find(eventId) : nullptr;
  return list ? list->Remove(receiver, handler) : false;
}

void KtView::Broadcast(int eventId, KEventBase* event) {
  KCallbackList* list = mEvents ? mEvents->Find(eventId) : nullptr;
  if (!list) return;
  // Handlers always get an event object, even when the sender passed none.
  KEventBase fallback(eventId, nullptr);
  list->Fire(static_cast<IRegister*>(this), event ? event : &fallback);
}

int KtView_GetRegisteredCount(const KtView& view, int eventId) {
  return KtToolkitAccess::RegisteredCount(view, eventId);
}

int KtToolkitAccess::RegisteredCount(const KtView& view, int eventId) {
  KCallbackList* list = view.mEvents ? view.mEvents->Find(eventId) : nullptr;
  return list ? list->Count() : 0;
}

int KtView::GetWidth() {
  return mWidth;
}
int KtView::GetHeight() {
  return mHeight;
}
int KtView::GetPosX() {
  return mPosX;
}
int KtView::GetPosY() {
  return mPosY;
}
void KtView::SetWidth(int width) {
  mWidth = width < 0 ? 0 : width;
}
void KtView::SetHeight(int height) {
  mHeight = height < 0 ? 0 : height;
}
void KtView::SetPosX(int x) {
  mPosX = x;
}
void KtView::SetPosY(int y) {
  mPosY = y;
}
void KtView::SetPos(int x, int y) {
  mPosX = x;
  mPosY = y;
}
void KtView::SetSize(int width, int height) {
  mWidth = width < 0 ? 0 : width;
  mHeight = height < 0 ? 0 : height;
}

void KtView::GetGraphicType(int& type, bool& flag) {
  type = 0;
  flag = false;
}

void KtView::ViewExpose(IKtGeometry* /*geometry*/) {}

bool KtView::ViewInput(int /*event*/, int /*x*/, int /*y*/, int /*button*/, int /*modifiers*/) {
  return false;
}

void KtView::ViewRefresh(bool immediate) {
  ++mRefreshCount;
  if (mContainer) mContainer->ViewRefreshRequest(static_cast<IKtView*>(this), immediate);
}

void KtView::Attach(IKtViewContainer* container, IKtGraphic* graphic) {
  mContainer = container;
  mGraphic = graphic;
}

void KtView::Detach(IKtViewContainer* /*container*/) {
  // A view that leaves the window keeps neither the focus, nor a tooltip,
  // nor a repeat.
  if (gFocused == this) gFocused = nullptr;
  KtToolTip_Withdraw(this);
  KtRepeat_Stop(this);
  mContainer = nullptr;
  mGraphic = nullptr;
}

void KtView::SkinSet(int skin) {
  mSkin = skin;
}
int KtView::SkinGet() {
  return mSkin;
}

bool KtView::KtViewExposeBegin(bool* sizeChanged) {
  if (!mGraphic || mWidth <= 0 || mHeight <= 0) return false;
  mGraphic->PushView(mPosX, mPosY, mWidth, mHeight);
  mGraphic->GetViewOrigin(mWindowX, mWindowY);
  const bool changed = !mExposedOnce || mWidth != mExposedWidth || mHeight != mExposedHeight;
  mExposedOnce = true;
  mExposedWidth = mWidth;
  mExposedHeight = mHeight;
  if (sizeChanged) *sizeChanged = changed;
  return true;
}

void KtView::KtViewExposeEnd() {
  if (mGraphic) mGraphic->PopView();
}

bool KtView_GetWindowRect(const KtView& view, int& x, int& y, int& width, int& height) {
  return KtToolkitAccess::WindowRect(view, x, y, width, height);
}

bool KtToolkitAccess::WindowRect(const KtView& view, int& x, int& y, int& width, int& height) {
  if (!view.mExposedOnce) return false;
  x = view.mWindowX;
  y = view.mWindowY;
  width = view.mExposedWidth;
  height = view.mExposedHeight;
  return true;
}

bool KtView_ContainsWindowPoint(const KtView& view, int x, int y) {
  int left = 0, top = 0, width = 0, height = 0;
  if (!KtToolkitAccess::WindowRect(view, left, top, width, height)) return false;
  return x >= left && y >= top && x < left + width && y < top + height;
}

int KtView_GetRefreshCount(const KtView& view) {
  return KtToolkitAccess::RefreshCount(view);
}
