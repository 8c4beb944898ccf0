// ktoolkit: the host's user-interface toolkit, as the module sees it.
//
// Sections: basic types; interfaces (geometry, graphic context, container,
// view, scroll bar); KtView; KtLayout; controls (label, button, list, tab
// strip, scroll bar); text helpers. Notes on operations: [thread; ownership]
// (see host/kbaselib.h).
//
// Coordinates: pixels, origin top-left, x to the right, y downwards.
//   - A view's position (IKtGeometry) is relative to the view that contains
//     and exposes it (its layout, or the view that exposes it inside its own
//     paint, as a view does with its scroll bar).
//   - Drawing inside ViewExpose is in the view's own pixels once
//     KtViewExposeBegin (or SetViewport) has set the view up.
//   - Input (ViewInput) carries window pixels; each view hit-tests against the
//     window rectangle it was last exposed at, so input can be passed down
//     unchanged.
//
// Threads: user-interface thread only.
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Basic types
//-----------------------------------------------------------------------------

// How a control is created: 0 plain, 1 a regular control of a panel. The
// stand-in treats both alike.
typedef int kViewCreation;

// Placement attach kinds of KtLayout::AddRegion. Any int is a valid value
// (unknown kinds count as 7), hence the fixed underlying type.
enum ktLayoutAttach : int {
  kLayoutAttachLeft = 0,    // the reference's left edge
  kLayoutAttachRight = 1,   // the reference's right edge
  kLayoutAttachTop = 2,     // the reference's top edge
  kLayoutAttachBottom = 3,  // the reference's bottom edge
  kLayoutAttachNone = 7,    // no reference: the offset is an absolute size
};

// Font styles of the text functions.
typedef int kGraphic_Font_Style;
enum : int {
  kGraphic_Font_Style_Default = -1,  // condensed, 12 px: statistics and chart text
  kGraphic_Font_Style_Regular = 0,   // condensed, 11 px: the controls' text
  kGraphic_Font_Style_Bold = 1,      // condensed bold, 11 px
  kGraphic_Font_Style_Title = 2,     // bold, 16 px
  kGraphic_Font_Style_Small = 3,     // condensed, 10 px
};

// Primitive kinds of IKtGraphic::BeginPrimitive.
enum : int {
  kPrimitiveLines = 0,  // vertices taken in pairs, each pair a segment
  kPrimitiveLineStrip = 1,
  kPrimitiveLineLoop = 2,
  kPrimitiveTriangles = 3,
  kPrimitiveQuads = 4,
  kPrimitivePoints = 5,
};

// ViewInput(event, x, y, button, modifiers). x and y are window pixels.
enum kViewInputEvent : int {
  kInputMouseMove = 0,
  kInputMouseDown = 1,   // button: 0 left, 1 right, 2 middle
  kInputMouseUp = 2,     // button as for kInputMouseDown
  kInputMouseWheel = 3,  // button: steps, positive away from the user (up)
  kInputKeyChar = 4,     // button: the Unicode code point typed
  kInputKeyDown = 5,     // button: a kKey code
};

enum kKey : int {
  kKeyEnter = 1,
  kKeyEscape = 2,
  kKeyBackspace = 3,
  kKeyUp = 4,
  kKeyDown = 5,
  kKeyTab = 6,
  kKeyLeft = 7,
  kKeyRight = 8,
  kKeyHome = 9,
  kKeyEnd = 10,
  kKeyDelete = 11,
};

enum kInputModifier : int {
  kModShift = 1,
  kModControl = 2,
  kModAlt = 4,
};

//-----------------------------------------------------------------------------
// [SECTION] Interfaces
//-----------------------------------------------------------------------------

class IKtView;
class KtLayout;

// Operations in this order: IQuery, Destroy, GetWidth, GetHeight, GetPosX,
// GetPosY, SetWidth, SetHeight, SetPosX, SetPosY, SetPos, SetSize.
class IKtGeometry : public IObject {
 public:
  virtual int GetWidth() = 0;                       // [ui; -]
  virtual int GetHeight() = 0;                      // [ui; -]
  virtual int GetPosX() = 0;                        // [ui; -]
  virtual int GetPosY() = 0;                        // [ui; -]
  virtual void SetWidth(int width) = 0;             // negative sizes count as 0 [ui; -]
  virtual void SetHeight(int height) = 0;           // [ui; -]
  virtual void SetPosX(int x) = 0;                  // [ui; -]
  virtual void SetPosY(int y) = 0;                  // [ui; -]
  virtual void SetPos(int x, int y) = 0;            // [ui; -]
  virtual void SetSize(int width, int height) = 0;  // [ui; -]

 protected:
  ~IKtGeometry() = default;
};

// The graphic context a view receives in Attach (borrowed: the host owns it
// and keeps it alive while the view is attached). Draws with OpenGL on the
// window's context; every drawing call uses the current OpenGL colour.
class IKtGraphic : public IObject {
 public:
  // Makes GL coordinates the pixels of the rectangle (x, y, width, height) of
  // the current view (origin top-left, y down): viewport, scissor and an
  // orthographic projection. Leaves GL_MODELVIEW current.
  virtual void SetViewport(int x, int y, int width, int height) = 0;  // [ui; -]
  // A filled rectangle between two corners (any order).
  virtual void DrawRectangle(float x0, float y0, float x1, float y1) = 0;  // [ui; -]
  // glBegin/glEnd with a kPrimitive kind; the caller issues the vertices.
  virtual void BeginPrimitive(int kind) = 0;  // [ui; -]
  virtual void EndPrimitive() = 0;            // [ui; -]
  // One line of text. (x, y): the left end of the line's vertical middle.
  // Glyphs outside the columns [clipLeft, clipRight] are not drawn (pass
  // INT_MIN, INT_MAX for none). fontStyle: a kGraphic_Font_Style. Allocates
  // nothing.
  virtual void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                          int fontStyle) = 0;  // [ui; borrows text]
  // Width and height in pixels of one line of text in a style.
  virtual void MeasureString(const char* text, int fontStyle, int& width,
                             int& height) = 0;  // [ui; borrows text]
  // Toolkit side: enters a view at (x, y) of the current view with the given
  // size (origin moves there; viewport, scissor and projection set up for
  // it). PopView returns to the enclosing view's set-up.
  virtual void PushView(int x, int y, int width, int height) = 0;  // [ui; -]
  virtual void PopView() = 0;                                      // [ui; -]
  // The window position of the current view's origin.
  virtual void GetViewOrigin(int& x, int& y) = 0;  // [ui; -]

 protected:
  ~IKtGraphic() = default;
};

// What holds views: a layout, or the host's window.
class IKtViewContainer : public IObject {
 public:
  // A view asks to be painted again. `immediate` asks for a paint before the
  // next frame; otherwise the paint may wait for the next frame.
  virtual void ViewRefreshRequest(IKtView* view, bool immediate) = 0;  // [ui; borrows view]
  // Shows `popup` (borrowed until PopupClose) above every other view and
  // gives it input first, until PopupClose. One popup at a time: opening
  // another closes the first. Returns false when no window takes popups.
  virtual bool PopupOpen(IKtView* popup) = 0;   // [ui; keeps popup until PopupClose]
  virtual void PopupClose(IKtView* popup) = 0;  // [ui; -]

 protected:
  ~IKtViewContainer() = default;
};

// Operations in this order: IQuery, Destroy, GetGraphicType, ViewExpose,
// ViewInput, ViewRefresh, Attach, Detach.
class IKtView : public IObject {
 public:
  // How the view wants its graphic context: type 0 immediate-mode OpenGL;
  // flag true when the view paints its whole rectangle itself.
  virtual void GetGraphicType(int& type, bool& flag) = 0;  // [ui; -]
  // Paints the view. The geometry argument may be null.
  virtual void ViewExpose(IKtGeometry* geometry) = 0;  // [ui; borrows geometry]
  // Input (window pixels); returns true when the view used it.
  virtual bool ViewInput(int event, int x, int y, int button, int modifiers) = 0;  // [ui; -]
  // Asks the container for a paint (see IKtViewContainer::ViewRefreshRequest).
  virtual void ViewRefresh(bool immediate) = 0;  // [ui; -]
  // Container and graphic are borrowed until Detach.
  virtual void Attach(IKtViewContainer* container,
                      IKtGraphic* graphic) = 0;  // [ui; keeps container, graphic until Detach]
  virtual void Detach(IKtViewContainer* container) = 0;  // [ui; -]

 protected:
  ~IKtView() = default;
};

class IQzObjectHolder : public IObject {
 public:
  // the object this view presents; may be null
  virtual IObject* GetHeldObject() = 0;  // [ui; returns borrowed]

 protected:
  ~IQzObjectHolder() = default;
};

class IKtSkinnedView : public IObject {
 public:
  virtual void SkinSet(int skin) = 0;  // 0 the default look [ui; -]
  virtual int SkinGet() = 0;           // [ui; -]

 protected:
  ~IKtSkinnedView() = default;
};

class IKtObject : public IObject {
 public:
  virtual const char* GetObjectName() = 0;  // [ui; returns borrowed]

 protected:
  ~IKtObject() = default;
};

class IKtLayout : public IObject {
 public:
  // Resolves every region against the current size and places the controls.
  virtual void LayoutRegions() = 0;  // [ui; -]

 protected:
  ~IKtLayout() = default;
};

class IKtScrollBarDriven;

// Operations in this relative order: MinimumSet, MaximumSet, SliderSet,
// DrivenSet.
class IKtScrollBar : public IObject {
 public:
  virtual void MinimumSet(double minimum) = 0;  // [ui; -]
  virtual void MaximumSet(double maximum) = 0;  // [ui; -]
  // The part of the range [start, end] the slider covers.
  virtual void SliderSet(double start, double end) = 0;  // [ui; -]
  // The receiver of slider moves (borrowed; null for none).
  virtual void DrivenSet(IKtScrollBarDriven* driven) = 0;  // [ui; keeps driven]

 protected:
  ~IKtScrollBar() = default;
};

// Implemented by what a scroll bar drives: IQuery, Destroy, ScrollNotify,
// ScrollValueChanged.
class IKtScrollBarDriven : public IObject {
 public:
  // The user started (code 0) or ended (code 1) a drag of the slider.
  virtual void ScrollNotify(int code) = 0;  // [ui; -]
  // The slider moved; `start` is its new start in range units.
  virtual void ScrollValueChanged(float start) = 0;  // [ui; -]

 protected:
  ~IKtScrollBarDriven() = default;
};

//-----------------------------------------------------------------------------
// [SECTION] KtView
//-----------------------------------------------------------------------------

// A rectangle of the window that paints itself and takes input. Base chain
// KtView : KObject : KPlug : ICallback : IObject, with IQzObjectHolder,
// IRegister, IKtGeometry, IKtView and IKtSkinnedView.
//
// Destroy(int) deletes a heap view; a view held by value must not be
// destroyed through it. A view removes itself from its layout's regions when
// it is destroyed.
class KHOST_API KtView : public KObject,
                         public IQzObjectHolder,
                         public IRegister,
                         public IKtGeometry,
                         public IKtView,
                         public IKtSkinnedView {
 public:
  explicit KtView(kViewCreation creation = 0);  // [ui; -]
  ~KtView() override;

  // IObject (one implementation for every interface of the view)
  IObject* IQuery(unsigned long interfaceId, int reserved) override;  // [ui; -]
  void Destroy(int flags) override;                                   // [ui; -]

  // IQzObjectHolder
  IObject* GetHeldObject() override;  // [ui; -]

  // IRegister
  bool Register(int eventId, ICallback* receiver, kICallbackHandler handler,
                int priority) override;                                                   // [ui; -]
  bool Unregister(int eventId, ICallback* receiver, kICallbackHandler handler) override;  // [ui; -]
  void Broadcast(int eventId, KEventBase* event) override;                                // [ui; -]

  // IKtGeometry
  int GetWidth() override;                       // [ui; -]
  int GetHeight() override;                      // [ui; -]
  int GetPosX() override;                        // [ui; -]
  int GetPosY() override;                        // [ui; -]
  void SetWidth(int width) override;             // [ui; -]
  void SetHeight(int height) override;           // [ui; -]
  void SetPosX(int x) override;                  // [ui; -]
  void SetPosY(int y) override;                  // [ui; -]
  void SetPos(int x, int y) override;            // [ui; -]
  void SetSize(int width, int height) override;  // [ui; -]

  // IKtView
  void GetGraphicType(int& type, bool& flag) override;  // 0, false [ui; -]
  void ViewExpose(IKtGeometry* geometry) override;      // paints nothing [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // false [ui; -]
  void ViewRefresh(bool immediate) override;                                    // [ui; -]
  void Attach(IKtViewContainer* container, IKtGraphic* graphic) override;       // [ui; -]
  void Detach(IKtViewContainer* container) override;                            // [ui; -]

  // IKtSkinnedView
  void SkinSet(int skin) override;  // [ui; -]
  int SkinGet() override;           // [ui; -]

  // Paint bracket. Begin returns false (and End must not be called) when the
  // view has no graphic context or an empty size; otherwise it enters the
  // view on the graphic context (PushView), records the window rectangle
  // used for hit testing, and sets *sizeChanged (when not null) if the size
  // differs from the last expose's (always on the first). End leaves it.
  bool KtViewExposeBegin(bool* sizeChanged);  // [ui; -]
  void KtViewExposeEnd();                     // [ui; -]

  IKtGraphic* GetGraphic() const { return mGraphic; }            // [ui; returns borrowed]
  IKtViewContainer* GetContainer() const { return mContainer; }  // [ui; returns borrowed]

 private:
  friend struct KtToolkitAccess;  // the toolkit's own operations (focus, layouts, reading)
  int mPosX = 0;
  int mPosY = 0;
  int mWidth = 0;
  int mHeight = 0;
  int mExposedWidth = -1;
  int mExposedHeight = -1;
  int mWindowX = 0;
  int mWindowY = 0;
  bool mExposedOnce = false;
  bool mFocusable = false;
  int mSkin = 0;
  int mRefreshCount = 0;
  IKtViewContainer* mContainer = nullptr;
  IKtGraphic* mGraphic = nullptr;
  KtLayout* mParentLayout = nullptr;
  struct EventTable;
  EventTable* mEvents = nullptr;
};

//-----------------------------------------------------------------------------
// [SECTION] KtLayout
//-----------------------------------------------------------------------------

// A view divided into named regions, each holding at most one control (a
// KtView placed with SetControl, or any IKtView placed with SetView). The
// layout is the container of its controls: it attaches them when it is
// attached, sizes them to their regions, exposes them in region order after
// painting its frames, and passes input to them.
//
// Region placements: each of x, y, width and height is (offset, attach kind,
// reference region, multiplier); null reference: the layout itself. x and y
// give the left and top edge: the reference's edge (by attach kind) +
// offset × multiplier. Width and height give the right and bottom edge the
// same way, except attach kind 7, where offset × multiplier is the size.
// Regions are resolved in the order they were added, so a reference names a
// region added before. Unknown attach kinds count as 7.
class KHOST_API KtLayout : public KtView, public IKtObject, public IKtLayout {
 public:
  explicit KtLayout(kViewCreation creation = 0);  // [ui; -]
  ~KtLayout() override;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;  // [ui; -]
  void Destroy(int flags) override;  // deletes a heap layout [ui; -]

  // Adds a region. The title (may be null) is copied and drawn by SetBorder.
  // Returns false, and adds nothing, for a null or empty or repeated name or a
  // reference that names no earlier region.
  bool AddRegion(const char* name, const char* title, int x, ktLayoutAttach xAttach,
                 const char* xRelativeTo, float xMultiplier, int y, ktLayoutAttach yAttach,
                 const char* yRelativeTo, float yMultiplier, int width, ktLayoutAttach widthAttach,
                 const char* widthRelativeTo, float widthMultiplier, int height,
                 ktLayoutAttach heightAttach, const char* heightRelativeTo,
                 float heightMultiplier);  // [ui; copies strings]
  // Puts a control (borrowed until ClearControl or its destruction) in a
  // region, replacing what was there. False for an unknown region.
  bool SetControl(const char* region, KtView& control);  // [ui; keeps control until cleared]
  bool SetView(const char* region, IKtView* view);       // [ui; keeps view until cleared]
  // Empties a region (detaching its control). False for an unknown region.
  bool ClearControl(const char* region);  // [ui; -]
  // A frame around a region: (lineWidth, visible, withTitle, inset, style,
  // shadePercent, reserved). The frame is drawn lineWidth pixels wide, inset
  // pixels inside the region's rectangle, in grey at shadePercent of white;
  // with withTitle, the region's title is drawn on its top edge.
  bool SetBorder(const char* region, int lineWidth, bool visible, bool withTitle, int inset,
                 int style, float shadePercent, int reserved);  // [ui; -]

  // Fired by LayoutRefresh: the host calls it when the layout's content should
  // show fresh data (every frame of new profiling data), and the layout
  // calls it after it re-resolved its regions for a new size.
  KPropertyEvent LayoutRefreshEvent;
  void LayoutRefresh();  // [ui; -]

  // IKtObject, IKtLayout
  const char* GetObjectName() override;  // [ui; -]
  void LayoutRegions() override;         // [ui; -]

  // KtView overrides
  void SetWidth(int width) override;                                            // [ui; -]
  void SetHeight(int height) override;                                          // [ui; -]
  void SetSize(int width, int height) override;                                 // [ui; -]
  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]
  void Attach(IKtViewContainer* container, IKtGraphic* graphic) override;       // [ui; -]
  void Detach(IKtViewContainer* container) override;                            // [ui; -]

 private:
  struct Impl;
  Impl* mImpl;
  struct Container;  // the IKtViewContainer the layout gives its controls
  Container* mContainerImpl;
  void DetachControls();          // [ui; -]
  friend struct KtToolkitAccess;  // the toolkit's own operations (fitting, reading)
};

// A layout that is a window's content.
class KHOST_API KtForm : public KtLayout {
 public:
  explicit KtForm(kViewCreation creation = 0);  // [ui; -]
  ~KtForm() override;
};

//-----------------------------------------------------------------------------
// [SECTION] Controls
//-----------------------------------------------------------------------------

// A text label.
class KHOST_API KtStatic : public KtView {
 public:
  explicit KtStatic(kViewCreation creation = 0);  // [ui; -]
  ~KtStatic() override;
  KPropertyTemplate<char*> Caption;
  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]

 private:
  bool mCut = false;  // the last paint cut the caption
};

// A push button: OnClick fires when the left button is pressed and released
// over it (or when the host presses it from code).
class KHOST_API KtButton : public KtView {
 public:
  explicit KtButton(kViewCreation creation = 0);  // [ui; -]
  ~KtButton() override;
  KPropertyTemplate<char*> Caption;
  KPropertyEvent OnClick;
  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]

 private:
  bool mPressed = false;
  bool mHover = false;
  bool mCut = false;  // the last paint cut the caption
};

// A drop-down list: a click opens the item list below the control (as a
// popup above every other view); a click on an item selects it. The wheel and
// the Up/Down keys step through the items. SelectedIndex starts at 0; OnChange
// fires whenever SelectedIndex changes, by the user or by assignment.
class KHOST_API KtList : public KtView {
 public:
  explicit KtList(kViewCreation creation = 0);  // [ui; -]
  ~KtList() override;
  KPropertyTemplate<char*> Items;  // "~"-separated
  KPropertyTemplate<int> SelectedIndex;
  KPropertyEvent OnChange;
  int GetItemCount() const;                         // [ui; -]
  const char* GetItem(int index) const;             // null outside range [ui; returns borrowed]
  int FindItem(const char* text) const;             // -1 when absent [ui; -]
  bool IsOpen() const;                              // [ui; -]
  void ViewExpose(IKtGeometry* geometry) override;  // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]
  void Detach(IKtViewContainer* container) override;                            // [ui; -]

 private:
  struct Impl;
  Impl* mImpl;
};

// A strip of tabs, captions from Items ("~"-separated); a click selects a tab.
class KHOST_API KtTabPanel : public KtView {
 public:
  explicit KtTabPanel(kViewCreation creation = 0);  // [ui; -]
  ~KtTabPanel() override;
  KPropertyTemplate<char*> Items;
  KPropertyTemplate<int> SelectedIndex;
  KPropertyEvent OnChange;
  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]

 private:
  friend struct KtControlsAccess;  // the toolkit's reading of the tabs
  struct Impl;
  Impl* mImpl;
};

// A vertical scroll bar: a track with a slider covering [start, end] of the
// range [minimum, maximum]. Dragging the slider, clicking the track (a page)
// or the wheel over the bar moves it; every move calls the driven view's
// ScrollValueChanged with the slider's new start and broadcasts
// kEventScrollBarMoved on the bar's IRegister.
class KHOST_API KtScrollBar : public KtView, public IKtScrollBar {
 public:
  enum { kEventScrollBarMoved = 556677123 };

  explicit KtScrollBar(kViewCreation creation = 0);  // [ui; -]
  ~KtScrollBar() override;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;  // [ui; -]
  void Destroy(int flags) override;                                   // [ui; -]

  // IKtScrollBar
  void MinimumSet(double minimum) override;             // [ui; -]
  void MaximumSet(double maximum) override;             // [ui; -]
  void SliderSet(double start, double end) override;    // [ui; -]
  void DrivenSet(IKtScrollBarDriven* driven) override;  // [ui; -]

  double MinimumGet() const { return mMinimum; }             // [ui; -]
  double MaximumGet() const { return mMaximum; }             // [ui; -]
  double SliderStartGet() const { return mSliderStart; }     // [ui; -]
  double SliderEndGet() const { return mSliderEnd; }         // [ui; -]
  IKtScrollBarDriven* DrivenGet() const { return mDriven; }  // [ui; returns borrowed]
  // The slider's extent in window pixels (from the last expose; it is drawn
  // one pixel inside at each end, and a press anywhere in it drags); false
  // before the first expose or when there is nothing to scroll.
  bool GetSliderWindowRect(int& x, int& y, int& width, int& height) const;  // [ui; -]

  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]

 private:
  void MoveSliderTo(double start);  // [ui; -]
  double mMinimum = 0.0;
  double mMaximum = 0.0;
  double mSliderStart = 0.0;
  double mSliderEnd = 0.0;
  IKtScrollBarDriven* mDriven = nullptr;
  bool mDragging = false;
  int mDragOffsetY = 0;
};

//-----------------------------------------------------------------------------
// [SECTION] Text helpers
//-----------------------------------------------------------------------------

// Width and height in pixels of one line of `text` in `style`.
KHOST_API void Graphic_GetStringSizeVertex(
    IKtGraphic* graphic, char* text, int& width, int& height,
    kGraphic_Font_Style style);  // [ui; borrows graphic, text]
// Draws `text` anchored at the vertex (x, y): alignX and alignY are the
// fractions of the text's width and height by which it moves left and up
// from the anchor (0, 0: the left end of the line's vertical middle at the
// vertex, as DrawString); scale magnifies around the anchor (1 natural size).
// Draws in the current GL colour.
KHOST_API void Graphic_DrawStringCenterVertex(
    IKtGraphic* graphic, char* text, double x, double y, double alignX, double alignY, double scale,
    kGraphic_Font_Style style);  // [ui; borrows graphic, text]
