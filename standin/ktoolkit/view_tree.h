// The toolkit's own operations on views and layouts, which the module never
// calls: keyboard focus, the layout that holds a view, fitting a layout to a
// size, and reading back what views and layouts hold.
//
// Sections: keyboard focus; layouts and their views; reading views and
// layouts; access to view state.
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
// [SECTION] Reading views and layouts
//-----------------------------------------------------------------------------

// Subscriptions of one event of the view's IRegister. [ui; -]
KHOST_API int KtView_GetRegisteredCount(const KtView& view, int eventId);
// The window rectangle of the last expose; false before the first. [ui; -]
KHOST_API bool KtView_GetWindowRect(const KtView& view, int& x, int& y, int& width, int& height);
// Whether a window point lies in that rectangle; false before the first
// expose. [ui; -]
KHOST_API bool KtView_ContainsWindowPoint(const KtView& view, int x, int y);
// Number of ViewRefresh calls so far. [ui; -]
KHOST_API int KtView_GetRefreshCount(const KtView& view);

// Resolved rectangle of a region, in layout pixels; false when unknown. [ui; -]
KHOST_API bool KtLayout_GetRegionRect(const KtLayout& layout, const char* region, int& left,
                                      int& top, int& right, int& bottom);
KHOST_API int KtLayout_GetRegionCount(const KtLayout& layout);  // [ui; -]
// Null outside range. [ui; returns borrowed]
KHOST_API const char* KtLayout_GetRegionName(const KtLayout& layout, int index);
// Null for an unknown region. [ui; returns borrowed]
KHOST_API const char* KtLayout_GetRegionTitle(const KtLayout& layout, const char* region);
// The view a region holds; null for none. [ui; returns borrowed]
KHOST_API IKtView* KtLayout_GetRegionView(const KtLayout& layout, const char* region);
// Whether a region has a visible frame (SetBorder). [ui; -]
KHOST_API bool KtLayout_HasBorder(const KtLayout& layout, const char* region);

//-----------------------------------------------------------------------------
// [SECTION] Access to view state
//-----------------------------------------------------------------------------

// The toolkit's way to the state views and layouts keep for it (a friend of
// KtView and KtLayout). For the toolkit's own sources only.
struct KtToolkitAccess {
  static bool& Focusable(KtView& view) { return view.mFocusable; }
  static KtLayout*& ParentLayout(KtView& view) { return view.mParentLayout; }
  static KtLayout* ParentLayout(const KtView& view) { return view.mParentLayout; }
  // Defined in view.cpp.
  static int RegisteredCount(const KtView& view, int eventId);
  static bool WindowRect(const KtView& view, int& x, int& y, int& width, int& height);
  static int RefreshCount(const KtView& view) { return view.mRefreshCount; }
  // Defined in layout.cpp.
  static bool RegionRect(const KtLayout& layout, const char* region, int& left, int& top,
                         int& right, int& bottom);
  static int RegionCount(const KtLayout& layout);
  static const char* RegionName(const KtLayout& layout, int index);
  static const char* RegionTitle(const KtLayout& layout, const char* region);
  static IKtView* RegionView(const KtLayout& layout, const char* region);
  static bool HasBorder(const KtLayout& layout, const char* region);
  static void ForgetView(KtLayout& layout, KtView* view);
  static bool FitsAt(const KtLayout& layout, int width, int height, const KtLeafFits& leafFits);
};
