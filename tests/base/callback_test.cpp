// Callback lists and event properties: ordering, de-duplication and changes
// to the list made from inside a firing.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "callback_recorder.h"
#include "host/kbaselib.h"

using Log = std::vector<std::string>;

TEST(CallbackList, AddRemoveAndCountRejectDuplicatesAndNulls) {
  KCallbackList list;
  Recorder a("a");
  EXPECT_FALSE(list.Add(nullptr, OnEventHandler()));
  EXPECT_FALSE(list.Add(&a, nullptr));
  EXPECT_TRUE(list.Add(&a, OnEventHandler()));
  EXPECT_TRUE(list.Add(&a, OnEventHandler()));  // kept once
  EXPECT_EQ(list.Count(), 1);
  EXPECT_TRUE(list.Add(&a, OnOtherHandler()));  // another handler of the same receiver
  EXPECT_EQ(list.Count(), 2);

  KEventBase event(7);
  list.Fire(nullptr, &event);
  EXPECT_EQ(a.Calls, 1);
  EXPECT_EQ(a.OtherCalls, 1);

  EXPECT_TRUE(list.Remove(&a, OnEventHandler()));
  EXPECT_FALSE(list.Remove(&a, OnEventHandler()));
  EXPECT_FALSE(list.Contains(&a, OnEventHandler()));
  EXPECT_TRUE(list.Contains(&a, OnOtherHandler()));
  EXPECT_EQ(list.Count(), 1);
}

TEST(CallbackList, HigherPriorityFirstThenSubscriptionOrder) {
  Log log;
  Recorder low("low", &log), first("first", &log), second("second", &log), high("high", &log);
  KCallbackList list;
  list.Add(&low, OnEventHandler(), -5);
  list.Add(&first, OnEventHandler(), 0);
  list.Add(&second, OnEventHandler(), 0);
  list.Add(&high, OnEventHandler(), 10);
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"high", "first", "second", "low"}));
}

TEST(CallbackList, HandlerRemovingItselfAndALaterOneDuringFiring) {
  Log log;
  Recorder a("a", &log), b("b", &log), c("c", &log);
  KCallbackList list;
  list.Add(&a, OnEventHandler());
  list.Add(&b, OnEventHandler());
  list.Add(&c, OnEventHandler());
  a.Action = [&] {
    list.Remove(&a, OnEventHandler());
    list.Remove(&b, OnEventHandler());
  };
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"a", "c"}));  // b was removed before its turn
  EXPECT_EQ(list.Count(), 1);

  log.clear();
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"c"}));
}

TEST(CallbackList, HandlerAddedDuringFiringRunsFromTheNextFiringInPriorityOrder) {
  Log log;
  Recorder a("a", &log), late("late", &log), b("b", &log);
  KCallbackList list;
  list.Add(&a, OnEventHandler(), 0);
  list.Add(&b, OnEventHandler(), 0);
  a.Action = [&] { list.Add(&late, OnEventHandler(), 5); };
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"a", "b"}));
  EXPECT_TRUE(list.Contains(&late, OnEventHandler()));

  a.Action = nullptr;
  log.clear();
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"late", "a", "b"}));  // took its priority place once the firing ended
}

TEST(CallbackList, RemoveThenAddAgainDuringFiringIsNotCalledTwice) {
  Log log;
  Recorder a("a", &log), b("b", &log);
  KCallbackList list;
  list.Add(&a, OnEventHandler());
  list.Add(&b, OnEventHandler());
  a.Action = [&] {
    list.Remove(&b, OnEventHandler());
    list.Add(&b, OnEventHandler());
  };
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"a"}));
  EXPECT_EQ(list.Count(), 2);
}

TEST(CallbackList, NestedFiringAndRemovalInsideTheInnerFiring) {
  Log log;
  Recorder a("a", &log), b("b", &log), c("c", &log);
  KCallbackList list;
  list.Add(&a, OnEventHandler());
  list.Add(&b, OnEventHandler());
  list.Add(&c, OnEventHandler());
  int depth = 0;
  a.Action = [&] {
    if (depth++ == 0) list.Fire(nullptr, nullptr);
  };
  b.Action = [&] { list.Remove(&c, OnEventHandler()); };
  list.Fire(nullptr, nullptr);
  // Outer a, inner a (no further nesting), inner b removes c, outer b; c never runs.
  EXPECT_EQ(log, (Log{"a", "a", "b", "b"}));
  EXPECT_EQ(list.Count(), 2);
}

TEST(CallbackList, HandlerDestroyingTheListEndsTheFiringSafely) {
  Log log;
  Recorder a("a", &log), b("b", &log);
  auto list = std::make_unique<KCallbackList>();
  list->Add(&a, OnEventHandler());
  list->Add(&b, OnEventHandler());
  a.Action = [&] { list.reset(); };
  list->Fire(nullptr, nullptr);  // must not touch the freed list
  EXPECT_EQ(log, (Log{"a"}));
}

TEST(CallbackList, ExceptionFromAHandlerLeavesTheListUsable) {
  Log log;
  Recorder a("a", &log), b("b", &log);
  KCallbackList list;
  list.Add(&a, OnEventHandler());
  list.Add(&b, OnEventHandler());
  a.Action = [&] {
    list.Remove(&b, OnEventHandler());
    throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(list.Fire(nullptr, nullptr), std::runtime_error);
  // The firing was closed: removals take effect at once again.
  a.Action = nullptr;
  EXPECT_TRUE(list.Remove(&a, OnEventHandler()));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.Add(&b, OnEventHandler()));
  log.clear();
  list.Fire(nullptr, nullptr);
  EXPECT_EQ(log, (Log{"b"}));
}

TEST(PropertyEvent, FiresInOrderWithSenderAndEventAndHasNoValue) {
  Log log;
  Recorder a("a", &log), b("b", &log);
  KPropertyEvent event("OnClick");
  EXPECT_FALSE(event.Add(nullptr, OnEventHandler()));
  EXPECT_TRUE(event.Add(&a, OnEventHandler()));
  EXPECT_TRUE(event.Add(&b, OnEventHandler()));
  EXPECT_TRUE(event.Add(&a, OnEventHandler()));
  EXPECT_EQ(event.GetCount(), 2);

  KEventBase payload(42, &log);
  event.Fire(nullptr, &payload);
  EXPECT_EQ(log, (Log{"a", "b"}));
  EXPECT_EQ(a.LastEvent, &payload);
  EXPECT_EQ(a.LastEventId, 42);

  EXPECT_EQ(event.GetType(), kPropertyEvent);
  EXPECT_EQ(event.GetAsInt(), 0);
  EXPECT_FALSE(event.SetFromInt(3));
  int untouched = 5;
  event.SetFromPointer(&untouched, 0, 0);
  event.GetToPointer(&untouched);
  EXPECT_EQ(untouched, 5);

  EXPECT_TRUE(event.Remove(&a, OnEventHandler()));
  EXPECT_FALSE(event.Remove(&a, OnEventHandler()));
  EXPECT_EQ(event.GetCount(), 1);
}

TEST(PropertyEvent, HandlerRemovingItselfFromInsideItsHandler) {
  Recorder a("a");
  KPropertyEvent event("OnChange");
  event.Add(&a, OnEventHandler());
  a.Action = [&] { EXPECT_TRUE(event.Remove(&a, OnEventHandler())); };
  event.Fire(nullptr, nullptr);
  event.Fire(nullptr, nullptr);
  EXPECT_EQ(a.Calls, 1);
  EXPECT_EQ(event.GetCount(), 0);
}
