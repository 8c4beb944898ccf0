// KtProperty's number field: an integer property without named values.
// "-" and "+" step by the property's step (held, they repeat), the wheel
// steps too, and a click in the field starts typing (digits and a leading
// '-'): Enter writes the typed value kept in the property's range, Escape or
// a click elsewhere drops it.
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin/kcontrols/property_editor_impl.h"
#include "standin/ktoolkit/interaction.h"

namespace {

using kt_property::kStyle;
using kt_theme::F;
using kt_theme::Grey;
using kt_theme::Outline;

// The property's range in order, whatever order it was given in.
void RangeOf(const KProperty* p, long long& low, long long& high) {
  low = p->GetMinimum();
  high = p->GetMaximum();
  if (low > high) std::swap(low, high);
}

// Holding "-" or "+" steps again after this delay, then at this interval.
constexpr double kRepeatDelay = 0.4;
constexpr double kRepeatInterval = 0.06;

// The width of text[from, to) in the editor's style.
int WidthOf(IKtGraphic* g, const char* text, int from, int to) {
  char piece[kt_property::kMaxTyped + 1];
  const int length = std::clamp(to - from, 0, kt_property::kMaxTyped);
  std::memcpy(piece, text + from, static_cast<size_t>(length));
  piece[length] = '\0';
  int width = 0, height = 0;
  g->MeasureString(piece, kStyle, width, height);
  return width;
}

}  // namespace

bool KtProperty::Impl::PaintNumber(const kt_property::ValuePaint& p) {
  bool cut = false;
  const float sw = F(p.Geo.StepWidth);
  const float fl = F(p.Geo.FieldLeft());
  const float fr = F(p.Geo.FieldRight());
  Grey(Shade(Part::kMinus, kt_theme::kButton, kt_theme::kButtonHover));
  p.G->DrawRectangle(p.Left, 0.0f, p.Left + sw, p.H);
  Grey(Shade(Part::kPlus, kt_theme::kButton, kt_theme::kButtonHover));
  p.G->DrawRectangle(p.Right - sw, 0.0f, p.Right, p.H);
  Grey(Typing ? kt_theme::kHighlight : kt_theme::kField);
  p.G->DrawRectangle(fl, 0.0f, fr, p.H);
  Grey(kt_theme::kEdge);
  Outline(p.G, p.Left, 0.0f, p.Left + sw, p.H);
  Outline(p.G, p.Right - sw, 0.0f, p.Right, p.H);
  Outline(p.G, fl, 0.0f, fr, p.H);
  Grey(kt_theme::kText);
  // "-" and "+" drawn as strokes, centred on their buttons.
  const float mcx = p.Left + sw * 0.5f;
  const float pcx = p.Right - sw * 0.5f;
  const float arm = std::max(1.0f, std::min(3.5f, sw * 0.25f));
  p.G->BeginPrimitive(kPrimitiveLines);
  glVertex2f(mcx - arm, p.Mid);
  glVertex2f(mcx + arm, p.Mid);
  glVertex2f(pcx - arm, p.Mid);
  glVertex2f(pcx + arm, p.Mid);
  glVertex2f(pcx, p.Mid - arm);
  glVertex2f(pcx, p.Mid + arm);
  p.G->EndPrimitive();
  if (Typing) {
    // The field shows the typed text from its FirstShown character on, which
    // follows the caret: back to it when it went left of the shown text, on
    // until the text before it fits, and back again while the whole rest
    // fits (after text at the end was deleted).
    const int room = std::max(0, (p.Geo.FieldRight() - 2) - (p.Geo.FieldLeft() + 4));
    FirstShown = std::clamp(FirstShown, 0, Caret);
    while (FirstShown < Caret && WidthOf(p.G, Typed, FirstShown, Caret) > room) ++FirstShown;
    while (FirstShown > 0 && WidthOf(p.G, Typed, FirstShown - 1, TypedLength) <= room) --FirstShown;
    const char* shown = Typed + FirstShown;
    const int shownWidth = WidthOf(p.G, Typed, FirstShown, TypedLength);
    if (Selected && shownWidth > 0) {
      glColor3ub(60, 100, 170);
      p.G->DrawRectangle(fl + 3.0f, 2.0f, std::min(fl + 5.0f + F(shownWidth), fr - 1.0f),
                         p.H - 2.0f);
    }
    Grey(kt_theme::kText);
    p.G->DrawString(shown, fl + 4.0f, p.Mid, p.Geo.FieldLeft(), p.Geo.FieldRight(), kStyle);
    const float cx = std::min(fl + 4.0f + F(WidthOf(p.G, Typed, FirstShown, Caret)), fr - 2.0f);
    p.G->DrawRectangle(cx, 2.0f, cx + 1.0f, p.H - 2.0f);
  } else {
    cut = Graphic_DrawStringFitted(p.G, p.Text, fl + 4.0f, p.Mid,
                                   p.Geo.FieldRight() - kt_theme::kTextGap, kStyle);
  }
  if (p.Focused) kt_theme::FocusRing(p.G, fl, 0.0f, fr, p.H);
  return cut;
}

void KtProperty::Impl::NumberPress(bool inField) {
  if (Pressed == Part::kMinus || Pressed == Part::kPlus) {
    Step(Pressed == Part::kMinus ? -1 : 1);
    KtRepeat_Start(Owner, &Impl::RepeatStep, this, kRepeatDelay, kRepeatInterval);
  } else if (inField && !Typing) {
    StartTyping();
  }
}

bool KtProperty::Impl::NumberWheel(bool inside, int local, int steps) {
  if (!inside || local < Geometry().CaptionRight) return false;
  if (!Typing) Step(steps > 0 ? 1 : (steps < 0 ? -1 : 0));
  return true;
}

bool KtProperty::Impl::NumberKeyDown(int key) {
  if (key != kKeyUp && key != kKeyDown) return false;
  Step(key == kKeyUp ? 1 : -1);
  return true;
}

void KtProperty::Impl::TypingKeyDown(int key) {
  if (key == kKeyEnter) {
    CommitTyping();
  } else if (key == kKeyEscape) {
    StopTyping();
  } else {
    EditKey(key);
  }
}

// Writes `value`, kept in the property's range, when it differs.
void KtProperty::Impl::WriteClamped(long long value) {
  if (!Watched) return;
  long long low = 0, high = 0;
  RangeOf(Watched, low, high);
  const int clamped = static_cast<int>(std::clamp(value, low, high));
  if (clamped != Watched->GetAsInt()) Watched->SetFromInt(clamped);
}

void KtProperty::Impl::Step(int direction) {
  if (!Watched) return;
  const long long step = std::max(1, Watched->GetStep());
  WriteClamped(static_cast<long long>(Watched->GetAsInt()) + direction * step);
}

// Editing starts with the current value selected: typing replaces it.
void KtProperty::Impl::StartTyping() {
  Typing = true;
  const int written = std::snprintf(Typed, sizeof(Typed), "%d", Watched ? Watched->GetAsInt() : 0);
  TypedLength = std::clamp(written, 0, kMaxTyped);
  Caret = TypedLength;
  FirstShown = 0;
  Selected = TypedLength > 0;
  Owner->ViewRefresh(false);
}
void KtProperty::Impl::StopTyping() {
  if (!Typing) return;
  Typing = false;
  Owner->ViewRefresh(false);
}
void KtProperty::Impl::CommitTyping() {
  const bool hasDigits = TypedLength > 0 && !(TypedLength == 1 && Typed[0] == '-');
  Typing = false;
  if (hasDigits) WriteClamped(std::strtoll(Typed, nullptr, 10));
  Owner->ViewRefresh(false);
}
// Removes the selected text (all of it: only the whole value is ever
// selected).
void KtProperty::Impl::RemoveSelection() {
  if (!Selected) return;
  Selected = false;
  TypedLength = 0;
  Caret = 0;
  Typed[0] = '\0';
}
void KtProperty::Impl::TypeChar(int codePoint) {
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
void KtProperty::Impl::EditKey(int key) {
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

// The held "-" or "+" steps again while the pointer stays on it.
void KtProperty::Impl::RepeatStep(KtView* /*view*/, void* context) {
  Impl& m = *static_cast<Impl*>(context);
  if (m.Pressed == Part::kMinus && m.Hover == Part::kMinus) m.Step(-1);
  if (m.Pressed == Part::kPlus && m.Hover == Part::kPlus) m.Step(1);
}
