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

  void StartTyping() {
    Typing = true;
    TypedLength = 0;
    Typed[0] = '\0';
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
  void TypeChar(int codePoint) {
    if (TypedLength >= kMaxTyped) return;
    const bool digit = codePoint >= '0' && codePoint <= '9';
    const bool sign = codePoint == '-' && TypedLength == 0;
    if (!digit && !sign) return;
    Typed[TypedLength++] = static_cast<char>(codePoint);
    Typed[TypedLength] = '\0';
    Owner->ViewRefresh(false);
  }

  KtProperty* Owner;
  KProperty* Watched = nullptr;
  KtItemPopup Popup;
  bool Typing = false;
  char Typed[kMaxTyped + 1] = {};
  int TypedLength = 0;
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
  IKtGraphic* g = GetGraphic();
  const EditorGeometry geo = mImpl->Geometry();
  const float h = F(GetHeight());
  const float mid = h * 0.5f;
  const float left = F(geo.CaptionRight);
  const float right = F(geo.Width);

  Grey(kt_theme::kText);
  g->DrawString(Caption.Get(), 2.0f, mid, 0, geo.CaptionRight - 2, kGraphic_Font_Style_Regular);

  char text[128];
  FormatValue(text, static_cast<int>(sizeof(text)));
  switch (ModeOf(mImpl->Watched)) {
    case Mode::kNone:
      break;
    case Mode::kBool: {
      const float box = std::max(0.0f, std::min(h - 2.0f, 13.0f));
      const float bx = left + 1.0f;
      const float by = (h - box) * 0.5f;
      Grey(kt_theme::kField);
      g->DrawRectangle(bx, by, bx + box, by + box);
      Grey(kt_theme::kEdge);
      Outline(g, bx, by, bx + box, by + box);
      if (mImpl->Watched->GetAsInt()) {
        Grey(kt_theme::kText);
        g->BeginPrimitive(kPrimitiveLines);
        glVertex2f(bx + box * 0.2f, by + box * 0.5f);
        glVertex2f(bx + box * 0.45f, by + box * 0.8f);
        glVertex2f(bx + box * 0.45f, by + box * 0.8f);
        glVertex2f(bx + box * 0.85f, by + box * 0.2f);
        g->EndPrimitive();
      }
      Grey(kt_theme::kText);
      g->DrawString(text, bx + box + 5.0f, mid, geo.CaptionRight, geo.Width,
                    kGraphic_Font_Style_Regular);
      break;
    }
    case Mode::kNamed: {
      Grey(mImpl->Popup.IsOpen() ? kt_theme::kFieldHover : kt_theme::kField);
      g->DrawRectangle(left, 0.0f, right, h);
      Grey(kt_theme::kEdge);
      Outline(g, left, 0.0f, right, h);
      Grey(kt_theme::kText);
      g->DrawString(text, left + 4.0f, mid, geo.CaptionRight, geo.Width - 14,
                    kGraphic_Font_Style_Regular);
      g->BeginPrimitive(kPrimitiveTriangles);
      glVertex2f(right - 12.0f, mid - 2.0f);
      glVertex2f(right - 4.0f, mid - 2.0f);
      glVertex2f(right - 8.0f, mid + 3.0f);
      g->EndPrimitive();
      break;
    }
    case Mode::kNumber: {
      const float sw = F(geo.StepWidth);
      const float fl = F(geo.FieldLeft());
      const float fr = F(geo.FieldRight());
      Grey(kt_theme::kButton);
      g->DrawRectangle(left, 0.0f, left + sw, h);
      g->DrawRectangle(right - sw, 0.0f, right, h);
      Grey(mImpl->Typing ? kt_theme::kHighlight : kt_theme::kField);
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
      const char* shown = mImpl->Typing ? mImpl->Typed : text;
      g->DrawString(shown, fl + 4.0f, mid, geo.FieldLeft(), geo.FieldRight(),
                    kGraphic_Font_Style_Regular);
      if (mImpl->Typing) {
        int tw = 0, th = 0;
        g->MeasureString(mImpl->Typed, kGraphic_Font_Style_Regular, tw, th);
        const float cx = std::min(fl + 5.0f + F(tw), fr - 2.0f);
        g->DrawRectangle(cx, 2.0f, cx + 1.0f, h - 2.0f);
      }
      break;
    }
    case Mode::kShown:
      Grey(kt_theme::kTextDim);
      g->DrawString(text, left + 4.0f, mid, geo.CaptionRight, geo.Width,
                    kGraphic_Font_Style_Regular);
      break;
  }
  KtViewExposeEnd();
}

bool KtProperty::ViewInput(int event, int x, int y, int button, int /*modifiers*/) {
  Impl& m = *mImpl;
  int wx = 0, wy = 0, ww = 0, wh = 0;
  const bool exposed = GetWindowRect(wx, wy, ww, wh);
  const bool inside = exposed && ContainsWindowPoint(x, y);
  const EditorGeometry geo = m.Geometry();
  const int local = x - wx;
  const Mode mode = ModeOf(m.Watched);

  switch (event) {
    case kInputMouseDown: {
      const bool inField =
          inside && mode == Mode::kNumber && local >= geo.FieldLeft() && local < geo.FieldRight();
      if (m.Typing && !inField) m.StopTyping();  // a click elsewhere drops the typed text
      if (!inside) return false;
      if (button != 0 || local < geo.CaptionRight) return true;
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
          if (local < geo.CaptionRight + geo.StepWidth)
            m.Step(-1);
          else if (local >= geo.Width - geo.StepWidth)
            m.Step(1);
          else if (inField && !m.Typing)
            m.StartTyping();
          break;
        default:
          break;
      }
      return true;
    }
    case kInputMouseWheel:
      if (!inside || mode != Mode::kNumber || local < geo.CaptionRight) return false;
      if (!m.Typing) m.Step(button > 0 ? 1 : (button < 0 ? -1 : 0));
      return true;
    case kInputKeyChar:
      if (!m.Typing) return false;
      m.TypeChar(button);
      return true;
    case kInputKeyDown:
      if (!m.Typing) return false;
      if (button == kKeyEnter) {
        m.CommitTyping();
      } else if (button == kKeyEscape) {
        m.StopTyping();
      } else if (button == kKeyBackspace && m.TypedLength > 0) {
        m.Typed[--m.TypedLength] = '\0';
        ViewRefresh(false);
      }
      return true;
    default:
      return false;
  }
}

void KtProperty::Detach(IKtViewContainer* container) {
  mImpl->Popup.Close();
  mImpl->Typing = false;
  KtView::Detach(container);
}
