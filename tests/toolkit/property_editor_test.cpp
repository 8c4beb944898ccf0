// KtProperty: binding, every kind of edit, writes through the property, and
// listening only while bound.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "host/kcontrols.h"
#include "standin/ktoolkit/viewhost.h"
#include "toolkit/fake_graphic.h"

namespace {

void Bind(KtProperty& editor, KProperty* property) {
  KProperty* pointer = property;
  editor.EditedProperty.SetFromPointer(&pointer, 0, 0);
}

std::string Shown(const KtProperty& editor) {
  char buffer[64];
  return editor.FormatValue(buffer, sizeof(buffer));
}

// The editor fills the window at (0, 0), 200 x 15; caption column 90. With
// those sizes the number field's "-" spans x 90..104, the field 106..183 and
// "+" 185..199.
class EditorTest : public ::testing::Test {
 protected:
  EditorTest() : host(&graphic), editor(1) {
    editor.Caption = "Buffer Size";
    editor.CaptionWidth = 90;
    host.SetRoot(&editor, 200, 15);
  }
  ~EditorTest() override { host.SetRoot(nullptr, 0, 0); }
  void Paint() {
    graphic.Clear();
    host.Expose();
  }
  void Click(int x) {
    host.Input(kInputMouseDown, x, 7, 0, 0);
    host.Input(kInputMouseUp, x, 7, 0, 0);
  }
  void Type(const char* text) {
    for (const char* p = text; *p; ++p) host.Input(kInputKeyChar, 0, 0, *p, 0);
  }
  void Key(int key) { host.Input(kInputKeyDown, 0, 0, key, 0); }

  FakeGraphic graphic;
  KtViewHost host;
  KtProperty editor;
  EventCounter writes;  // the edited property's own change handler
};

TEST_F(EditorTest, ABoolToggles) {
  KPropertyTemplate<bool> culling("FrustumCulling", false);
  culling.AddChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Bind(editor, &culling);
  EXPECT_EQ(editor.GetEditedProperty(), &culling);
  Paint();
  EXPECT_TRUE(graphic.DrewText("Buffer Size"));
  EXPECT_TRUE(graphic.DrewText("No"));
  Click(95);
  EXPECT_TRUE(culling.Get());
  EXPECT_EQ(writes.Count, 1);
  Paint();
  EXPECT_TRUE(graphic.DrewText("Yes"));
  Click(150);
  EXPECT_FALSE(culling.Get());
  Click(40);  // the caption edits nothing
  EXPECT_FALSE(culling.Get());
  EXPECT_EQ(writes.Count, 2);
  editor.ClearAllProperty();
  culling.RemoveChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST_F(EditorTest, StepButtonsMoveByTheStepAndStayInRange) {
  KPropertyTemplate<int> size("BufferSize", 5);
  size.SetRange(0, 10, 3);
  size.AddChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Bind(editor, &size);
  Paint();
  EXPECT_TRUE(graphic.DrewText("5"));
  Click(190);
  EXPECT_EQ(size.Get(), 8);
  Click(190);
  EXPECT_EQ(size.Get(), 10);  // clamped, not 11
  Click(190);
  EXPECT_EQ(size.Get(), 10);
  EXPECT_EQ(writes.Count, 2);  // no write when nothing changes
  for (int i = 0; i < 4; ++i) Click(95);
  EXPECT_EQ(size.Get(), 0);
  host.Input(kInputMouseWheel, 150, 7, 1, 0);
  EXPECT_EQ(size.Get(), 3);
  editor.ClearAllProperty();
  size.RemoveChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST_F(EditorTest, StepsNearTheIntLimitsDoNotWrap) {
  KPropertyTemplate<int> n("N", INT_MAX - 1);
  n.SetRange(INT_MIN, INT_MAX, 5);
  Bind(editor, &n);
  Paint();
  Click(190);
  EXPECT_EQ(n.Get(), INT_MAX);
  n = INT_MIN + 1;
  Click(95);
  EXPECT_EQ(n.Get(), INT_MIN);
  editor.ClearAllProperty();
}

TEST_F(EditorTest, TypingWritesOnEnterAndCancelsOnEscape) {
  KPropertyTemplate<int> depth("Depth", 1);
  depth.SetRange(-50, 100);
  depth.AddChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Bind(editor, &depth);
  Paint();

  Click(140);
  Type("4x2");  // letters are ignored
  Paint();
  EXPECT_TRUE(graphic.DrewText("42"));
  EXPECT_EQ(depth.Get(), 1);  // nothing written before Enter
  Key(kKeyEnter);
  EXPECT_EQ(depth.Get(), 42);
  EXPECT_EQ(writes.Count, 1);

  Click(140);
  Type("7-7");  // a '-' only leads
  Key(kKeyBackspace);
  Key(kKeyEnter);
  EXPECT_EQ(depth.Get(), 7);

  Click(140);
  Type("-999");
  Key(kKeyEnter);
  EXPECT_EQ(depth.Get(), -50);  // kept in range

  Click(140);
  Type("99999999999999");  // longer than any int: capped, then clamped
  Key(kKeyEnter);
  EXPECT_EQ(depth.Get(), 100);

  Click(140);
  Type("5");
  Key(kKeyEscape);
  EXPECT_EQ(depth.Get(), 100);

  Click(140);
  Type("-");
  Key(kKeyEnter);  // no digits: nothing written
  EXPECT_EQ(depth.Get(), 100);

  Click(140);
  Type("3");
  Click(40);  // a click elsewhere drops the typed text
  Key(kKeyEnter);
  EXPECT_EQ(depth.Get(), 100);
  EXPECT_EQ(writes.Count, 4);

  // Keys reach the editor only while typing.
  EXPECT_FALSE(host.Input(kInputKeyChar, 0, 0, '1', 0));
  editor.ClearAllProperty();
  depth.RemoveChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST_F(EditorTest, ATypedValueLongerThanTheFieldKeepsTheCaretInView) {
  // The field's text starts at x 110 and has room for ten 7-pixel digits
  // before the caret's column.
  KPropertyTemplate<int> count("NodeCount", 1);
  count.SetRange(0, INT_MAX);
  Bind(editor, &count);
  Paint();
  // What the field draws: its text (at the field's left, clipped at 183)
  // and its caret (the one-pixel bar).
  struct Field {
    std::string Text;
    float TextX = -1.0f;
    float CaretX = -1.0f;
  };
  const auto paintField = [&] {
    Paint();
    Field f;
    for (const FakeGraphic::Text& t : graphic.Texts)
      if (t.X >= 106.0f) f.Text = t.Value, f.TextX = t.X;
    for (const FakeGraphic::Box& b : graphic.Filled)
      if (b.X1 - b.X0 == 1.0f && b.Y0 == 2.0f) f.CaretX = b.X0;
    return f;
  };
  Click(140);
  Type("1234567890123");  // the first eleven digits are taken
  Field f = paintField();
  EXPECT_EQ(f.Text, "2345678901");
  EXPECT_EQ(f.TextX, 110.0f);
  EXPECT_LE(f.TextX + 7.0f * static_cast<float>(f.Text.size()), 184.0f);  // none of it clipped
  EXPECT_EQ(f.CaretX, 180.0f);
  // Home shows the beginning with the caret before it; End the end again.
  Key(kKeyHome);
  f = paintField();
  EXPECT_EQ(f.Text.substr(0, 2), "12");
  EXPECT_EQ(f.CaretX, 110.0f);
  Key(kKeyEnd);
  f = paintField();
  EXPECT_EQ(f.Text, "2345678901");
  EXPECT_EQ(f.CaretX, 180.0f);
  // Once what is left fits, all of it shows again.
  Key(kKeyBackspace);
  Key(kKeyBackspace);
  f = paintField();
  EXPECT_EQ(f.Text, "123456789");
  EXPECT_EQ(f.CaretX, 173.0f);
  Key(kKeyEnter);
  EXPECT_EQ(count.Get(), 123456789);
  editor.ClearAllProperty();
}

TEST_F(EditorTest, NamedValuesArePickedFromTheDropDown) {
  KPropertyTemplate<int> mode("ProfilingType", 0);
  mode.SetNamedValues("Off~Light~Full");
  mode.AddChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Bind(editor, &mode);
  Paint();
  EXPECT_TRUE(graphic.DrewText("Off"));
  EXPECT_EQ(Shown(editor), "Off");

  Click(120);
  ASSERT_NE(host.GetPopup(), nullptr);
  Paint();
  EXPECT_TRUE(graphic.DrewText("Light"));
  EXPECT_TRUE(graphic.DrewText("Full"));
  // Rows of 16 pixels below the editor, from y 15.
  host.Input(kInputMouseDown, 120, 15 + 2 * 16 + 8, 0, 0);
  EXPECT_EQ(mode.Get(), 2);
  EXPECT_EQ(writes.Count, 1);
  EXPECT_EQ(host.GetPopup(), nullptr);
  EXPECT_EQ(Shown(editor), "Full");

  // A click away closes the drop-down and writes nothing.
  Click(120);
  ASSERT_NE(host.GetPopup(), nullptr);
  Paint();
  host.Input(kInputMouseDown, 190, 290, 0, 0);
  EXPECT_EQ(host.GetPopup(), nullptr);
  EXPECT_EQ(mode.Get(), 2);

  mode = 7;  // outside the names: shown as the number
  EXPECT_EQ(Shown(editor), "7");
  editor.ClearAllProperty();
  mode.RemoveChangeHandler(&writes, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST_F(EditorTest, AChangeMadeElsewhereRepaintsWithTheNewValue) {
  KPropertyTemplate<int> size("BufferSize", 20);
  Bind(editor, &size);
  Paint();
  EXPECT_TRUE(graphic.DrewText("20"));
  host.TakeRefreshRequest();
  size = 35;
  EXPECT_TRUE(host.TakeRefreshRequest());
  Paint();
  EXPECT_TRUE(graphic.DrewText("35"));
  editor.ClearAllProperty();
}

TEST_F(EditorTest, RebindingListensToTheNewPropertyOnly) {
  KPropertyTemplate<int> a("A", 1), b("B", 2);
  Bind(editor, &a);
  EXPECT_EQ(a.GetChangeHandlerCount(), 1);
  Bind(editor, &b);
  EXPECT_EQ(a.GetChangeHandlerCount(), 0);
  EXPECT_EQ(b.GetChangeHandlerCount(), 1);
  EXPECT_EQ(Shown(editor), "2");
  host.TakeRefreshRequest();
  a = 10;
  EXPECT_FALSE(host.TakeRefreshRequest());

  editor.ClearAllProperty();
  EXPECT_EQ(b.GetChangeHandlerCount(), 0);
  EXPECT_EQ(editor.EditedProperty.Get(), nullptr);
  EXPECT_EQ(editor.GetEditedProperty(), nullptr);
  EXPECT_EQ(Shown(editor), "");
  host.TakeRefreshRequest();
  b = 3;
  EXPECT_FALSE(host.TakeRefreshRequest());
  Paint();
  Click(190);  // unbound: nothing to write
  EXPECT_EQ(b.Get(), 3);
}

TEST(PropertyEditor, DestructionStopsListening) {
  KPropertyTemplate<bool> flag("Flag", false);
  {
    auto* editor = new KtProperty(1);
    Bind(*editor, &flag);
    EXPECT_EQ(flag.GetChangeHandlerCount(), 1);
    editor->Destroy(0);
  }
  EXPECT_EQ(flag.GetChangeHandlerCount(), 0);
  flag = true;  // reaches no dead editor
  EXPECT_TRUE(flag.Get());
}

TEST(PropertyEditor, FormatValueFitsTheBufferAndShowsOtherTypes) {
  KtProperty editor;
  KPropertyTemplate<bool> flag("Flag", true);
  Bind(editor, &flag);
  char tiny[3];
  EXPECT_STREQ(editor.FormatValue(tiny, 3), "Ye");
  EXPECT_STREQ(editor.FormatValue(tiny, 1), "");
  EXPECT_EQ(editor.FormatValue(nullptr, 10), nullptr);

  KPropertyTemplate<double> ratio("Ratio", 0.25);
  Bind(editor, &ratio);
  EXPECT_EQ(Shown(editor), "0.25");
  KPropertyTemplate<char*> name("Name", "scene");
  Bind(editor, &name);
  EXPECT_EQ(Shown(editor), "scene");
  editor.ClearAllProperty();
}

TEST(PropertyEditor, DoublesAndStringsAreShownNotEdited) {
  FakeGraphic graphic;
  KtViewHost host(&graphic);
  KtProperty editor;
  KPropertyTemplate<double> ratio("Ratio", 0.5);
  Bind(editor, &ratio);
  host.SetRoot(&editor, 200, 15);
  host.Expose();
  EXPECT_TRUE(graphic.DrewText("0.5"));
  host.Input(kInputMouseDown, 150, 7, 0, 0);
  host.Input(kInputKeyChar, 0, 0, '3', 0);
  host.Input(kInputKeyDown, 0, 0, kKeyEnter, 0);
  EXPECT_EQ(ratio.Get(), 0.5);
  EXPECT_EQ(host.GetPopup(), nullptr);
  host.SetRoot(nullptr, 0, 0);
  editor.ClearAllProperty();
}

}  // namespace
