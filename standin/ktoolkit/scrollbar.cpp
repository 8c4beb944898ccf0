// KtScrollBar: a vertical track with a slider covering [start, end] of the
// range [minimum, maximum]. The slider's pixel length is its share of the
// range (at least kMinSliderPixels of it visible, however long the range),
// and its travel maps linearly onto the starts it may take,
// [minimum, maximum - (end - start)].
#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "host/ktoolkit.h"
#include "item_popup.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

// The slider is drawn one pixel inside its extent at each end; the smallest
// extent keeps 8 visible pixels to grab.
constexpr double kSliderInset = 1.0;
constexpr double kMinSliderPixels = 8.0 + 2.0 * kSliderInset;

struct SliderGeometry {
  double Top = 0.0;     // view pixels
  double Length = 0.0;  // pixels
  double Travel = 0.0;  // pixels the slider top can move
  double Span = 0.0;    // range units the slider start can move
  bool Scrollable = false;
};

SliderGeometry ComputeSlider(double minimum, double maximum, double start, double end,
                             int trackPixels) {
  SliderGeometry s;
  const double track = std::max(0, trackPixels);
  const double range = maximum - minimum;
  if (!(range > 0.0) || track <= 0.0) {
    s.Length = track;
    return s;
  }
  const double length = std::clamp(end - start, 0.0, range);
  s.Scrollable = true;
  s.Length = std::clamp(length / range * track, std::min(kMinSliderPixels, track), track);
  s.Travel = track - s.Length;
  s.Span = range - length;
  if (s.Span > 0.0 && s.Travel > 0.0) {
    s.Top = std::clamp((start - minimum) / s.Span, 0.0, 1.0) * s.Travel;
  }
  return s;
}

// The window rows [top, bottom) a press grabs the slider in: its whole
// extent, rounded outwards, so every pixel drawn for it is inside.
void SliderRows(const SliderGeometry& s, int windowY, int& top, int& bottom) {
  top = windowY + static_cast<int>(std::floor(s.Top));
  bottom = windowY + static_cast<int>(std::ceil(s.Top + s.Length));
}

// The window rectangle of the view the bar drives, when it is a view that
// has been painted: the wheel anywhere over it scrolls.
bool DrivenContains(IKtScrollBarDriven* driven, int x, int y) {
  const auto* view = dynamic_cast<const KtView*>(driven);
  return view && KtView_ContainsWindowPoint(*view, x, y);
}

}  // namespace

KtScrollBar::KtScrollBar(kViewCreation creation) : KtView(creation) {}

KtScrollBar::~KtScrollBar() = default;

IObject* KtScrollBar::IQuery(unsigned long interfaceId, int reserved) {
  if (interfaceId == kIID_IKtScrollBar) return static_cast<IKtScrollBar*>(this);
  return KtView::IQuery(interfaceId, reserved);
}

void KtScrollBar::Destroy(int /*flags*/) {
  delete this;
}

// The driven view sets the range on every paint; only a real change asks for
// another paint, so that a paint never requests the next one.
void KtScrollBar::MinimumSet(double minimum) {
  if (minimum == mMinimum) return;
  mMinimum = minimum;
  ViewRefresh(false);
}

void KtScrollBar::MaximumSet(double maximum) {
  if (maximum == mMaximum) return;
  mMaximum = maximum;
  ViewRefresh(false);
}

void KtScrollBar::SliderSet(double start, double end) {
  if (end < start) end = start;
  if (start == mSliderStart && end == mSliderEnd) return;
  mSliderStart = start;
  mSliderEnd = end;
  ViewRefresh(false);
}

void KtScrollBar::DrivenSet(IKtScrollBarDriven* driven) {
  mDriven = driven;
}

bool KtScrollBar::GetSliderWindowRect(int& x, int& y, int& width, int& height) const {
  int wx = 0, wy = 0, ww = 0, wh = 0;
  if (!KtView_GetWindowRect(*this, wx, wy, ww, wh) || !(mMaximum > mMinimum)) return false;
  const SliderGeometry s = ComputeSlider(mMinimum, mMaximum, mSliderStart, mSliderEnd, wh);
  x = wx;
  y = wy + static_cast<int>(std::lround(s.Top));
  width = ww;
  height = static_cast<int>(std::lround(s.Length));
  return true;
}

void KtScrollBar::MoveSliderTo(double start) {
  const double length = std::max(0.0, mSliderEnd - mSliderStart);
  const double highest = std::max(mMinimum, mMaximum - length);
  const double clamped = std::clamp(start, mMinimum, highest);
  if (std::isnan(clamped) || clamped == mSliderStart) return;
  mSliderStart = clamped;
  mSliderEnd = clamped + length;
  if (mDriven) mDriven->ScrollValueChanged(static_cast<float>(clamped));
  KEventBase event(kEventScrollBarMoved, this);
  Broadcast(kEventScrollBarMoved, &event);
  ViewRefresh(false);
}

void KtScrollBar::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  IKtGraphic* g = GetGraphic();
  const float w = static_cast<float>(GetWidth());
  const float h = static_cast<float>(GetHeight());
  glColor3ub(kt_theme::kTrack, kt_theme::kTrack, kt_theme::kTrack);
  g->DrawRectangle(0.0f, 0.0f, w, h);
  const SliderGeometry s = ComputeSlider(mMinimum, mMaximum, mSliderStart, mSliderEnd, GetHeight());
  const unsigned char shade = mDragging ? kt_theme::kEdge : kt_theme::kSlider;
  glColor3ub(shade, shade, shade);
  const float top = static_cast<float>(s.Top);
  const float inset = static_cast<float>(kSliderInset);
  g->DrawRectangle(2.0f, top + inset, w - 2.0f, top + static_cast<float>(s.Length) - inset);
  KtViewExposeEnd();
}

bool KtScrollBar::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  int wx = 0, wy = 0, ww = 0, wh = 0;
  const bool exposed = KtView_GetWindowRect(*this, wx, wy, ww, wh);
  const SliderGeometry s = ComputeSlider(mMinimum, mMaximum, mSliderStart, mSliderEnd, wh);
  switch (event) {
    case kInputMouseDown: {
      if (!exposed || !KtView_ContainsWindowPoint(*this, x, y)) return false;
      if (button != 0 || !s.Scrollable) return true;
      int sliderTop = 0, sliderBottom = 0;
      SliderRows(s, wy, sliderTop, sliderBottom);
      if (y >= sliderTop && y < sliderBottom) {
        mDragging = true;
        mDragOffsetY = y - sliderTop;
        if (mDriven) mDriven->ScrollNotify(0);
        ViewRefresh(false);
      } else {
        // A click on the track pages by the slider's length towards it.
        const double page = std::max(0.0, mSliderEnd - mSliderStart);
        MoveSliderTo(y < sliderTop ? mSliderStart - page : mSliderStart + page);
      }
      return true;
    }
    case kInputMouseMove: {
      if (!mDragging) return false;
      if (s.Scrollable && s.Travel > 0.0) {
        const double top = static_cast<double>(y - mDragOffsetY - wy);
        MoveSliderTo(mMinimum + std::clamp(top / s.Travel, 0.0, 1.0) * s.Span);
      }
      return true;
    }
    case kInputMouseUp: {
      if (!mDragging || button != 0) return mDragging;
      mDragging = false;
      if (mDriven) mDriven->ScrollNotify(1);
      ViewRefresh(false);
      return true;
    }
    case kInputMouseWheel: {
      // The driven view hands its input to the bar: a wheel over the view
      // scrolls it as well as a wheel over the bar itself.
      if (!exposed || !(KtView_ContainsWindowPoint(*this, x, y) || DrivenContains(mDriven, x, y)))
        return false;
      if (!s.Scrollable) return true;
      // One step is a tenth of the visible part (at least one unit).
      const double step = std::max(1.0, (mSliderEnd - mSliderStart) / 10.0);
      MoveSliderTo(mSliderStart - static_cast<double>(button) * step);
      return true;
    }
    default:
      return false;
  }
}
