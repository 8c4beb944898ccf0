#include "khost/setup/module_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "host/kbaselib.h"
#include "standin/kbaselib/registry.h"

namespace {

TEST(KhostModuleLoader, ARefusedModuleLeavesNoFactoryInTheRegistry) {
  Object_ClearRegistry();
  khost::LoadedModule module;
  // It registers "ProfilingCenter" while it loads, then lacks an entry point.
  const khost::Status loaded = module.Load(KHOST_PARTIAL_MODULE);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(loaded.Code(), khost::ExitStatus::kFailure);
  const std::string& error = loaded.GetError().Message;
  EXPECT_NE(error.find("EntryPointtoolprofiling"), std::string::npos) << error;
  EXPECT_FALSE(module.IsLoaded());
  EXPECT_EQ(Object_Find("UI/Tools", "ProfilingCenter"), nullptr);
  EXPECT_EQ(Object_GetRegisteredCount(), 0);

  // A registration of the host's own survives the refusal of a module.
  Object_Register(
      const_cast<char*>("UI/Host"), const_cast<char*>("Own"), nullptr,
      [](IObject*, char*, void*) -> IObject* { return nullptr; }, false, nullptr, nullptr);
  EXPECT_FALSE(module.Load(KHOST_PARTIAL_MODULE));
  EXPECT_NE(Object_Find("UI/Host", "Own"), nullptr);
  EXPECT_EQ(Object_GetRegisteredCount(), 1);
  Object_ClearRegistry();
}

}  // namespace
