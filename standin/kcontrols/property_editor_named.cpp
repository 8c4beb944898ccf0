// KtProperty's drop-down: an integer property with named values. A click
// (or Enter) opens the names below the editor, a click on a name writes its
// value; Up and Down step through the names.
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
using kt_theme::Grey;
using kt_theme::Outline;

}  // namespace

bool KtProperty::Impl::PaintDropDown(const kt_property::ValuePaint& p) {
  bool cut = false;
  Grey(Popup.IsOpen() ? kt_theme::kFieldHover
                      : Shade(Part::kDropDown, kt_theme::kField, kt_theme::kFieldHover));
  p.G->DrawRectangle(p.Left, 0.0f, p.Right, p.H);
  Grey(kt_theme::kEdge);
  Outline(p.G, p.Left, 0.0f, p.Right, p.H);
  Grey(kt_theme::kText);
  cut = Graphic_DrawStringFitted(p.G, p.Text, p.Left + 4.0f, p.Mid, p.Geo.Width - 14, kStyle);
  p.G->BeginPrimitive(kPrimitiveTriangles);
  glVertex2f(p.Right - 12.0f, p.Mid - 2.0f);
  glVertex2f(p.Right - 4.0f, p.Mid - 2.0f);
  glVertex2f(p.Right - 8.0f, p.Mid + 3.0f);
  p.G->EndPrimitive();
  if (p.Focused) kt_theme::FocusRing(p.G, p.Left, 0.0f, p.Right, p.H);
  return cut;
}

void KtProperty::Impl::NamedPress(int wx, int wy, int ww, int wh) {
  const EditorGeometry geo = Geometry();
  if (Popup.IsOpen())
    Popup.Close();
  else if (Owner->GetContainer())
    Popup.Open(Owner->GetContainer(), wx + geo.CaptionRight, wy, ww - geo.CaptionRight, wh,
               std::max(16, wh));
}

bool KtProperty::Impl::NamedKeyDown(int key, int wx, int wy, int ww, int wh) {
  if (key == kKeyUp || key == kKeyDown) {
    // Down moves to the next name in the list, as in the list itself.
    StepNamed(key == kKeyUp ? -1 : 1);
    return true;
  }
  if (key == kKeyEnter && Owner->GetContainer()) {
    const EditorGeometry geo = Geometry();
    Popup.Open(Owner->GetContainer(), wx + geo.CaptionRight, wy, ww - geo.CaptionRight, wh,
               std::max(16, wh));
    return true;
  }
  return false;
}

// A named value one step up or down, kept among the names.
void KtProperty::Impl::StepNamed(int direction) {
  if (!Watched || ModeOf(Watched) != Mode::kNamed) return;
  const int count = Watched->GetNamedValueCount();
  const int next = std::clamp(Watched->GetAsInt() + direction, 0, std::max(0, count - 1));
  if (next != Watched->GetAsInt()) Watched->SetFromInt(next);
}
