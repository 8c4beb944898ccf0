// A paint allocates no heap memory: a whole window of every control kind
// (with an open drop-down) is exposed while operator new counts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "host/kcontrols.h"
#include "host/kdesktop.h"
#include "toolkit/fake_graphic.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};
}  // namespace

// The replacement pair is malloc/free underneath; GCC cannot see that the
// pointers freed here came from the operator new above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

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
    gAllocations = 0;
    gCounting = true;
    KtList probe;
    probe.Items = "a~b";
    gCounting = false;
    ASSERT_GT(gAllocations.load(), 0);
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
    gAllocations = 0;
    gCounting = true;
    for (int i = 0; i < 3; ++i) host.Expose();
    gCounting = false;
    return gAllocations.load();
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
