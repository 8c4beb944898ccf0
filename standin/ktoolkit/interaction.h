// The toolkit's time-driven interaction, which the module never calls: the
// clock, the hover tooltip a control with a cut text offers, the repeat of a
// held button, and the fitted text those controls draw.
//
// Sections: clock; tooltips; held-button repeats; fitted text.
// Form of the notes: [thread; ownership].
#pragma once

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Clock
//-----------------------------------------------------------------------------

// Seconds on a steady clock. Tests may replace the clock (null restores it).
KHOST_API double KtClock_Now();               // [ui; -]
KHOST_API void KtClock_Set(double (*now)());  // [ui; -]

//-----------------------------------------------------------------------------
// [SECTION] Tooltips
//-----------------------------------------------------------------------------

// A control whose text is cut offers its whole text while the pointer rests
// over it (window pixels of the pointer); KtViewHost shows it in a tooltip
// once the pointer has rested kToolTipDelay seconds, inside the window.
// Withdraw takes back what `view` offered (nothing when it offered nothing).
inline constexpr double kToolTipDelay = 0.5;
// [ui; keeps view until Withdraw, copies text]
KHOST_API void KtToolTip_Offer(KtView* view, const char* text, int x, int y);
KHOST_API void KtToolTip_Withdraw(KtView* view);  // [ui; -]
// The text shown now (null while nothing is shown). [ui; returns borrowed]
KHOST_API const char* KtToolTip_Shown();
// Where the shown tooltip's pointer rests (window pixels); false when none.
KHOST_API bool KtToolTip_Anchor(int& x, int& y);  // [ui; -]

//-----------------------------------------------------------------------------
// [SECTION] Held-button repeats
//-----------------------------------------------------------------------------

// A held button's repeat: `tick(view, context)` runs first after `delay`
// seconds, then every `interval` seconds, from KtViewHost::Expose, until
// KtRepeat_Stop(view) or another KtRepeat_Start.
// [ui; keeps view and context until Stop]
KHOST_API void KtRepeat_Start(KtView* view, void (*tick)(KtView* view, void* context),
                              void* context, double delay, double interval);
KHOST_API void KtRepeat_Stop(KtView* view);  // [ui; -]
// Runs the repeat when it is due; KtViewHost::Expose calls it. [ui; -]
KHOST_API void KtRepeat_Run();

//-----------------------------------------------------------------------------
// [SECTION] Fitted text
//-----------------------------------------------------------------------------

// Draws `text` from x on the line middle y in `style`, whole when it fits
// left of `right`, otherwise the longest beginning that fits followed by an
// ellipsis (U+2026), so that no glyph is ever cut. Returns true when the text
// was cut. Allocates nothing. [ui; borrows graphic]
KHOST_API bool Graphic_DrawStringFitted(IKtGraphic* graphic, const char* text, float x, float y,
                                        int right, int style);
