#include "display/profiling_draw_view.h"

#include <climits>

#include "display/pixel_math.h"

namespace {

using kp_display::Saturate;

constexpr int kScrollBarWidth = 17;
constexpr int kScrollBarTop = 85;  // below the header strip and its band

IKtGeometry* GeometryOf(KtScrollBar* bar) {
  return static_cast<IKtGeometry*>(bar->IQuery(kIID_IKtGeometry, 0));
}

IKtView* ViewOf(KtScrollBar* bar) {
  return static_cast<IKtView*>(bar->IQuery(kIID_IKtView, 0));
}

}  // namespace

KtProfilingDrawView::KtProfilingDrawView() : KtView() {
  SetLeft(20);
  SetTop(90);
  SetMinRowHeight(15);
  SetMinBarScale(100);
  SetRowHeight(15);
  SetBarScale(100);
  ChartHeight = 200;
  SelectedCycle = nullptr;

  ScrollBar = new KtScrollBar(0);
  try {
    static_cast<IKtScrollBar*>(ScrollBar)->DrivenSet(static_cast<IKtScrollBarDriven*>(this));
    ScrollPosition = 0;
    static_cast<IRegister*>(ScrollBar)->Register(
        kScrollBarEventId, static_cast<ICallback*>(this),
        KCALLBACK_HANDLER(KtProfilingDrawView::OnScrollBarEvent), INT_MAX);
  } catch (...) {
    // The destructor does not run for a constructor that throws.
    delete ScrollBar;
    ScrollBar = nullptr;
    throw;
  }
}

KtProfilingDrawView::~KtProfilingDrawView() {
  if (ScrollBar != nullptr) {
    static_cast<IRegister*>(ScrollBar)->Unregister(
        kScrollBarEventId, static_cast<ICallback*>(this),
        KCALLBACK_HANDLER(KtProfilingDrawView::OnScrollBarEvent));
    delete ScrollBar;
    ScrollBar = nullptr;
  }
}

IObject* KtProfilingDrawView::IQuery(unsigned long interfaceId, int /*reserved*/) {
  switch (interfaceId) {
    case kIID_IObject:
    case kIID_IObjectSelf:
      return static_cast<ICallback*>(this);
    case kIID_IKtView:
      return static_cast<IKtView*>(this);
    case kIID_IKtScrollBarDriven:
      return static_cast<IKtScrollBarDriven*>(this);
    default:
      return nullptr;
  }
}

void KtProfilingDrawView::Destroy(int /*flags*/) {}

void KtProfilingDrawView::GetGraphicType(int& type, bool& flag) {
  type = 0;
  flag = true;
}

bool KtProfilingDrawView::ViewInput(int event, int x, int y, int button, int modifiers) {
  return ViewOf(ScrollBar)->ViewInput(event, x, y, button, modifiers);
}

void KtProfilingDrawView::Attach(IKtViewContainer* container, IKtGraphic* graphic) {
  KtView::Attach(container, graphic);
  ViewOf(ScrollBar)->Attach(container, graphic);
  LayoutScrollBar();
}

void KtProfilingDrawView::Detach(IKtViewContainer* container) {
  KtView::Detach(container);
  ViewOf(ScrollBar)->Detach(container);
}

void KtProfilingDrawView::ScrollNotify(int /*code*/) {}

void KtProfilingDrawView::ScrollValueChanged(float start) {
  // Truncation toward zero; NaN gives 0 and values beyond the int range
  // clamp. The range itself is applied by the next UpdateScrollRange.
  ScrollPosition = kp_display::TruncToInt(static_cast<double>(start));
}

void KtProfilingDrawView::ChartHeightChanged() {
  UpdateScrollRange();
}

void KtProfilingDrawView::LayoutScrollBar() {
  GeometryOf(ScrollBar)->SetPos(Saturate(static_cast<int64_t>(GetWidth()) - kScrollBarWidth),
                                kScrollBarTop);
  GeometryOf(ScrollBar)->SetSize(kScrollBarWidth,
                                 Saturate(static_cast<int64_t>(GetHeight()) - kScrollBarTop));
  UpdateScrollRange();
}

void KtProfilingDrawView::UpdateScrollRange() {
  const int visible = Saturate(static_cast<int64_t>(GetHeight()) - 70);
  const int content = Saturate(static_cast<int64_t>(GetChartHeight()) + 31);
  const int upper = Saturate(static_cast<int64_t>(content) - visible);
  int position = ScrollPosition < upper ? ScrollPosition : upper;
  if (position < 0) position = 0;
  ScrollPosition = position;

  // After construction ScrollBar is never null.
  IKtScrollBar& bar = *ScrollBar;
  bar.MinimumSet(0.0);
  bar.MaximumSet(static_cast<double>(content));
  const int span = visible < content ? visible : content;
  bar.SliderSet(static_cast<double>(ScrollPosition),
                static_cast<double>(Saturate(static_cast<int64_t>(ScrollPosition) + span)));
}

void KtProfilingDrawView::OnScrollBarEvent(IRegister* /*sender*/, KEventBase* /*event*/) {}
