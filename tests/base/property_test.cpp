// Typed properties: change notification, the generic set and get, integer
// conversions, named values and ranges.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "callback_recorder.h"
#include "host/kbaselib.h"

TEST(Property, ChangeHandlersRunOnlyWhenTheValueChanges) {
  KPropertyTemplate<int> value("Value", 3);
  Recorder r("r");
  EXPECT_TRUE(value.AddChangeHandler(&r, OnEventHandler()));
  EXPECT_TRUE(value.AddChangeHandler(&r, OnEventHandler()));
  EXPECT_EQ(value.GetChangeHandlerCount(), 1);

  value = 3;
  EXPECT_EQ(r.Calls, 0);
  value = 4;
  EXPECT_EQ(r.Calls, 1);
  EXPECT_EQ(r.LastEventId, kEventPropertyChanged);
  EXPECT_EQ(r.LastData, static_cast<void*>(static_cast<KProperty*>(&value)));

  int five = 5;
  value.SetFromPointer(&five, 0, 0);
  value.SetFromPointer(&five, 0, 0);
  value.SetFromPointer(nullptr, 0, 0);  // ignored
  EXPECT_EQ(r.Calls, 2);
  EXPECT_EQ(value.Get(), 5);

  EXPECT_TRUE(value.SetFromInt(5));
  EXPECT_EQ(r.Calls, 2);

  EXPECT_TRUE(value.RemoveChangeHandler(&r, OnEventHandler()));
  EXPECT_FALSE(value.RemoveChangeHandler(&r, OnEventHandler()));
  value = 6;
  EXPECT_EQ(r.Calls, 2);
}

TEST(Property, HandlerSeesTheNewValueAndMayWriteAgain) {
  KPropertyTemplate<int> value("Value", 0);
  Recorder r("r");
  value.AddChangeHandler(&r, OnEventHandler());
  int seen = -1;
  r.Action = [&] {
    seen = static_cast<int>(value);
    if (value.Get() > 10) value = 10;  // a handler that clamps re-enters the property
  };
  value = 50;
  EXPECT_EQ(value.Get(), 10);
  EXPECT_EQ(seen, 10);
  EXPECT_EQ(r.Calls, 2);
}

TEST(Property, DoubleConvertsToIntByTruncationWithClampingAndNanAsZero) {
  KPropertyTemplate<double> d("D", 2.9);
  EXPECT_EQ(d.GetType(), kPropertyDouble);
  EXPECT_EQ(d.GetAsInt(), 2);
  d = -2.9;
  EXPECT_EQ(d.GetAsInt(), -2);
  d = 1e300;
  EXPECT_EQ(d.GetAsInt(), INT_MAX);
  d = -1e300;
  EXPECT_EQ(d.GetAsInt(), INT_MIN);
  d = std::numeric_limits<double>::infinity();
  EXPECT_EQ(d.GetAsInt(), INT_MAX);

  Recorder r("r");
  d.AddChangeHandler(&r, OnEventHandler());
  d = std::nan("");
  EXPECT_EQ(d.GetAsInt(), 0);
  EXPECT_EQ(r.Calls, 1);
  d = std::nan("");  // NaN to NaN is no change
  EXPECT_EQ(r.Calls, 1);

  EXPECT_TRUE(d.SetFromInt(-7));
  EXPECT_EQ(d.Get(), -7.0);
  double out = 0;
  d.GetToPointer(&out);
  EXPECT_EQ(out, -7.0);
}

TEST(Property, BoolAndPointerConversions) {
  KPropertyTemplate<bool> flag("Flag");
  EXPECT_FALSE(flag.Get());
  EXPECT_EQ(flag.GetType(), kPropertyBool);
  EXPECT_TRUE(flag.SetFromInt(-3));
  EXPECT_TRUE(flag.Get());
  EXPECT_EQ(flag.GetAsInt(), 1);
  bool no = false;
  flag.SetFromPointer(&no, 0, 0);
  EXPECT_FALSE(static_cast<bool>(flag));

  KPropertyTemplate<KProperty*> edited("Edited");
  EXPECT_EQ(edited.GetType(), kPropertyPointer);
  EXPECT_EQ(edited.GetAsInt(), 0);
  EXPECT_FALSE(edited.SetFromInt(1));
  KProperty* target = &flag;
  edited.SetFromPointer(&target, 0, 0);  // points to a variable holding the address
  EXPECT_EQ(edited.Get(), &flag);
  EXPECT_EQ(edited.GetAsInt(), 1);
  KProperty* out = nullptr;
  edited.GetToPointer(&out);
  EXPECT_EQ(out, &flag);
}

TEST(Property, StringCopiesTextTreatsNullAsEmptyAndReadsIntegersLikeAtoi) {
  char buffer[] = "first";
  KPropertyTemplate<char*> text("Caption", buffer);
  buffer[0] = 'X';  // the property holds its own copy
  EXPECT_STREQ(text.Get(), "first");
  EXPECT_EQ(text.GetType(), kPropertyString);

  KPropertyTemplate<char*> empty("Empty", nullptr);
  EXPECT_STREQ(empty.Get(), "");

  Recorder r("r");
  text.AddChangeHandler(&r, OnEventHandler());
  text = "first";
  EXPECT_EQ(r.Calls, 0);
  text = nullptr;
  EXPECT_STREQ(text.Get(), "");
  EXPECT_EQ(r.Calls, 1);

  const struct {
    const char* Text;
    int Expected;
  } cases[] = {{"  32abc", 32},
               {"abc", 0},
               {"-1", -1},
               {"+7", 7},
               {"", 0},
               {"99999999999", INT_MAX},
               {"-99999999999", INT_MIN},
               {"\t 12 34", 12}};
  for (const auto& c : cases) {
    text = c.Text;
    EXPECT_EQ(text.GetAsInt(), c.Expected) << '"' << c.Text << '"';
  }

  EXPECT_TRUE(text.SetFromInt(-45));
  EXPECT_STREQ(text.Get(), "-45");

  const char* source = "from pointer";
  text.SetFromPointer(&source, 0, 0);
  EXPECT_STREQ(text.Get(), "from pointer");
  const char* null = nullptr;
  text.SetFromPointer(&null, 0, 0);
  EXPECT_STREQ(text.Get(), "");
  const char* out = nullptr;
  text = "read";
  text.GetToPointer(&out);
  EXPECT_STREQ(out, "read");
}

TEST(Property, NoValuePropertyReadsAndWritesTheBorrowedVariable) {
  int depth = 2;
  KPropertyNoValueTemplate<int> property("Depth", &depth);
  Recorder r("r");
  property.AddChangeHandler(&r, OnEventHandler());
  EXPECT_EQ(property.Get(), 2);

  property = 5;
  EXPECT_EQ(depth, 5);
  EXPECT_EQ(r.Calls, 1);
  property = 5;
  EXPECT_EQ(r.Calls, 1);

  depth = 9;  // a direct write bypasses the handlers but is seen by readers
  EXPECT_EQ(static_cast<int>(property), 9);
  EXPECT_EQ(property.GetAsInt(), 9);
  EXPECT_EQ(r.Calls, 1);

  int eleven = 11;
  property.SetFromPointer(&eleven, 0, 0);
  EXPECT_EQ(depth, 11);
  EXPECT_EQ(r.Calls, 2);

  bool flag = false;
  KPropertyNoValueTemplate<bool> flagProperty("Flag", &flag);
  EXPECT_TRUE(flagProperty.SetFromInt(2));
  EXPECT_TRUE(flag);
  bool out = false;
  flagProperty.GetToPointer(&out);
  EXPECT_TRUE(out);

  KPropertyNoValueTemplate<int> unbound("Unbound", nullptr);  // no variable: reads 0
  unbound = 4;
  EXPECT_EQ(unbound.Get(), 0);
}

TEST(Property, NamedValuesAndRange) {
  KPropertyTemplate<int> mode("Mode");
  EXPECT_EQ(mode.GetNamedValueCount(), 0);
  EXPECT_EQ(mode.GetNamedValue(0), nullptr);
  mode.SetNamedValues("Serial~Parallel");
  ASSERT_EQ(mode.GetNamedValueCount(), 2);
  EXPECT_STREQ(mode.GetNamedValue(0), "Serial");
  EXPECT_STREQ(mode.GetNamedValue(1), "Parallel");
  EXPECT_EQ(mode.GetNamedValue(2), nullptr);
  EXPECT_EQ(mode.GetNamedValue(-1), nullptr);

  mode.SetNamedValues("a~~b~");  // empty items keep their indices
  ASSERT_EQ(mode.GetNamedValueCount(), 4);
  EXPECT_STREQ(mode.GetNamedValue(1), "");
  EXPECT_STREQ(mode.GetNamedValue(2), "b");
  mode.SetNamedValues(nullptr);
  EXPECT_EQ(mode.GetNamedValueCount(), 0);

  EXPECT_EQ(mode.GetMinimum(), INT_MIN);
  EXPECT_EQ(mode.GetMaximum(), INT_MAX);
  EXPECT_EQ(mode.GetStep(), 1);
  mode.SetRange(10, 1, 0);  // reversed bounds and a zero step are mended
  EXPECT_EQ(mode.GetMinimum(), 1);
  EXPECT_EQ(mode.GetMaximum(), 10);
  EXPECT_EQ(mode.GetStep(), 1);
  EXPECT_STREQ(mode.GetName(), "Mode");

  KPropertyTemplate<int> unnamed(nullptr);
  EXPECT_STREQ(unnamed.GetName(), "");
}
