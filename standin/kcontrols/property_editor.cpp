// KtProperty: the editor of one host property. A caption column on the left,
// the value on the right, edited in the way the property's type asks for: a
// check box, a drop-down of named values, or a number field with step
// buttons and typing. Every write goes through the property so its own
// change handlers run; the editor listens to the property so a change made
// elsewhere repaints it.
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/kcontrols.h"
#include "standin/ktoolkit/item_popup.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

enum class Mode { kNone, kBool, kNamed, kNumber, kShown };

Mode ModeOf(const KProperty* p) {
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

using kt_theme::F;
using kt_theme::Grey;
using kt_theme::Outline;

// The property's range in order, whatever order it was given in.
void RangeOf(const KProperty* p, long long& low, long long& high) {
  low = p->GetMinimum();
  high = p->GetMaximum();
  if (low > high) std::swap(low, high);
}

constexpr int kMaxTyped = 11;  // "-2147483648"

// Holding "-" or "+" steps again after this delay, then at this interval.
constexpr double kRepeatDelay = 0.4;
constexpr double kRepeatInterval = 0.06;

// The parts of the editor the pointer can be over or press.
enum class Part { kNone, kCaption, kCheckBox, kDropDown, kMinus, kPlus, kField, kValue };

}  // namespace

// Horizontal pieces of the editor, in view pixels.
struct EditorGeometry {
  int CaptionRight;  // the value area starts here
  int Width;
  int StepWidth;  // width of each of "-" and "+"
  int FieldLeft() const { return CaptionRight + StepWidth + 1; }
  int FieldRight() const { return Width - StepWidth - 1; }
};

struct KtProperty::Impl : public ICallback, public IKtItemPopupSource {
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
    KtView_SetFocusable(*Owner, mode == Mode::kBool || mode == Mode::kNamed || mode == Mode::kNumber);
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

  // Writes `value`, kept in the property's range, when it differs.
  void WriteClamped(long long value) {
    if (!Watched) return;
    long long low = 0, high = 0;
    RangeOf(Watched, low, high);
    const int clamped = static_cast<int>(std::clamp(value, low, high));
    if (clamped != Watched->GetAsInt()) Watched->SetFromInt(clamped);
  }

  void Step(int direction) {
    if (!Watched) return;
    const long long step = std::max(1, Watched->GetStep());
    WriteClamped(static_cast<long long>(Watched->GetAsInt()) + direction * step);
  }

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

  // Editing starts with the current value selected: typing replaces it.
  void StartTyping() {
    Typing = true;
    const int written =
        std::snprintf(Typed, sizeof(Typed), "%d", Watched ? Watched->GetAsInt() : 0);
    TypedLength = std::clamp(written, 0, kMaxTyped);
    Caret = TypedLength;
    Selected = TypedLength > 0;
    Owner->ViewRefresh(false);
  }
  void StopTyping() {
    if (!Typing) return;
    Typing = false;
    Owner->ViewRefresh(false);
  }
  void CommitTyping() {
    const bool hasDigits = TypedLength > 0 && !(TypedLength == 1 && Typed[0] == '-');
    Typing = false;
    if (hasDigits) WriteClamped(std::strtoll(Typed, nullptr, 10));
    Owner->ViewRefresh(false);
  }
  // Removes the selected text (all of it: only the whole value is ever
  // selected).
  void RemoveSelection() {
    if (!Selected) return;
    Selected = false;
    TypedLength = 0;
    Caret = 0;
    Typed[0] = '\0';
  }
  void TypeChar(int codePoint) {
    const bool digit = codePoint >= '0' && codePoint <= '9';
    if (!digit && codePoint != '-') return;
    RemoveSelection();
    const bool sign = codePoint == '-' && Caret == 0 && (TypedLength == 0 || Typed[0] != '-');
    if ((!digit && !sign) || TypedLength >= kMaxTyped) return;
    // Nothing goes before a sign.
    if (digit && Caret == 0 && TypedLength > 0 && Typed[0] == '-') return;
    std::memmove(Typed + Caret + 1, Typed + Caret, static_cast<size_t>(TypedLength - Caret + 1));
    Typed[Caret] = static_cast<char>(codePoint);
    ++TypedLength;
    ++Caret;
    Owner->ViewRefresh(false);
  }
  // The editing keys of a field being typed into.
  void EditKey(int key) {
    switch (key) {
      case kKeyBackspace:
        if (Selected) {
          RemoveSelection();
        } else if (Caret > 0) {
          std::memmove(Typed + Caret - 1, Typed + Caret,
                       static_cast<size_t>(TypedLength - Caret + 1));
          --TypedLength;
          --Caret;
        }
        break;
      case kKeyDelete:
        if (Selected) {
          RemoveSelection();
        } else if (Caret < TypedLength) {
          std::memmove(Typed + Caret, Typed + Caret + 1, static_cast<size_t>(TypedLength - Caret));
          --TypedLength;
        }
        break;
      case kKeyLeft:
        Caret = Selected ? 0 : std::max(0, Caret - 1);
        Selected = false;
        break;
      case kKeyRight:
        Caret = Selected ? TypedLength : std::min(TypedLength, Caret + 1);
        Selected = false;
        break;
      case kKeyHome:
        Caret = 0;
        Selected = false;
        break;
      case kKeyEnd:
        Caret = TypedLength;
        Selected = false;
        break;
      default:
        return;
    }
    Owner->ViewRefresh(false);
  }

  // A named value one step up or down, kept among the names.
  void StepNamed(int direction) {
    if (!Watched || ModeOf(Watched) != Mode::kNamed) return;
    const int count = Watched->GetNamedValueCount();
    const int next = std::clamp(Watched->GetAsInt() + direction, 0, std::max(0, count - 1));
    if (next != Watched->GetAsInt()) Watched->SetFromInt(next);
  }

  // The held "-" or "+" steps again while the pointer stays on it.
  static void RepeatStep(KtView* /*view*/, void* context) {
    Impl& m = *static_cast<Impl*>(context);
    if (m.Pressed == Part::kMinus && m.Hover == Part::kMinus) m.Step(-1);
    if (m.Pressed == Part::kPlus && m.Hover == Part::kPlus) m.Step(1);
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
  bool Selected = false;  // the whole typed text is selected
  Part Hover = Part::kNone;
  Part Pressed = Part::kNone;  // the part the left button went down on, while held
  bool CaptionCut = false;     // what the last paint cut
  bool ValueCut = false;
};

KtProperty::KtProperty(kViewCreation creation)
    : KtView(creation),
      Caption("Caption", ""),
      CaptionWidth("CaptionWidth", &mCaptionWidth),
      EditedProperty("EditedProperty", nullptr),
      mImpl(new Impl(this)) {
  // A subscription that fails to allocate must not leak the implementation:
  // the destructor does not run for a constructor that throws.
  try {
    EditedProperty.AddChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnEditedChanged));
    Caption.AddChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnLookChanged));
    CaptionWidth.AddChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnLookChanged));
  } catch (...) {
    EditedProperty.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnEditedChanged));
    Caption.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnLookChanged));
    delete mImpl;
    throw;
  }
}

KtProperty::~KtProperty() {
  mImpl->Popup.Close();
  mImpl->Listen(nullptr);
  EditedProperty.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnEditedChanged));
  Caption.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnLookChanged));
  CaptionWidth.RemoveChangeHandler(mImpl, KCALLBACK_HANDLER(Impl::OnLookChanged));
  delete mImpl;
}

void KtProperty::ClearAllProperty() {
  // Stop listening first, so nothing reaches the old property even if the
  // pointer property's own handlers misbehave.
  mImpl->Listen(nullptr);
  EditedProperty = static_cast<KProperty*>(nullptr);
  ViewRefresh(false);
}

KProperty* KtProperty::GetEditedProperty() const {
  return mImpl->Watched;
}

const char* KtProperty::FormatValue(char* buffer, int size) const {
  if (!buffer || size <= 0) return buffer;
  const KProperty* p = mImpl->Watched;
  const size_t n = static_cast<size_t>(size);
  buffer[0] = '\0';
  if (!p) return buffer;
  switch (p->GetType()) {
    case kPropertyBool:
      std::snprintf(buffer, n, "%s", p->GetAsInt() ? "Yes" : "No");
      break;
    case kPropertyInt: {
      const int value = p->GetAsInt();
      const char* name = p->GetNamedValueCount() > 0 ? p->GetNamedValue(value) : nullptr;
      if (name)
        std::snprintf(buffer, n, "%s", name);
      else
        std::snprintf(buffer, n, "%d", value);
      break;
    }
    case kPropertyDouble: {
      double value = 0.0;
      p->GetToPointer(&value);
      std::snprintf(buffer, n, "%g", value);
      break;
    }
    case kPropertyString: {
      const char* text = nullptr;
      p->GetToPointer(&text);
      std::snprintf(buffer, n, "%s", text ? text : "");
      break;
    }
    case kPropertyPointer:
      std::snprintf(buffer, n, "%s", p->GetAsInt() ? "(set)" : "(none)");
      break;
    case kPropertyEvent:
      break;
  }
  return buffer;
}

void KtProperty::ViewExpose(IKtGeometry* /*geometry*/) {
  if (!KtViewExposeBegin(nullptr)) return;
  Impl& m = *mImpl;
  m.DropTypingWithoutFocus();
  IKtGraphic* g = GetGraphic();
  const EditorGeometry geo = m.Geometry();
  const float h = F(GetHeight());
  const float mid = h * 0.5f;
  const float left = F(geo.CaptionRight);
  const float right = F(geo.Width);
  constexpr int kStyle = kGraphic_Font_Style_Regular;

  Grey(kt_theme::kText);
  m.CaptionCut = Graphic_DrawStringFitted(g, Caption.Get(), 2.0f, mid,
                                          geo.CaptionRight - kt_theme::kTextGap, kStyle);
  m.ValueCut = false;

  char text[128];
  FormatValue(text, static_cast<int>(sizeof(text)));
  switch (ModeOf(m.Watched)) {
    case Mode::kNone:
      break;
    case Mode::kBool: {
      const float box = std::max(0.0f, std::min(h - 2.0f, 13.0f));
      const float bx = left + 1.0f;
      const float by = (h - box) * 0.5f;
      Grey(m.Shade(Part::kCheckBox, kt_theme::kField, kt_theme::kFieldHover));
      g->DrawRectangle(bx, by, bx + box, by + box);
      Grey(kt_theme::kEdge);
      Outline(g, bx, by, bx + box, by + box);
      if (m.Watched->GetAsInt()) {
        Grey(kt_theme::kText);
        g->BeginPrimitive(kPrimitiveLines);
        glVertex2f(bx + box * 0.2f, by + box * 0.5f);
        glVertex2f(bx + box * 0.45f, by + box * 0.8f);
        glVertex2f(bx + box * 0.45f, by + box * 0.8f);
        glVertex2f(bx + box * 0.85f, by + box * 0.2f);
        g->EndPrimitive();
      }
      Grey(kt_theme::kText);
      m.ValueCut = Graphic_DrawStringFitted(g, text, bx + box + 5.0f, mid,
                                            geo.Width - kt_theme::kTextGap, kStyle);
      if (KtView_HasFocus(*this))
        kt_theme::FocusRing(g, bx - 1.0f, by - 1.0f, bx + box + 1.0f, by + box + 1.0f);
      break;
    }
    case Mode::kNamed: {
      Grey(m.Popup.IsOpen() ? kt_theme::kFieldHover
                            : m.Shade(Part::kDropDown, kt_theme::kField, kt_theme::kFieldHover));
      g->DrawRectangle(left, 0.0f, right, h);
      Grey(kt_theme::kEdge);
      Outline(g, left, 0.0f, right, h);
      Grey(kt_theme::kText);
      m.ValueCut = Graphic_DrawStringFitted(g, text, left + 4.0f, mid, geo.Width - 14, kStyle);
      g->BeginPrimitive(kPrimitiveTriangles);
      glVertex2f(right - 12.0f, mid - 2.0f);
      glVertex2f(right - 4.0f, mid - 2.0f);
      glVertex2f(right - 8.0f, mid + 3.0f);
      g->EndPrimitive();
      if (KtView_HasFocus(*this)) kt_theme::FocusRing(g, left, 0.0f, right, h);
      break;
    }
    case Mode::kNumber: {
      const float sw = F(geo.StepWidth);
      const float fl = F(geo.FieldLeft());
      const float fr = F(geo.FieldRight());
      Grey(m.Shade(Part::kMinus, kt_theme::kButton, kt_theme::kButtonHover));
      g->DrawRectangle(left, 0.0f, left + sw, h);
      Grey(m.Shade(Part::kPlus, kt_theme::kButton, kt_theme::kButtonHover));
      g->DrawRectangle(right - sw, 0.0f, right, h);
      Grey(m.Typing ? kt_theme::kHighlight : kt_theme::kField);
      g->DrawRectangle(fl, 0.0f, fr, h);
      Grey(kt_theme::kEdge);
      Outline(g, left, 0.0f, left + sw, h);
      Outline(g, right - sw, 0.0f, right, h);
      Outline(g, fl, 0.0f, fr, h);
      Grey(kt_theme::kText);
      // "-" and "+" drawn as strokes, centred on their buttons.
      const float mcx = left + sw * 0.5f;
      const float pcx = right - sw * 0.5f;
      const float arm = std::max(1.0f, std::min(3.5f, sw * 0.25f));
      g->BeginPrimitive(kPrimitiveLines);
      glVertex2f(mcx - arm, mid);
      glVertex2f(mcx + arm, mid);
      glVertex2f(pcx - arm, mid);
      glVertex2f(pcx + arm, mid);
      glVertex2f(pcx, mid - arm);
      glVertex2f(pcx, mid + arm);
      g->EndPrimitive();
      if (m.Typing) {
        int tw = 0, th = 0;
        g->MeasureString(m.Typed, kStyle, tw, th);
        if (m.Selected && tw > 0) {
          glColor3ub(60, 100, 170);
          g->DrawRectangle(fl + 3.0f, 2.0f, std::min(fl + 5.0f + F(tw), fr - 1.0f), h - 2.0f);
        }
        Grey(kt_theme::kText);
        g->DrawString(m.Typed, fl + 4.0f, mid, geo.FieldLeft(), geo.FieldRight(), kStyle);
        char before[kMaxTyped + 1];
        std::memcpy(before, m.Typed, static_cast<size_t>(m.Caret));
        before[m.Caret] = '\0';
        g->MeasureString(before, kStyle, tw, th);
        const float cx = std::min(fl + 4.0f + F(tw), fr - 2.0f);
        g->DrawRectangle(cx, 2.0f, cx + 1.0f, h - 2.0f);
      } else {
        m.ValueCut = Graphic_DrawStringFitted(g, text, fl + 4.0f, mid,
                                              geo.FieldRight() - kt_theme::kTextGap, kStyle);
      }
      if (KtView_HasFocus(*this)) kt_theme::FocusRing(g, fl, 0.0f, fr, h);
      break;
    }
    case Mode::kShown:
      Grey(kt_theme::kTextDim);
      m.ValueCut = Graphic_DrawStringFitted(g, text, left + 4.0f, mid,
                                            geo.Width - kt_theme::kTextGap, kStyle);
      break;
  }
  KtViewExposeEnd();
}

bool KtProperty::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  Impl& m = *mImpl;
  m.DropTypingWithoutFocus();
  int wx = 0, wy = 0, ww = 0, wh = 0;
  const bool exposed = GetWindowRect(wx, wy, ww, wh);
  const bool inside = exposed && ContainsWindowPoint(x, y);
  const EditorGeometry geo = m.Geometry();
  const int local = x - wx;
  const Mode mode = ModeOf(m.Watched);

  switch (event) {
    case kInputMouseMove: {
      const Part over = inside ? m.PartAt(local) : Part::kNone;
      if (over != m.Hover) {
        m.Hover = over;
        ViewRefresh(false);
      }
      char text[128];
      if (over == Part::kCaption && m.CaptionCut) {
        KtToolTip_Offer(this, Caption.Get(), x, y);
      } else if (over != Part::kNone && over != Part::kCaption && m.ValueCut && !m.Typing) {
        KtToolTip_Offer(this, FormatValue(text, static_cast<int>(sizeof(text))), x, y);
      } else {
        KtToolTip_Withdraw(this);
      }
      return m.Pressed != Part::kNone;
    }
    case kInputMouseDown: {
      const bool inField =
          inside && mode == Mode::kNumber && local >= geo.FieldLeft() && local < geo.FieldRight();
      if (m.Typing && !inField) m.StopTyping();  // a click elsewhere drops the typed text
      if (!inside) return false;
      if (KtView_IsFocusable(*this)) KtView_TakeFocus(*this);
      if (button != 0 || local < geo.CaptionRight) return true;
      m.Hover = m.PartAt(local);
      m.Pressed = m.Hover;
      switch (mode) {
        case Mode::kBool:
          m.Watched->SetFromInt(m.Watched->GetAsInt() ? 0 : 1);
          break;
        case Mode::kNamed:
          if (m.Popup.IsOpen())
            m.Popup.Close();
          else if (GetContainer())
            m.Popup.Open(GetContainer(), wx + geo.CaptionRight, wy, ww - geo.CaptionRight, wh,
                         std::max(16, wh));
          break;
        case Mode::kNumber:
          if (m.Pressed == Part::kMinus || m.Pressed == Part::kPlus) {
            m.Step(m.Pressed == Part::kMinus ? -1 : 1);
            KtRepeat_Start(this, &Impl::RepeatStep, &m, kRepeatDelay, kRepeatInterval);
          } else if (inField && !m.Typing) {
            m.StartTyping();
          }
          break;
        default:
          break;
      }
      ViewRefresh(false);
      return true;
    }
    case kInputMouseUp:
      if (m.Pressed == Part::kNone || button != 0) return false;
      m.Pressed = Part::kNone;
      KtRepeat_Stop(this);
      ViewRefresh(false);
      return true;
    case kInputMouseWheel:
      if (!inside || mode != Mode::kNumber || local < geo.CaptionRight) return false;
      if (!m.Typing) m.Step(button > 0 ? 1 : (button < 0 ? -1 : 0));
      return true;
    case kInputKeyChar:
      if (!KtView_HasFocus(*this)) return false;
      if (m.Typing) {
        m.TypeChar(button);
        return true;
      }
      if (mode == Mode::kBool && button == ' ') {
        m.Watched->SetFromInt(m.Watched->GetAsInt() ? 0 : 1);
        return true;
      }
      return false;
    case kInputKeyDown:
      if (!KtView_HasFocus(*this)) return false;
      if (m.Typing) {
        if (button == kKeyEnter) {
          m.CommitTyping();
        } else if (button == kKeyEscape) {
          m.StopTyping();
        } else {
          m.EditKey(button);
        }
        return true;
      }
      if (button == kKeyUp || button == kKeyDown) {
        const int direction = button == kKeyUp ? 1 : -1;
        if (mode == Mode::kNumber) {
          m.Step(direction);
          return true;
        }
        if (mode == Mode::kNamed) {
          // Down moves to the next name in the list, as in the list itself.
          m.StepNamed(-direction);
          return true;
        }
        return false;
      }
      if (button == kKeyEnter && mode == Mode::kNamed && GetContainer()) {
        m.Popup.Open(GetContainer(), wx + geo.CaptionRight, wy, ww - geo.CaptionRight, wh,
                     std::max(16, wh));
        return true;
      }
      return false;
    default:
      return false;
  }
}

void KtProperty::Detach(IKtViewContainer* container) {
  mImpl->Popup.Close();
  mImpl->Typing = false;
  mImpl->Hover = Part::kNone;
  mImpl->Pressed = Part::kNone;
  KtView::Detach(container);
}
