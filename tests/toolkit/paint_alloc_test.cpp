// A paint allocates no heap memory: a whole window of every control kind
// (with an open drop-down) is exposed while operator new counts.
#include <gtest/gtest.h>

#include "common/allocation_counter.h"
#include "host/kcontrols.h"
#include "host/kdesktop.h"
#include "standin/ktoolkit/viewhost.h"
#include "toolkit/fake_graphic.h"

namespace {

constexpr ktLayoutAttach kL = kLayoutAttachLeft;
constexpr ktLayoutAttach kT = kLayoutAttachTop;
constexpr ktLayoutAttach kN = kLayoutAttachNone;

void Row(KtLayout& layout, const char* name, int y) {
  layout.AddRegion(name, name, 10, kL, nullptr, 1.0f, y, kT, nullptr, 1.0f, 180, kN, nullptr, 1.0f,
                   15, kN, nullptr, 1.0f);
}

TEST(Paint, AllocatesNothing) {
  {  // the counter sees allocations made from the toolkit's libraries too
    kp_test::ArmAllocationCounter();
    KtList probe;
    probe.Items = "a~b";
    ASSERT_GT(kp_test::DisarmAllocationCounter(), 0);
  }
  FakeGraphic graphic;
  graphic.Recording = false;  // the fake itself must not allocate either
  KtViewHost host(&graphic);
  auto* tool = new KTool;
  KtTabPanel tabs;
  KtStatic label;
  KtButton button;
  KtList list;
  KtScrollBar bar;
  KtProperty flagEditor, numberEditor, namedEditor;
  KPropertyTemplate<bool> flag("Flag", true);
  KPropertyTemplate<int> number("Number", 12);
  KPropertyTemplate<int> named("Named", 1);
  named.SetNamedValues("Off~On");
  KProperty* p = &flag;
  flagEditor.EditedProperty.SetFromPointer(&p, 0, 0);
  p = &number;
  numberEditor.EditedProperty.SetFromPointer(&p, 0, 0);
  p = &named;
  namedEditor.EditedProperty.SetFromPointer(&p, 0, 0);
  tabs.Items = "ProfilingCenter~Other";
  label.Caption = "Display Details";
  button.Caption = "Reset To Default";
  list.Items = "DisplayAll~Evaluation~Rendering~Devices";
  bar.MaximumSet(500.0);
  bar.SliderSet(100.0, 300.0);

  const char* names[] = {"Tabs", "Label", "Button", "List", "Flag", "Number", "Named"};
  KtView* views[] = {&tabs, &label, &button, &list, &flagEditor, &numberEditor, &namedEditor};
  for (int i = 0; i < 7; ++i) {
    Row(*tool, names[i], 10 + 20 * i);
    tool->SetControl(names[i], *views[i]);
    tool->SetBorder(names[i], 1, true, true, 0, 0, 90.0f, 0);
  }
  tool->AddRegion("Bar", nullptr, 300, kL, nullptr, 1.0f, 10, kT, nullptr, 1.0f, 17, kN, nullptr,
                  1.0f, 200, kN, nullptr, 1.0f);
  tool->SetControl("Bar", bar);
  host.SetRoot(tool, 400, 300);
  host.Expose();
  auto countedPaints = [&] {
    kp_test::ArmAllocationCounter();
    for (int i = 0; i < 3; ++i) host.Expose();
    return kp_test::DisarmAllocationCounter();
  };
  EXPECT_EQ(countedPaints(), 0);

  host.Input(kInputMouseDown, 150, 117, 0, 0);  // starts typing in the number field
  host.Input(kInputKeyChar, 0, 0, '4', 0);
  EXPECT_EQ(countedPaints(), 0);

  host.Input(kInputMouseDown, 20, 75, 0, 0);  // opens the list
  ASSERT_TRUE(list.IsOpen());
  EXPECT_EQ(countedPaints(), 0);

  host.SetRoot(nullptr, 0, 0);
  namedEditor.ClearAllProperty();
  numberEditor.ClearAllProperty();
  flagEditor.ClearAllProperty();
  tool->Destroy(0);
}

}  // namespace
