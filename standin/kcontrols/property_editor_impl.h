// The inside of KtProperty, shared by the editor's pieces: the common part
// (property_editor.cpp: binding, caption, input routing) and one piece per
// way of editing a value: the check box (property_editor_check.cpp), the
// drop-down of named values (property_editor_named.cpp) and the number
// field with step buttons and typing (property_editor_number.cpp).
//
// Sections: modes and parts; geometry; the editor's state.
#pragma once

#include <GL/gl.h>

#include <algorithm>

#include "host/kcontrols.h"
#include "standin/ktoolkit/item_popup.h"
#include "standin/ktoolkit/view_tree.h"

namespace kt_property {

//-----------------------------------------------------------------------------
// [SECTION] Modes and parts
//-----------------------------------------------------------------------------

// How the edited property is edited.
enum class Mode { kNone, kBool, kNamed, kNumber, kShown };

inline Mode ModeOf(const KProperty* p) {
  if (!p) return Mode::kNone;
  switch (p->GetType()) {
    case kPropertyBool:
      return Mode::kBool;
    case kPropertyInt:
      return p->GetNamedValueCount() > 0 ? Mode::kNamed : Mode::kNumber;
    default:
      return Mode::kShown;
  }
}

// The parts of the editor the pointer can be over or press.
enum class Part { kNone, kCaption, kCheckBox, kDropDown, kMinus, kPlus, kField, kValue };

constexpr int kMaxTyped = 11;  // "-2147483648"
constexpr int kStyle = kGraphic_Font_Style_Regular;

//-----------------------------------------------------------------------------
// [SECTION] Geometry
//-----------------------------------------------------------------------------

// Horizontal pieces of the editor, in view pixels.
struct EditorGeometry {
  int CaptionRight;  // the value area starts here
  int Width;
  int StepWidth;  // width of each of "-" and "+"
  int FieldLeft() const { return CaptionRight + StepWidth + 1; }
  int FieldRight() const { return Width - StepWidth - 1; }
};

// What one paint of the value area works with (view pixels).
struct ValuePaint {
  IKtGraphic* G;
  EditorGeometry Geo;
  float H;           // the editor's height
  float Mid;         // the line middle
  float Left;        // the value area's left edge
  float Right;       // the editor's right edge
  const char* Text;  // the formatted value
  bool Focused;
};

}  // namespace kt_property

//-----------------------------------------------------------------------------
// [SECTION] The editor's state
//-----------------------------------------------------------------------------

struct KtProperty::Impl : public ICallback, public IKtItemPopupSource {
  using Mode = kt_property::Mode;
  using Part = kt_property::Part;
  using EditorGeometry = kt_property::EditorGeometry;
  static constexpr int kMaxTyped = kt_property::kMaxTyped;
  static Mode ModeOf(const KProperty* p) { return kt_property::ModeOf(p); }

  explicit Impl(KtProperty* owner) : Owner(owner), Popup(this) {}
  virtual ~Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  IObject* IQuery(unsigned long /*interfaceId*/, int /*reserved*/) override { return nullptr; }
  void Destroy(int /*flags*/) override {}

  // EditedProperty changed: follow the new property's changes instead of the
  // old one's.
  void OnEditedChanged(IRegister* /*sender*/, KEventBase* /*event*/) {
    Listen(Owner->EditedProperty.Get());
    Owner->ViewRefresh(false);
  }
  void OnValueChanged(IRegister* /*sender*/, KEventBase* /*event*/) { Owner->ViewRefresh(false); }
  void OnLookChanged(IRegister* /*sender*/, KEventBase* /*event*/) { Owner->ViewRefresh(false); }

  void Listen(KProperty* property) {
    if (property == Watched) return;
    Popup.Close();
    Typing = false;
    if (Watched) Watched->RemoveChangeHandler(this, KCALLBACK_HANDLER(Impl::OnValueChanged));
    Watched = property;
    if (Watched) Watched->AddChangeHandler(this, KCALLBACK_HANDLER(Impl::OnValueChanged));
    // Only an editor that edits takes the keyboard focus.
    const Mode mode = ModeOf(Watched);
    KtView_SetFocusable(*Owner,
                        mode == Mode::kBool || mode == Mode::kNamed || mode == Mode::kNumber);
  }

  // IKtItemPopupSource: the named values of the edited property.
  int PopupItemCount() override { return Watched ? Watched->GetNamedValueCount() : 0; }
  const char* PopupItem(int index) override {
    return Watched ? Watched->GetNamedValue(index) : nullptr;
  }
  int PopupSelected() override { return Watched ? Watched->GetAsInt() : -1; }
  void PopupPicked(int index) override {
    if (Watched && ModeOf(Watched) == Mode::kNamed && index >= 0 &&
        index < Watched->GetNamedValueCount())
      Watched->SetFromInt(index);
  }
  void PopupClosed() override { Owner->ViewRefresh(false); }

  EditorGeometry Geometry() const {
    EditorGeometry g;
    g.Width = Owner->GetWidth();
    g.CaptionRight = std::clamp(Owner->mCaptionWidth, 0, g.Width);
    g.StepWidth = std::clamp(Owner->GetHeight(), 0, std::max(0, (g.Width - g.CaptionRight) / 4));
    return g;
  }

  // The check box (property_editor_check.cpp). Paint returns whether the
  // value text was cut.
  bool PaintCheckBox(const kt_property::ValuePaint& p);
  void CheckPress();                 // a left click on the box toggles
  bool CheckKeyChar(int codePoint);  // Space toggles

  // The drop-down of named values (property_editor_named.cpp).
  bool PaintDropDown(const kt_property::ValuePaint& p);
  // Opens the list below the value area (window rectangle of the editor),
  // or closes it when open.
  void NamedPress(int wx, int wy, int ww, int wh);
  bool NamedKeyDown(int key, int wx, int wy, int ww, int wh);
  // A named value one step up or down, kept among the names.
  void StepNamed(int direction);

  // The number field (property_editor_number.cpp).
  bool PaintNumber(const kt_property::ValuePaint& p);
  void NumberPress(bool inField);
  bool NumberWheel(bool inside, int local, int steps);
  bool NumberKeyDown(int key);
  // Writes `value`, kept in the property's range, when it differs.
  void WriteClamped(long long value);
  void Step(int direction);
  // Editing starts with the current value selected: typing replaces it.
  void StartTyping();
  void StopTyping();
  void CommitTyping();
  // Removes the selected text (all of it: only the whole value is ever
  // selected).
  void RemoveSelection();
  void TypeChar(int codePoint);
  // The keys of a field being typed into: Enter writes, Escape cancels, the
  // others edit.
  void TypingKeyDown(int key);
  void EditKey(int key);
  // The held "-" or "+" steps again while the pointer stays on it.
  static void RepeatStep(KtView* view, void* context);

  // The part under a point `local` pixels from the editor's left edge.
  Part PartAt(int local) const {
    const EditorGeometry geo = Geometry();
    if (local < geo.CaptionRight) return Part::kCaption;
    switch (ModeOf(Watched)) {
      case Mode::kBool:
        return Part::kCheckBox;
      case Mode::kNamed:
        return Part::kDropDown;
      case Mode::kNumber:
        if (local < geo.CaptionRight + geo.StepWidth) return Part::kMinus;
        if (local >= geo.Width - geo.StepWidth) return Part::kPlus;
        return Part::kField;
      default:
        return Part::kValue;
    }
  }

  // The shade of a pressable part: darker while pressed with the pointer on
  // it, lighter under the pointer.
  unsigned char Shade(Part part, unsigned char normal, unsigned char hover) const {
    if (Pressed == part && Hover == part) return kt_theme::kButtonPressed;
    return Hover == part ? hover : normal;
  }

  // Leaving the focus ends typing without writing, as a click elsewhere does.
  void DropTypingWithoutFocus() {
    if (Typing && !KtView_HasFocus(*Owner)) Typing = false;
  }

  KtProperty* Owner;
  KProperty* Watched = nullptr;
  KtItemPopup Popup;
  bool Typing = false;
  char Typed[kMaxTyped + 1] = {};
  int TypedLength = 0;
  int Caret = 0;          // insertion point in Typed
  int FirstShown = 0;     // the first character of Typed the field shows
  bool Selected = false;  // the whole typed text is selected
  Part Hover = Part::kNone;
  Part Pressed = Part::kNone;  // the part the left button went down on, while held
  bool CaptionCut = false;     // what the last paint cut
  bool ValueCut = false;
};
