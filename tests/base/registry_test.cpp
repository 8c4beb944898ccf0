// The object registry: replace-on-repeat, look-ups, creation, bad input and
// registration from several threads.

#include "standin/kbaselib/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/kbaselib.h"

namespace {

class Made : public IObject {
 public:
  explicit Made(std::string name) : Name(std::move(name)) {}
  virtual ~Made() = default;
  IObject* IQuery(unsigned long id, int) override { return id == kIID_IObject ? this : nullptr; }
  void Destroy(int) override { delete this; }
  std::string Name;
  void* Data = nullptr;
};

IObject* MakeA(IObject*, char* name, void* data) {
  auto* made = new Made(std::string("A:") + (name ? name : ""));
  made->Data = data;
  return made;
}
IObject* MakeB(IObject*, char* name, void*) {
  return new Made(std::string("B:") + (name ? name : ""));
}

char* Text(const char* text) {
  return const_cast<char*>(text);
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { Object_ClearRegistry(); }
  void TearDown() override { Object_ClearRegistry(); }
};

}  // namespace

TEST_F(Registry, RepeatedRegistrationReplacesInPlaceAndCounts) {
  std::string path = "UI/Tools";
  ASSERT_TRUE(Object_Register(path.data(), Text("First"), Text("First Tool"), MakeA, false,
                              Text("a.png"), nullptr));
  ASSERT_TRUE(Object_Register(Text("UI/Browsing"), Text("First"), Text("Other path"), MakeA, false,
                              nullptr, nullptr));
  path[0] = 'X';  // strings are copied
  ASSERT_TRUE(Object_Register(Text("UI/Tools"), Text("First"), Text("Replaced"), MakeB, true,
                              Text("b.png"), nullptr));

  ASSERT_EQ(Object_GetRegisteredCount(), 2);
  const KRegisteredClass* first = Object_GetRegistered(0);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->Path, "UI/Tools");  // kept its position
  EXPECT_STREQ(first->Name, "First");
  EXPECT_STREQ(first->DisplayName, "Replaced");
  EXPECT_STREQ(first->Icon, "b.png");
  EXPECT_EQ(first->Factory, &MakeB);
  EXPECT_TRUE(first->Flag);
  EXPECT_EQ(first->RegisterCount, 2);

  const KRegisteredClass* second = Object_GetRegistered(1);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second->Path, "UI/Browsing");
  EXPECT_STREQ(second->Icon, "");  // a null icon reads as empty
  EXPECT_EQ(second->RegisterCount, 1);

  EXPECT_EQ(Object_GetRegistered(2), nullptr);
  EXPECT_EQ(Object_GetRegistered(-1), nullptr);
  EXPECT_EQ(Object_Find("UI/Tools", "First"), first);
  EXPECT_EQ(Object_Find("UI/Tools", "first"), nullptr);  // names match exactly
  EXPECT_EQ(Object_Find("UI/Tools", "Missing"), nullptr);
  EXPECT_EQ(Object_Find(nullptr, "First"), nullptr);
}

TEST_F(Registry, ARecordFetchedBeforeAReplacementStaysReadable) {
  ASSERT_TRUE(
      Object_Register(Text("UI/Tools"), Text("T"), Text("Old"), MakeA, false, nullptr, nullptr));
  const KRegisteredClass* before = Object_Find("UI/Tools", "T");
  ASSERT_TRUE(
      Object_Register(Text("UI/Tools"), Text("T"), Text("New"), MakeB, false, nullptr, nullptr));
  ASSERT_NE(before, nullptr);
  EXPECT_STREQ(before->DisplayName, "Old");  // still valid memory
  EXPECT_STREQ(Object_Find("UI/Tools", "T")->DisplayName, "New");
}

TEST_F(Registry, CreateCallsTheLatestFactoryWithNameAndData) {
  ASSERT_TRUE(
      Object_Register(Text("UI/Tools"), Text("T"), Text("T"), MakeA, false, nullptr, nullptr));
  int data = 0;
  IObject* object = Object_Create("UI/Tools", "T", nullptr, &data);
  ASSERT_NE(object, nullptr);
  auto* made = static_cast<Made*>(KQueryInterface<IObject>(object, kIID_IObject));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name, "A:T");
  EXPECT_EQ(made->Data, &data);
  object->Destroy(0);

  ASSERT_TRUE(
      Object_Register(Text("UI/Tools"), Text("T"), Text("T"), MakeB, false, nullptr, nullptr));
  object = Object_Create("UI/Tools", "T", nullptr, nullptr);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(static_cast<Made*>(object)->Name, "B:T");
  object->Destroy(0);

  EXPECT_EQ(Object_Create("UI/Tools", "Nope", nullptr, nullptr), nullptr);
  EXPECT_EQ(KQueryInterface<IObject>(nullptr, kIID_IObject), nullptr);
}

TEST_F(Registry, RejectsMissingPathNameOrFactory) {
  EXPECT_FALSE(Object_Register(nullptr, Text("N"), Text("D"), MakeA, false, nullptr, nullptr));
  EXPECT_FALSE(Object_Register(Text(""), Text("N"), Text("D"), MakeA, false, nullptr, nullptr));
  EXPECT_FALSE(Object_Register(Text("P"), nullptr, Text("D"), MakeA, false, nullptr, nullptr));
  EXPECT_FALSE(Object_Register(Text("P"), Text(""), Text("D"), MakeA, false, nullptr, nullptr));
  EXPECT_FALSE(Object_Register(Text("P"), Text("N"), Text("D"), nullptr, false, nullptr, nullptr));
  EXPECT_EQ(Object_GetRegisteredCount(), 0);
  // A null display name is allowed and reads as empty.
  EXPECT_TRUE(Object_Register(Text("P"), Text("N"), nullptr, MakeA, false, nullptr, nullptr));
  EXPECT_STREQ(Object_Find("P", "N")->DisplayName, "");
}

TEST_F(Registry, ClearForgetsEverything) {
  ASSERT_TRUE(Object_Register(Text("P"), Text("N"), nullptr, MakeA, false, nullptr, nullptr));
  Object_ClearRegistry();
  EXPECT_EQ(Object_GetRegisteredCount(), 0);
  EXPECT_EQ(Object_Find("P", "N"), nullptr);
  ASSERT_TRUE(Object_Register(Text("P"), Text("N"), nullptr, MakeA, false, nullptr, nullptr));
  EXPECT_EQ(Object_Find("P", "N")->RegisterCount, 1);  // counting starts afresh
}

TEST_F(Registry, ConcurrentRegistrationKeepsOneEntryPerPathAndNameAndCountsEveryCall) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      const std::string own = "Own" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        Object_Register(Text("UI/Tools"), Text("Shared"), Text("S"), (i % 2) ? MakeA : MakeB, false,
                        nullptr, nullptr);
        Object_Register(Text("UI/Tools"), const_cast<char*>(own.c_str()), Text("O"), MakeA, false,
                        nullptr, nullptr);
        const KRegisteredClass* found = Object_Find("UI/Tools", "Shared");
        if (found) {
          EXPECT_STREQ(found->Name, "Shared");
        }
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(Object_GetRegisteredCount(), kThreads + 1);
  ASSERT_NE(Object_Find("UI/Tools", "Shared"), nullptr);
  EXPECT_EQ(Object_Find("UI/Tools", "Shared")->RegisterCount, kThreads * kRounds);
  for (int t = 0; t < kThreads; ++t) {
    const std::string own = "Own" + std::to_string(t);
    ASSERT_NE(Object_Find("UI/Tools", own.c_str()), nullptr);
    EXPECT_EQ(Object_Find("UI/Tools", own.c_str())->RegisterCount, kRounds);
  }
}
