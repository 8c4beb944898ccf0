// KtProperty's check box: a boolean property, toggled by a click on the
// box or by Space while the editor has the focus.
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

bool KtProperty::Impl::PaintCheckBox(const kt_property::ValuePaint& p) {
  bool cut = false;
  const float box = std::max(0.0f, std::min(p.H - 2.0f, 13.0f));
  const float bx = p.Left + 1.0f;
  const float by = (p.H - box) * 0.5f;
  Grey(Shade(Part::kCheckBox, kt_theme::kField, kt_theme::kFieldHover));
  p.G->DrawRectangle(bx, by, bx + box, by + box);
  Grey(kt_theme::kEdge);
  Outline(p.G, bx, by, bx + box, by + box);
  if (Watched->GetAsInt()) {
    Grey(kt_theme::kText);
    p.G->BeginPrimitive(kPrimitiveLines);
    glVertex2f(bx + box * 0.2f, by + box * 0.5f);
    glVertex2f(bx + box * 0.45f, by + box * 0.8f);
    glVertex2f(bx + box * 0.45f, by + box * 0.8f);
    glVertex2f(bx + box * 0.85f, by + box * 0.2f);
    p.G->EndPrimitive();
  }
  Grey(kt_theme::kText);
  cut = Graphic_DrawStringFitted(p.G, p.Text, bx + box + 5.0f, p.Mid,
                                 p.Geo.Width - kt_theme::kTextGap, kStyle);
  if (p.Focused) kt_theme::FocusRing(p.G, bx - 1.0f, by - 1.0f, bx + box + 1.0f, by + box + 1.0f);
  return cut;
}

void KtProperty::Impl::CheckPress() {
  Watched->SetFromInt(Watched->GetAsInt() ? 0 : 1);
}

bool KtProperty::Impl::CheckKeyChar(int codePoint) {
  if (codePoint != ' ') return false;
  Watched->SetFromInt(Watched->GetAsInt() ? 0 : 1);
  return true;
}
