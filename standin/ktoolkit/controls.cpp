// The toolkit's controls: label, push button, drop-down list and tab strip.
// All draw in the grey theme of item_popup.h and hit-test input against the
// window rectangle of their last paint; the drop-down's item popup is in
// item_popup.cpp.
#include "standin/ktoolkit/controls.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "host/ktoolkit.h"
#include "item_popup.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

using kt_theme::F;
using kt_theme::Grey;
using kt_theme::Outline;

// The item controls (list, tab strip) keep their parsed items and repaint
// through change handlers of their implementation on Items and SelectedIndex.
// WatchItems subscribes it; when a subscription fails to allocate it releases
// the implementation, since the destructor does not run for a constructor
// that throws. UnwatchItems undoes WatchItems and releases it.
template <class Impl>
void UnwatchItems(KPropertyTemplate<char*>& items, KPropertyTemplate<int>& selected, Impl* impl) {
  items.RemoveChangeHandler(impl, KCALLBACK_HANDLER(Impl::OnItemsChanged));
  selected.RemoveChangeHandler(impl, KCALLBACK_HANDLER(Impl::OnSelectionChanged));
  delete impl;
}

template <class Impl>
void WatchItems(KPropertyTemplate<char*>& items, KPropertyTemplate<int>& selected, Impl* impl) {
  try {
    items.AddChangeHandler(impl, KCALLBACK_HANDLER(Impl::OnItemsChanged));
    selected.AddChangeHandler(impl, KCALLBACK_HANDLER(Impl::OnSelectionChanged));
  } catch (...) {
    UnwatchItems(items, selected, impl);
    throw;
  }
}

// "a~b~c" into its items; an empty text has none.
void SplitItems(const char* text, std::vector<std::string>& items) {
  items.clear();
  if (!text || !*text) return;
  const char* start = text;
  for (const char* p = text;; ++p) {
    if (*p == '~' || *p == '\0') {
      items.emplace_back(start, static_cast<size_t>(p - start));
      if (*p == '\0') break;
      start = p + 1;
    }
  }
}

// A small downward triangle, the drop-down mark, centred at (cx, cy).
void DropMark(IKtGraphic* g, float cx, float cy) {
  g->BeginPrimitive(kPrimitiveTriangles);
  glVertex2f(cx - 4.0f, cy - 2.0f);
  glVertex2f(cx + 4.0f, cy - 2.0f);
  glVertex2f(cx, cy + 3.0f);
  g->EndPrimitive();
}

}  // namespace

//-----------------------------------------------------------------------------
// KtStatic
//-----------------------------------------------------------------------------

KtStatic::KtStatic(kViewCreation creation) : KtView(creation), Caption("Caption", "") {}

KtStatic::~KtStatic() = default;

void KtStatic::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  Grey(kt_theme::kText);
  mCut = Graphic_DrawStringFitted(GetGraphic(), Caption.Get(), 2.0f, F(GetHeight()) * 0.5f,
                                  GetWidth() - kt_theme::kTextGap, kGraphic_Font_Style_Regular);
  KtViewExposeEnd();
}

bool KtStatic::ViewInput(int event, int x, int y, int /*button*/, int /*modifiers*/) {
  if (event == kInputMouseMove) {
    if (mCut && KtView_ContainsWindowPoint(*this, x, y))
      KtToolTip_Offer(this, Caption.Get(), x, y);
    else
      KtToolTip_Withdraw(this);
  }
  return false;
}

//-----------------------------------------------------------------------------
// KtButton
//-----------------------------------------------------------------------------

KtButton::KtButton(kViewCreation creation)
    : KtView(creation), Caption("Caption", ""), OnClick("OnClick") {
  KtView_SetFocusable(*this, true);
}

KtButton::~KtButton() = default;

void KtButton_Click(KtButton& button) {
  KEventBase event(0, &button);
  button.OnClick.Fire(static_cast<IRegister*>(&button), &event);
}

void KtButton::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  const float w = F(GetWidth());
  const float h = F(GetHeight());
  const bool down = mPressed && mHover;
  Grey(down ? kt_theme::kButtonPressed : (mHover ? kt_theme::kButtonHover : kt_theme::kButton));
  g->DrawRectangle(0.0f, 0.0f, w, h);
  Grey(kt_theme::kEdge);
  Outline(g, 0.0f, 0.0f, w, h);
  int tw = 0, th = 0;
  const char* caption = Caption.Get();
  g->MeasureString(caption, kGraphic_Font_Style_Regular, tw, th);
  const float tx = std::max(4.0f, std::floor((w - F(tw)) * 0.5f));
  const float shift = down ? 1.0f : 0.0f;
  Grey(kt_theme::kText);
  mCut = Graphic_DrawStringFitted(g, caption, tx + shift, h * 0.5f + shift,
                                  GetWidth() - 4 + static_cast<int>(shift),
                                  kGraphic_Font_Style_Regular);
  if (KtView_HasFocus(*this)) kt_theme::FocusRing(g, 0.0f, 0.0f, w, h);
  KtViewExposeEnd();
}

bool KtButton::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  const bool inside = KtView_ContainsWindowPoint(*this, x, y);
  switch (event) {
    case kInputMouseMove:
      if (inside != mHover) {
        mHover = inside;
        ViewRefresh(false);
      }
      if (inside && mCut)
        KtToolTip_Offer(this, Caption.Get(), x, y);
      else
        KtToolTip_Withdraw(this);
      return mPressed;
    case kInputMouseDown:
      if (!inside || button != 0) return false;
      KtView_TakeFocus(*this);
      mPressed = true;
      mHover = true;
      ViewRefresh(false);
      return true;
    case kInputMouseUp: {
      if (!mPressed || button != 0) return false;
      mPressed = false;
      mHover = inside;
      ViewRefresh(false);
      if (inside) KtButton_Click(*this);
      return true;
    }
    case kInputKeyChar:
      if (!KtView_HasFocus(*this) || button != ' ') return false;
      KtButton_Click(*this);
      return true;
    case kInputKeyDown:
      if (!KtView_HasFocus(*this) || button != kKeyEnter) return false;
      KtButton_Click(*this);
      return true;
    default:
      return false;
  }
}

//-----------------------------------------------------------------------------
// KtList
//-----------------------------------------------------------------------------

struct KtList::Impl : public ICallback, public IKtItemPopupSource {
  explicit Impl(KtList* owner) : Owner(owner), Popup(this) {}
  virtual ~Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  IObject* IQuery(unsigned long /*interfaceId*/, int /*reserved*/) override { return nullptr; }
  void Destroy(int /*flags*/) override {}

  void OnItemsChanged(IRegister* /*sender*/, KEventBase* /*event*/) {
    SplitItems(Owner->Items.Get(), ItemList);
    Owner->ViewRefresh(false);
  }
  void OnSelectionChanged(IRegister* /*sender*/, KEventBase* /*event*/) {
    Owner->ViewRefresh(false);
    KEventBase event(0, Owner);
    Owner->OnChange.Fire(static_cast<IRegister*>(Owner), &event);
  }

  int PopupItemCount() override { return static_cast<int>(ItemList.size()); }
  const char* PopupItem(int index) override { return Owner->GetItem(index); }
  int PopupSelected() override { return Owner->SelectedIndex.Get(); }
  void PopupPicked(int index) override { Owner->SelectedIndex = index; }
  void PopupClosed() override { Owner->ViewRefresh(false); }

  void Step(int delta) {
    const int count = static_cast<int>(ItemList.size());
    if (count == 0) return;
    const long long next = static_cast<long long>(Owner->SelectedIndex.Get()) + delta;
    const int index = static_cast<int>(std::clamp<long long>(next, 0, count - 1));
    if (index != Owner->SelectedIndex.Get()) Owner->SelectedIndex = index;
  }

  void OpenPopup() {
    int x = 0, y = 0, w = 0, h = 0;
    if (!Owner->GetContainer() || !KtView_GetWindowRect(*Owner, x, y, w, h)) return;
    Popup.Open(Owner->GetContainer(), x, y, w, h, std::max(16, h));
  }

  KtList* Owner;
  std::vector<std::string> ItemList;
  KtItemPopup Popup;
  bool Hover = false;
  bool Pressed = false;  // the left button went down on the box and is held
  bool Cut = false;      // the last paint cut the shown item
};

KtList::KtList(kViewCreation creation)
    : KtView(creation),
      Items("Items", ""),
      SelectedIndex("SelectedIndex", 0),
      OnChange("OnChange"),
      mImpl(new Impl(this)) {
  WatchItems(Items, SelectedIndex, mImpl);
  KtView_SetFocusable(*this, true);
}

KtList::~KtList() {
  mImpl->Popup.Close();
  UnwatchItems(Items, SelectedIndex, mImpl);
}

int KtList::GetItemCount() const {
  return static_cast<int>(mImpl->ItemList.size());
}

const char* KtList::GetItem(int index) const {
  if (index < 0 || index >= GetItemCount()) return nullptr;
  return mImpl->ItemList[static_cast<size_t>(index)].c_str();
}

int KtList::FindItem(const char* text) const {
  if (!text) return -1;
  for (int i = 0; i < GetItemCount(); ++i) {
    if (mImpl->ItemList[static_cast<size_t>(i)] == text) return i;
  }
  return -1;
}

bool KtList::IsOpen() const {
  return mImpl->Popup.IsOpen();
}

void KtList::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  const float w = F(GetWidth());
  const float h = F(GetHeight());
  const Impl& m = *mImpl;
  Grey(m.Pressed && m.Hover ? kt_theme::kButtonPressed
                            : ((IsOpen() || m.Hover) ? kt_theme::kFieldHover : kt_theme::kField));
  g->DrawRectangle(0.0f, 0.0f, w, h);
  Grey(kt_theme::kEdge);
  Outline(g, 0.0f, 0.0f, w, h);
  const char* text = GetItem(SelectedIndex.Get());
  Grey(kt_theme::kText);
  mImpl->Cut = text && Graphic_DrawStringFitted(g, text, 4.0f, h * 0.5f, GetWidth() - 14,
                                                kGraphic_Font_Style_Regular);
  DropMark(g, w - 8.0f, h * 0.5f);
  if (KtView_HasFocus(*this)) kt_theme::FocusRing(g, 0.0f, 0.0f, w, h);
  KtViewExposeEnd();
}

bool KtList::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  Impl& m = *mImpl;
  const bool inside = KtView_ContainsWindowPoint(*this, x, y);
  switch (event) {
    case kInputMouseMove: {
      if (inside != m.Hover) {
        m.Hover = inside;
        ViewRefresh(false);
      }
      const char* text = GetItem(SelectedIndex.Get());
      if (inside && m.Cut && text)
        KtToolTip_Offer(this, text, x, y);
      else
        KtToolTip_Withdraw(this);
      return false;
    }
    case kInputMouseDown:
      if (!inside) return false;
      KtView_TakeFocus(*this);
      if (button == 0) {
        m.Pressed = true;
        if (IsOpen())
          m.Popup.Close();
        else
          m.OpenPopup();
        ViewRefresh(false);
      }
      return true;
    case kInputMouseUp:
      if (!m.Pressed || button != 0) return false;
      m.Pressed = false;
      ViewRefresh(false);
      return inside;
    case kInputMouseWheel:
      if (!inside) return false;
      m.Step(-button);
      return true;
    case kInputKeyDown:
      if (!KtView_HasFocus(*this)) return false;
      if (button == kKeyUp) {
        m.Step(-1);
        return true;
      }
      if (button == kKeyDown) {
        m.Step(1);
        return true;
      }
      if (button == kKeyEnter) {
        m.OpenPopup();
        return true;
      }
      return false;
    default:
      return false;
  }
}

void KtList::Detach(IKtViewContainer* container) {
  mImpl->Popup.Close();
  mImpl->Hover = false;
  mImpl->Pressed = false;
  KtView::Detach(container);
}

//-----------------------------------------------------------------------------
// KtTabPanel
//-----------------------------------------------------------------------------

struct KtTabPanel::Impl : public ICallback {
  explicit Impl(KtTabPanel* owner) : Owner(owner) {}
  virtual ~Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  IObject* IQuery(unsigned long /*interfaceId*/, int /*reserved*/) override { return nullptr; }
  void Destroy(int /*flags*/) override {}

  void OnItemsChanged(IRegister* /*sender*/, KEventBase* /*event*/) {
    SplitItems(Owner->Items.Get(), Tabs);
    // Sized here so a paint only writes the edges it measured.
    TabRight.assign(Tabs.size(), 0);
    Measured = false;
    Owner->ViewRefresh(false);
  }
  void OnSelectionChanged(IRegister* /*sender*/, KEventBase* /*event*/) {
    Owner->ViewRefresh(false);
    KEventBase event(0, Owner);
    Owner->OnChange.Fire(static_cast<IRegister*>(Owner), &event);
  }

  KtTabPanel* Owner;
  std::vector<std::string> Tabs;
  std::vector<int> TabRight;  // right edge of each tab, view pixels
  bool Measured = false;
};

KtTabPanel::KtTabPanel(kViewCreation creation)
    : KtView(creation),
      Items("Items", ""),
      SelectedIndex("SelectedIndex", 0),
      OnChange("OnChange"),
      mImpl(new Impl(this)) {
  WatchItems(Items, SelectedIndex, mImpl);
}

KtTabPanel::~KtTabPanel() {
  UnwatchItems(Items, SelectedIndex, mImpl);
}

// The way to a tab strip's tabs (a friend of KtTabPanel).
struct KtControlsAccess {
  static const std::vector<std::string>& Tabs(const KtTabPanel& tabs) { return tabs.mImpl->Tabs; }
};

int KtTabPanel_GetTabCount(const KtTabPanel& tabs) {
  return static_cast<int>(KtControlsAccess::Tabs(tabs).size());
}

const char* KtTabPanel_GetTab(const KtTabPanel& tabs, int index) {
  if (index < 0 || index >= KtTabPanel_GetTabCount(tabs)) return nullptr;
  return KtControlsAccess::Tabs(tabs)[static_cast<size_t>(index)].c_str();
}

void KtTabPanel::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  const float w = F(GetWidth());
  const float h = F(GetHeight());
  Grey(kt_theme::kPanel);
  g->DrawRectangle(0.0f, 0.0f, w, h);
  Grey(kt_theme::kEdge);
  g->DrawRectangle(0.0f, h - 1.0f, w, h);
  int left = 0;
  const int selected = SelectedIndex.Get();
  for (int i = 0; i < KtTabPanel_GetTabCount(*this); ++i) {
    const char* caption = mImpl->Tabs[static_cast<size_t>(i)].c_str();
    int tw = 0, th = 0;
    g->MeasureString(caption, kGraphic_Font_Style_Regular, tw, th);
    const int right = left + tw + 20;
    mImpl->TabRight[static_cast<size_t>(i)] = right;
    const bool isSelected = i == selected;
    Grey(isSelected ? kt_theme::kButton : kt_theme::kField);
    g->DrawRectangle(F(left), isSelected ? 0.0f : 2.0f, F(right - 1), h - (isSelected ? 0 : 1));
    Grey(kt_theme::kEdge);
    g->DrawRectangle(F(left), isSelected ? 0.0f : 2.0f, F(right - 1), isSelected ? 1.0f : 3.0f);
    g->DrawRectangle(F(left), 0.0f, F(left + 1), h);
    g->DrawRectangle(F(right - 2), 0.0f, F(right - 1), h);
    Grey(isSelected ? kt_theme::kText : kt_theme::kTextDim);
    g->DrawString(caption, F(left + 10), h * 0.5f + (isSelected ? 0.0f : 1.0f), left,
                  std::min(right, GetWidth()), kGraphic_Font_Style_Regular);
    left = right;
  }
  mImpl->Measured = true;
  KtViewExposeEnd();
}

bool KtTabPanel::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  if (event != kInputMouseDown || button != 0 || !KtView_ContainsWindowPoint(*this, x, y))
    return false;
  if (!mImpl->Measured) return true;
  int wx = 0, wy = 0, ww = 0, wh = 0;
  KtView_GetWindowRect(*this, wx, wy, ww, wh);
  const int local = x - wx;
  for (int i = 0; i < KtTabPanel_GetTabCount(*this); ++i) {
    if (local < mImpl->TabRight[static_cast<size_t>(i)]) {
      if (SelectedIndex.Get() != i) SelectedIndex = i;
      return true;
    }
  }
  return true;
}
