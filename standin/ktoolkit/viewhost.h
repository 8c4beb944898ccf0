// The host application's side of the toolkit, which the module never
// calls: the window's graphic context and the view host, the root of the
// window that paints the top-level view and routes input to it.
//
// Sections: graphic context; view host.
// Form of the notes: [thread; ownership].
#pragma once

#include <string>

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Graphic context
//-----------------------------------------------------------------------------

// Creates the graphic context for the OpenGL context current on this thread,
// for a drawable of the given size. Loads the fonts (fontconfig, FreeType) and
// builds their glyph atlases once. Null on failure, with a reason in *error.
// Owned by the caller: end it with Destroy(0) while the context is current.
KHOST_API IKtGraphic* KtGraphic_CreateGL(int drawableWidth, int drawableHeight,
                                         std::string* error);  // [ui; -]
KHOST_API void KtGraphic_ResizeGL(IKtGraphic* graphic, int drawableWidth,
                                  int drawableHeight);  // [ui; -]

// The context sends no rectangle or text to OpenGL that lies wholly outside
// the current view's scissor rectangle, judging positions through the
// model-view matrix it read when the view was set up (SetViewport, PushView,
// PopView). Code that changes that matrix and then draws through the context
// announces it with KtGraphic_ModelViewChangedGL (again after restoring it).
// KtGraphic_SetSkipOffViewGL(graphic, false) sends everything, to compare
// pixels with and without the skip. Both ignore other graphic contexts.
KHOST_API void KtGraphic_ModelViewChangedGL(IKtGraphic* graphic);           // [ui; -]
KHOST_API void KtGraphic_SetSkipOffViewGL(IKtGraphic* graphic, bool skip);  // [ui; -]

//-----------------------------------------------------------------------------
// [SECTION] View host
//-----------------------------------------------------------------------------

// The window's root: attaches one top-level view to a graphic context, sizes
// it to the window, paints it (then the open popup) and routes input (the
// popup first). It is the root view's container.
class KHOST_API KtViewHost : public IKtViewContainer {
 public:
  explicit KtViewHost(IKtGraphic* graphic);  // borrowed [ui; -]
  virtual ~KtViewHost();
  KtViewHost(const KtViewHost&) = delete;
  KtViewHost& operator=(const KtViewHost&) = delete;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;  // [ui; -]
  void Destroy(int flags) override;  // does nothing; owned by its creator [ui; -]

  // Attaches `view` (borrowed until SetRoot(nullptr) or destruction, which
  // detach it) at the window's top-left with the given size.
  void SetRoot(IKtView* view, int width, int height);  // [ui; -]
  IKtView* GetRoot() const { return mRoot; }           // [ui; -]
  void Resize(int width, int height);                  // [ui; -]
  // Clears the window and paints the root view, the popup and a due
  // tooltip (running a due held-button repeat first).
  void Expose();  // [ui; -]
  // Routes input: the popup first, then the root view. Tab and Shift+Tab
  // move the keyboard focus; a click no control takes drops it.
  bool Input(int event, int x, int y, int button, int modifiers);  // [ui; -]
  // Moves the focus to the next (or previous) focusable control under the
  // root that has been painted, in the order of the root's layouts: the
  // regions' order, and members of one object in their declaration order.
  // False when there is none.
  bool MoveFocus(bool backwards);  // [ui; -]

  // IKtViewContainer
  void ViewRefreshRequest(IKtView* view, bool immediate) override;  // [ui; -]
  bool PopupOpen(IKtView* popup) override;                          // [ui; -]
  void PopupClose(IKtView* popup) override;                         // [ui; -]

  IKtView* GetPopup() const { return mPopup; }                     // [ui; -]
  int GetRefreshRequestCount() const { return mRefreshRequests; }  // [ui; -]
  bool TakeRefreshRequest();  // true once after any request [ui; -]

 private:
  IKtGraphic* mGraphic;
  IKtView* mRoot = nullptr;
  IKtView* mPopup = nullptr;
  int mWidth = 0;
  int mHeight = 0;
  int mRefreshRequests = 0;
  bool mRefreshPending = false;
};
