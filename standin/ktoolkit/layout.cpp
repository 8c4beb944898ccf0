// KtLayout: a view divided into named regions, each resolved from four
// placements against the layout or an earlier region, each holding at most
// one control that the layout attaches, sizes, paints and feeds input.
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "item_popup.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

struct Placement {
  int Offset = 0;
  int Attach = kLayoutAttachNone;
  int Reference = -1;  // index of an earlier region; -1 the layout itself
  float Multiplier = 1.0f;
};

struct Border {
  bool Set = false;
  bool Visible = false;
  bool WithTitle = false;
  int LineWidth = 0;
  int Inset = 0;
  float Shade = 0.9f;  // grey level 0..1
};

struct Region {
  std::string Name;
  std::string Title;
  Placement X, Y, W, H;
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  IKtView* View = nullptr;
  KtView* Kt = nullptr;  // the view as a KtView when it is one
  Border Frame;
};

int NormalizedAttach(ktLayoutAttach attach) {
  const int kind = static_cast<int>(attach);
  return (kind >= kLayoutAttachLeft && kind <= kLayoutAttachBottom) ? kind : kLayoutAttachNone;
}

int Scaled(const Placement& p) {
  const double v = std::round(static_cast<double>(p.Offset) * static_cast<double>(p.Multiplier));
  if (!(v >= static_cast<double>(INT_MIN))) return INT_MIN;  // also NaN
  if (v > static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(v);
}

int ClampToInt(float value) {
  return static_cast<int>(std::clamp(static_cast<double>(value), static_cast<double>(INT_MIN),
                                     static_cast<double>(INT_MAX)));
}

int SaturatedAdd(int a, int b) {
  const long long s = static_cast<long long>(a) + b;
  return static_cast<int>(std::clamp<long long>(s, INT_MIN, INT_MAX));
}

}  // namespace

struct KtLayout::Impl {
  std::vector<Region> Regions;
  int SolvedWidth = -1;
  int SolvedHeight = -1;
  bool Attached = false;

  int Find(const char* name) const {
    if (!name) return -1;
    for (size_t i = 0; i < Regions.size(); ++i) {
      if (Regions[i].Name == name) return static_cast<int>(i);
    }
    return -1;
  }

  // The coordinate of an edge of the reference (the layout is 0..width,
  // 0..height) among `regions`, solved up to the reference.
  static int Edge(const std::vector<Region>& regions, const Placement& p, int width, int height) {
    int left = 0, top = 0, right = width, bottom = height;
    if (p.Reference >= 0) {
      const Region& r = regions[static_cast<size_t>(p.Reference)];
      left = r.Left;
      top = r.Top;
      right = r.Right;
      bottom = r.Bottom;
    }
    switch (p.Attach) {
      case kLayoutAttachLeft:
        return left;
      case kLayoutAttachRight:
        return right;
      case kLayoutAttachTop:
        return top;
      case kLayoutAttachBottom:
        return bottom;
      default:
        return 0;
    }
  }

  static void Solve(std::vector<Region>& regions, size_t index, int width, int height) {
    Region& r = regions[index];
    r.Left = SaturatedAdd(Edge(regions, r.X, width, height), Scaled(r.X));
    r.Top = SaturatedAdd(Edge(regions, r.Y, width, height), Scaled(r.Y));
    r.Right = r.W.Attach == kLayoutAttachNone
                  ? SaturatedAdd(r.Left, Scaled(r.W))
                  : SaturatedAdd(Edge(regions, r.W, width, height), Scaled(r.W));
    r.Bottom = r.H.Attach == kLayoutAttachNone
                   ? SaturatedAdd(r.Top, Scaled(r.H))
                   : SaturatedAdd(Edge(regions, r.H, width, height), Scaled(r.H));
  }

  void SolveAll(int width, int height) {
    for (size_t i = 0; i < Regions.size(); ++i) Solve(Regions, i, width, height);
    SolvedWidth = width;
    SolvedHeight = height;
  }

  // Right minus left of edges anywhere in the int range: a saturated
  // non-negative size, never a wrapped difference.
  static int Extent(int from, int to) {
    const long long size = static_cast<long long>(to) - from;
    return static_cast<int>(std::clamp<long long>(size, 0, INT_MAX));
  }

  static void Place(Region& r) {
    const int w = Extent(r.Left, r.Right);
    const int h = Extent(r.Top, r.Bottom);
    if (r.Kt) {
      r.Kt->SetPos(r.Left, r.Top);
      r.Kt->SetSize(w, h);
    } else if (r.View) {
      IKtGeometry* g = KQueryInterface<IKtGeometry>(r.View, kIID_IKtGeometry);
      if (g) {
        g->SetPos(r.Left, r.Top);
        g->SetSize(w, h);
      }
    }
  }

  // Calls `fn` once per placed view, even when a view fills two regions.
  template <class Fn>
  void ForEachDistinctView(Fn fn) {
    for (size_t i = 0; i < Regions.size(); ++i) {
      IKtView* view = Regions[i].View;
      if (!view) continue;
      bool seen = false;
      for (size_t j = 0; j < i && !seen; ++j) seen = Regions[j].View == view;
      if (!seen) fn(view);
    }
  }

  bool Holds(const IKtView* view) const {
    for (const Region& r : Regions) {
      if (r.View == view) return true;
    }
    return false;
  }
};

// What the layout's controls see as their container: paint and popup
// requests go on to whatever holds the layout.
struct KtLayout::Container : public IKtViewContainer {
  explicit Container(KtLayout* owner) : Owner(owner) {}
  virtual ~Container() = default;
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  IObject* IQuery(unsigned long interfaceId, int /*reserved*/) override {
    if (interfaceId == kIID_IObject || interfaceId == kIID_IObjectSelf ||
        interfaceId == kIID_IKtViewContainer)
      return static_cast<IKtViewContainer*>(this);
    return nullptr;
  }
  void Destroy(int /*flags*/) override {}
  void ViewRefreshRequest(IKtView* view, bool immediate) override {
    if (IKtViewContainer* up = Owner->GetContainer()) up->ViewRefreshRequest(view, immediate);
  }
  bool PopupOpen(IKtView* popup) override {
    IKtViewContainer* up = Owner->GetContainer();
    return up ? up->PopupOpen(popup) : false;
  }
  void PopupClose(IKtView* popup) override {
    if (IKtViewContainer* up = Owner->GetContainer()) up->PopupClose(popup);
  }

  KtLayout* Owner;
};

KtLayout::KtLayout(kViewCreation creation)
    : KtView(creation),
      LayoutRefreshEvent("LayoutRefreshEvent"),
      mImpl(new Impl),
      mContainerImpl(nullptr) {
  try {
    mContainerImpl = new Container(this);
  } catch (...) {
    delete mImpl;  // the destructor does not run for a constructor that throws
    throw;
  }
}

KtLayout::~KtLayout() {
  // Views that were destroyed have already left their regions (their
  // destructors call ForgetView), so every KtView still listed is alive. They
  // are let go so that none keeps a pointer to this layout or its container.
  // Views known only as IKtView may be gone already and are not touched.
  for (Region& r : mImpl->Regions) {
    if (!r.Kt || KtView_GetParentLayout(*r.Kt) != this) continue;
    KtView* view = r.Kt;
    for (Region& other : mImpl->Regions) {
      if (other.Kt == view) {
        other.Kt = nullptr;
        other.View = nullptr;
      }
    }
    KtView_SetParentLayout(*view, nullptr);
    if (mImpl->Attached) view->Detach(mContainerImpl);
  }
  delete mContainerImpl;
  delete mImpl;
}

IObject* KtLayout::IQuery(unsigned long interfaceId, int reserved) {
  if (interfaceId == kIID_IKtObject) return static_cast<IKtObject*>(this);
  if (interfaceId == kIID_IKtLayout) return static_cast<IKtLayout*>(this);
  return KtView::IQuery(interfaceId, reserved);
}

void KtLayout::Destroy(int /*flags*/) {
  delete this;
}

bool KtLayout::AddRegion(const char* name, const char* title, int x, ktLayoutAttach xAttach,
                         const char* xRelativeTo, float xMultiplier, int y, ktLayoutAttach yAttach,
                         const char* yRelativeTo, float yMultiplier, int width,
                         ktLayoutAttach widthAttach, const char* widthRelativeTo,
                         float widthMultiplier, int height, ktLayoutAttach heightAttach,
                         const char* heightRelativeTo, float heightMultiplier) {
  if (!name || !*name || mImpl->Find(name) >= 0) return false;
  Region r;
  auto placement = [this](Placement& p, int offset, ktLayoutAttach attach, const char* ref,
                          float multiplier) {
    p.Offset = offset;
    p.Attach = NormalizedAttach(attach);
    p.Multiplier = multiplier;
    p.Reference = -1;
    if (ref && *ref) {
      p.Reference = mImpl->Find(ref);
      if (p.Reference < 0) return false;
    }
    return true;
  };
  if (!placement(r.X, x, xAttach, xRelativeTo, xMultiplier) ||
      !placement(r.Y, y, yAttach, yRelativeTo, yMultiplier) ||
      !placement(r.W, width, widthAttach, widthRelativeTo, widthMultiplier) ||
      !placement(r.H, height, heightAttach, heightRelativeTo, heightMultiplier))
    return false;
  r.Name = name;
  if (title) r.Title = title;
  mImpl->Regions.push_back(std::move(r));
  Impl::Solve(mImpl->Regions, mImpl->Regions.size() - 1, GetWidth(), GetHeight());
  return true;
}

bool KtLayout::SetControl(const char* region, KtView& control) {
  if (mImpl->Find(region) < 0) return false;
  return SetView(region, static_cast<IKtView*>(&control));
}

bool KtLayout::SetView(const char* region, IKtView* view) {
  const int index = mImpl->Find(region);
  if (index < 0) return false;
  if (!view) return ClearControl(region);
  Region& r = mImpl->Regions[static_cast<size_t>(index)];
  if (r.View == view) {
    Impl::Place(r);
    return true;
  }
  ClearControl(region);
  KtView* kt = dynamic_cast<KtView*>(view);
  if (kt && static_cast<IKtView*>(kt) == static_cast<IKtView*>(this)) return false;  // itself
  // A view lives in one layout at a time: moving it here takes it out of the
  // one it was in.
  if (kt && KtView_GetParentLayout(*kt) && KtView_GetParentLayout(*kt) != this) {
    KtLayout* previous = KtView_GetParentLayout(*kt);
    KtLayout_ForgetView(*previous, kt);
    if (previous->mImpl->Attached) kt->Detach(previous->mContainerImpl);
  }
  const bool alreadyAttached = mImpl->Holds(view);
  r.View = view;
  r.Kt = kt;
  if (kt) KtView_SetParentLayout(*kt, this);
  Impl::Place(r);
  if (mImpl->Attached && !alreadyAttached) view->Attach(mContainerImpl, GetGraphic());
  ViewRefresh(false);
  return true;
}

bool KtLayout::ClearControl(const char* region) {
  const int index = mImpl->Find(region);
  if (index < 0) return false;
  Region& r = mImpl->Regions[static_cast<size_t>(index)];
  IKtView* view = r.View;
  KtView* kt = r.Kt;
  if (!view) return true;
  r.View = nullptr;
  r.Kt = nullptr;
  if (!mImpl->Holds(view)) {
    if (kt && KtView_GetParentLayout(*kt) == this) KtView_SetParentLayout(*kt, nullptr);
    if (mImpl->Attached) view->Detach(mContainerImpl);
  }
  ViewRefresh(false);
  return true;
}

bool KtLayout::SetBorder(const char* region, int lineWidth, bool visible, bool withTitle, int inset,
                         int /*style*/, float shadePercent, int /*reserved*/) {
  const int index = mImpl->Find(region);
  if (index < 0) return false;
  Border& b = mImpl->Regions[static_cast<size_t>(index)].Frame;
  b.Set = true;
  b.Visible = visible;
  b.WithTitle = withTitle;
  b.LineWidth = std::max(0, lineWidth);
  b.Inset = std::max(0, inset);
  const float shade = shadePercent / 100.0f;
  b.Shade = std::isnan(shade) ? 0.9f : std::clamp(shade, 0.0f, 1.0f);
  return true;
}

void KtLayout::LayoutRefresh() {
  KEventBase event(0, this);
  LayoutRefreshEvent.Fire(static_cast<IRegister*>(this), &event);
}

bool KtLayout_GetRegionRect(const KtLayout& layout, const char* region, int& left, int& top,
                            int& right, int& bottom) {
  return KtToolkitAccess::RegionRect(layout, region, left, top, right, bottom);
}
int KtLayout_GetRegionCount(const KtLayout& layout) {
  return KtToolkitAccess::RegionCount(layout);
}
const char* KtLayout_GetRegionName(const KtLayout& layout, int index) {
  return KtToolkitAccess::RegionName(layout, index);
}
const char* KtLayout_GetRegionTitle(const KtLayout& layout, const char* region) {
  return KtToolkitAccess::RegionTitle(layout, region);
}
IKtView* KtLayout_GetRegionView(const KtLayout& layout, const char* region) {
  return KtToolkitAccess::RegionView(layout, region);
}
bool KtLayout_HasBorder(const KtLayout& layout, const char* region) {
  return KtToolkitAccess::HasBorder(layout, region);
}

bool KtToolkitAccess::RegionRect(const KtLayout& layout, const char* region, int& left, int& top,
                                 int& right, int& bottom) {
  const int index = layout.mImpl->Find(region);
  if (index < 0) return false;
  const Region& r = layout.mImpl->Regions[static_cast<size_t>(index)];
  left = r.Left;
  top = r.Top;
  right = r.Right;
  bottom = r.Bottom;
  return true;
}

int KtToolkitAccess::RegionCount(const KtLayout& layout) {
  return static_cast<int>(layout.mImpl->Regions.size());
}

const char* KtToolkitAccess::RegionName(const KtLayout& layout, int index) {
  if (index < 0 || index >= RegionCount(layout)) return nullptr;
  return layout.mImpl->Regions[static_cast<size_t>(index)].Name.c_str();
}

const char* KtToolkitAccess::RegionTitle(const KtLayout& layout, const char* region) {
  const int index = layout.mImpl->Find(region);
  return index < 0 ? nullptr : layout.mImpl->Regions[static_cast<size_t>(index)].Title.c_str();
}

IKtView* KtToolkitAccess::RegionView(const KtLayout& layout, const char* region) {
  const int index = layout.mImpl->Find(region);
  return index < 0 ? nullptr : layout.mImpl->Regions[static_cast<size_t>(index)].View;
}

bool KtToolkitAccess::HasBorder(const KtLayout& layout, const char* region) {
  const int index = layout.mImpl->Find(region);
  if (index < 0) return false;
  const Border& b = layout.mImpl->Regions[static_cast<size_t>(index)].Frame;
  return b.Set && b.Visible;
}

void KtLayout_ForgetView(KtLayout& layout, KtView* view) {
  KtToolkitAccess::ForgetView(layout, view);
}

void KtToolkitAccess::ForgetView(KtLayout& layout, KtView* view) {
  if (!view) return;
  for (Region& r : layout.mImpl->Regions) {
    if (r.Kt == view || r.View == static_cast<IKtView*>(view)) {
      r.View = nullptr;
      r.Kt = nullptr;
    }
  }
  if (KtView_GetParentLayout(*view) == &layout) KtView_SetParentLayout(*view, nullptr);
}

const char* KtLayout::GetObjectName() {
  return "KtLayout";
}

void KtLayout::LayoutRegions() {
  mImpl->SolveAll(GetWidth(), GetHeight());
  for (Region& r : mImpl->Regions) Impl::Place(r);
}

bool KtLayout_FitsAt(const KtLayout& layout, int width, int height, const KtLeafFits& leafFits) {
  return KtToolkitAccess::FitsAt(layout, width, height, leafFits);
}

bool KtToolkitAccess::FitsAt(const KtLayout& layout, int width, int height,
                             const KtLeafFits& leafFits) {
  using Impl = KtLayout::Impl;
  std::vector<Region> regions = layout.mImpl->Regions;
  for (size_t i = 0; i < regions.size(); ++i) Impl::Solve(regions, i, width, height);
  for (const Region& r : regions) {
    if (!r.View) continue;
    if (r.Left < 0 || r.Top < 0 || r.Right > width || r.Bottom > height) return false;
    const int w = r.Right - r.Left;
    const int h = r.Bottom - r.Top;
    if (w <= 0 || h <= 0) return false;
    if (const auto* inner = dynamic_cast<const KtLayout*>(r.Kt)) {
      if (!FitsAt(*inner, w, h, leafFits)) return false;
    } else if (leafFits && !leafFits(r.View, w, h)) {
      return false;
    }
  }
  return true;
}

void KtLayout::SetWidth(int width) {
  SetSize(width, GetHeight());
}

void KtLayout::SetHeight(int height) {
  SetSize(GetWidth(), height);
}

void KtLayout::SetSize(int width, int height) {
  KtView::SetSize(width, height);
  if (GetWidth() == mImpl->SolvedWidth && GetHeight() == mImpl->SolvedHeight) return;
  LayoutRegions();
  LayoutRefresh();
}

void KtLayout::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  glColor3ub(kt_theme::kPanel, kt_theme::kPanel, kt_theme::kPanel);
  g->DrawRectangle(0.0f, 0.0f, static_cast<float>(GetWidth()), static_cast<float>(GetHeight()));

  for (const Region& r : mImpl->Regions) {
    const Border& b = r.Frame;
    if (!b.Set || !b.Visible) continue;
    // Edges and insets anywhere in the int range: summed in double.
    const float x0 = static_cast<float>(static_cast<double>(r.Left) + b.Inset);
    const float y0 = static_cast<float>(static_cast<double>(r.Top) + b.Inset);
    const float x1 = static_cast<float>(static_cast<double>(r.Right) - b.Inset);
    const float y1 = static_cast<float>(static_cast<double>(r.Bottom) - b.Inset);
    if (x1 <= x0 || y1 <= y0) continue;
    const float lw = static_cast<float>(b.LineWidth);
    if (lw > 0.0f) {
      glColor3f(b.Shade, b.Shade, b.Shade);
      g->DrawRectangle(x0, y0, x1, y0 + lw);
      g->DrawRectangle(x0, y1 - lw, x1, y1);
      g->DrawRectangle(x0, y0, x0 + lw, y1);
      g->DrawRectangle(x1 - lw, y0, x1, y1);
    }
    if (b.WithTitle && !r.Title.empty()) {
      int tw = 0, th = 0;
      g->MeasureString(r.Title.c_str(), kGraphic_Font_Style_Regular, tw, th);
      const float tx = x0 + 8.0f;
      const float ty = y0 + lw * 0.5f;
      // A gap of background behind the title interrupts the top line.
      glColor3ub(kt_theme::kPanel, kt_theme::kPanel, kt_theme::kPanel);
      g->DrawRectangle(tx - 3.0f, ty - static_cast<float>(th) * 0.5f,
                       tx + static_cast<float>(tw) + 3.0f, ty + static_cast<float>(th) * 0.5f);
      glColor3ub(kt_theme::kText, kt_theme::kText, kt_theme::kText);
      g->DrawString(r.Title.c_str(), tx, ty, ClampToInt(x0), ClampToInt(x1),
                    kGraphic_Font_Style_Regular);
    }
  }

  for (const Region& r : mImpl->Regions) {
    if (r.View) r.View->ViewExpose(nullptr);
  }
  KtViewExposeEnd();
}

bool KtLayout::ViewInput(int event, int x, int y, int button, int modifiers) {
  // The last-painted control lies on top, so it is asked first. Indices are
  // re-checked on every step because a handler may change the regions.
  for (size_t i = mImpl->Regions.size(); i-- > 0;) {
    if (i >= mImpl->Regions.size()) continue;
    IKtView* view = mImpl->Regions[i].View;
    if (view && view->ViewInput(event, x, y, button, modifiers)) return true;
  }
  return false;
}

void KtLayout::Attach(IKtViewContainer* container, IKtGraphic* graphic) {
  if (mImpl->Attached) DetachControls();
  KtView::Attach(container, graphic);
  mImpl->Attached = true;
  mImpl->ForEachDistinctView(
      [this, graphic](IKtView* view) { view->Attach(mContainerImpl, graphic); });
}

void KtLayout::Detach(IKtViewContainer* container) {
  if (mImpl->Attached) DetachControls();
  mImpl->Attached = false;
  KtView::Detach(container);
}

void KtLayout::DetachControls() {
  mImpl->ForEachDistinctView([this](IKtView* view) { view->Detach(mContainerImpl); });
}

KtForm::KtForm(kViewCreation creation) : KtLayout(creation) {}

KtForm::~KtForm() = default;
