// Time-driven parts of the toolkit's interaction: the clock, the hover
// tooltip a control with a cut text offers, and the repeat of a held
// button. All user-interface thread only; one of each per process, as there
// is one pointer.
#include "standin/ktoolkit/interaction.h"

#include <chrono>
#include <cstring>

#include "host/ktoolkit.h"

namespace {

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double (*gNow)() = SteadyNow;

struct ToolTip {
  KtView* View = nullptr;
  char Text[256] = {};
  int X = 0;
  int Y = 0;
  double Since = 0.0;
};
ToolTip gToolTip;

struct Repeat {
  KtView* View = nullptr;
  void (*Tick)(KtView*, void*) = nullptr;
  void* Context = nullptr;
  double Next = 0.0;
  double Interval = 0.0;
};
Repeat gRepeat;

}  // namespace

double KtClock_Now() {
  return gNow();
}

void KtClock_Set(double (*now)()) {
  gNow = now ? now : SteadyNow;
}

void KtToolTip_Offer(KtView* view, const char* text, int x, int y) {
  if (!view || !text || !*text) {
    KtToolTip_Withdraw(view);
    return;
  }
  const bool same = gToolTip.View == view && std::strncmp(gToolTip.Text, text, 255) == 0;
  // The delay counts from when the pointer came to this text; moving over
  // the same text keeps a tooltip that is already shown.
  if (!same) {
    gToolTip.View = view;
    std::strncpy(gToolTip.Text, text, sizeof(gToolTip.Text) - 1);
    gToolTip.Text[sizeof(gToolTip.Text) - 1] = '\0';
    gToolTip.Since = KtClock_Now();
  }
  gToolTip.X = x;
  gToolTip.Y = y;
}

void KtToolTip_Withdraw(KtView* view) {
  if (view && gToolTip.View == view) gToolTip.View = nullptr;
}

const char* KtToolTip_Shown() {
  if (!gToolTip.View || KtClock_Now() - gToolTip.Since < kToolTipDelay) return nullptr;
  return gToolTip.Text;
}

// Where the shown tooltip points (window pixels); false when none is shown.
bool KtToolTip_Anchor(int& x, int& y) {
  if (!KtToolTip_Shown()) return false;
  x = gToolTip.X;
  y = gToolTip.Y;
  return true;
}

void KtRepeat_Start(KtView* view, void (*tick)(KtView*, void*), void* context, double delay,
                    double interval) {
  gRepeat.View = view;
  gRepeat.Tick = tick;
  gRepeat.Context = context;
  gRepeat.Next = KtClock_Now() + delay;
  gRepeat.Interval = interval > 0.0 ? interval : 0.05;
}

void KtRepeat_Stop(KtView* view) {
  if (view && gRepeat.View == view) gRepeat.View = nullptr;
}

void KtRepeat_Run() {
  if (!gRepeat.View || !gRepeat.Tick) return;
  const double now = KtClock_Now();
  if (now < gRepeat.Next) return;
  // One step per due call, however late the call: a slow frame must not
  // fire a burst of steps.
  gRepeat.Next = now + gRepeat.Interval;
  gRepeat.Tick(gRepeat.View, gRepeat.Context);
}
