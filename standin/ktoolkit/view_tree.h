// The toolkit's own operations on views and layouts, which the module never
// calls: keyboard focus, the layout that holds a view, and fitting a layout
// to a size.
//
// Sections: keyboard focus; layouts and their views; access to view state.
// Form of the notes: [thread; ownership].
#pragma once

#include <functional>

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Keyboard focus
//-----------------------------------------------------------------------------

// One view of the process holds the focus at a time. A focusable control
// takes it when clicked; KtViewHost moves it with Tab and Shift+Tab and drops
// it on a click that no control takes. Keys reach a control only while it
// has the focus.
KHOST_API void KtView_SetFocusable(KtView& view, bool focusable);  // [ui; -]
KHOST_API bool KtView_IsFocusable(const KtView& view);             // [ui; -]
KHOST_API bool KtView_HasFocus(const KtView& view);                // [ui; -]
// Gives `view` the focus; the view that had it and this one repaint.
// [ui; keeps view until it is detached or destroyed]
KHOST_API void KtView_TakeFocus(KtView& view);
KHOST_API KtView* KtView_GetFocused();  // null for none [ui; returns borrowed]
KHOST_API void KtView_ClearFocus();     // [ui; -]

//-----------------------------------------------------------------------------
// [SECTION] Layouts and their views
//-----------------------------------------------------------------------------

// The layout whose region holds `view` (null for none). [ui; returns borrowed]
KHOST_API KtLayout* KtView_GetParentLayout(const KtView& view);
// [ui; keeps layout]
KHOST_API void KtView_SetParentLayout(KtView& view, KtLayout* layout);
// A destroyed view leaves every region of `layout` that held it. [ui; -]
KHOST_API void KtLayout_ForgetView(KtLayout& layout, KtView* view);
// Whether, at a size of width × height, every region that holds a view lies
// inside the layout with a size above zero, every layout held fits its
// region the same way, and `leafFits` (when not null) accepts the size every
// other view would get. Changes nothing. [ui; -]
using KtLeafFits = std::function<bool(IKtView* view, int width, int height)>;
KHOST_API bool KtLayout_FitsAt(const KtLayout& layout, int width, int height,
                               const KtLeafFits& leafFits);

//-----------------------------------------------------------------------------
// [SECTION] Access to view state
//-----------------------------------------------------------------------------

// The toolkit's way to the state views and layouts keep for it (a friend of
// KtView and KtLayout). For the toolkit's own sources only.
struct KtToolkitAccess {
  static bool& Focusable(KtView& view) { return view.mFocusable; }
  static KtLayout*& ParentLayout(KtView& view) { return view.mParentLayout; }
  static KtLayout* ParentLayout(const KtView& view) { return view.mParentLayout; }
  // Defined in layout.cpp.
  static void ForgetView(KtLayout& layout, KtView* view);
  static bool FitsAt(const KtLayout& layout, int width, int height, const KtLeafFits& leafFits);
};
