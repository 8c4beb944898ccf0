// KtProperty: the editor of one host property. A caption column on the left,
// the value on the right, edited in the way the property's type asks for: a
// check box, a drop-down of named values, or a number field with step
// buttons and typing. Every write goes through the property so its own
// change handlers run; the editor listens to the property so a change made
// elsewhere repaints it.
#include <algorithm>
#include <cstdio>

#include "standin/kcontrols/property_editor_impl.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

using kt_property::EditorGeometry;
using kt_property::kStyle;
using kt_property::Mode;
using kt_property::ModeOf;
using kt_property::Part;
using kt_theme::F;
using kt_theme::Grey;

}  // namespace

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

  Grey(kt_theme::kText);
  m.CaptionCut = Graphic_DrawStringFitted(g, Caption.Get(), 2.0f, mid,
                                          geo.CaptionRight - kt_theme::kTextGap, kStyle);
  m.ValueCut = false;

  char text[128];
  FormatValue(text, static_cast<int>(sizeof(text)));
  const kt_property::ValuePaint paint{g, geo, h, mid, left, right, text, KtView_HasFocus(*this)};
  switch (ModeOf(m.Watched)) {
    case Mode::kNone:
      break;
    case Mode::kBool:
      m.ValueCut = m.PaintCheckBox(paint);
      break;
    case Mode::kNamed:
      m.ValueCut = m.PaintDropDown(paint);
      break;
    case Mode::kNumber:
      m.ValueCut = m.PaintNumber(paint);
      break;
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
  const bool exposed = KtView_GetWindowRect(*this, wx, wy, ww, wh);
  const bool inside = exposed && KtView_ContainsWindowPoint(*this, x, y);
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
          m.CheckPress();
          break;
        case Mode::kNamed:
          m.NamedPress(wx, wy, ww, wh);
          break;
        case Mode::kNumber:
          m.NumberPress(inField);
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
      return mode == Mode::kNumber && m.NumberWheel(inside, local, button);
    case kInputKeyChar:
      if (!KtView_HasFocus(*this)) return false;
      if (m.Typing) {
        m.TypeChar(button);
        return true;
      }
      return mode == Mode::kBool && m.CheckKeyChar(button);
    case kInputKeyDown:
      if (!KtView_HasFocus(*this)) return false;
      if (m.Typing) {
        m.TypingKeyDown(button);
        return true;
      }
      if (mode == Mode::kNumber) return m.NumberKeyDown(button);
      if (mode == Mode::kNamed) return m.NamedKeyDown(button, wx, wy, ww, wh);
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
