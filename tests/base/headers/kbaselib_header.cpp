// kbaselib.h must compile with nothing included before it.
#include <type_traits>

#include "host/kbaselib.h"

static_assert(kIID_IObject == 0 && kIID_IObjectSelf == 2);
static_assert(kIID_IKtGeometry == 100010 && kIID_IKtView == 100190);
static_assert(kIID_IKtScrollBarDriven == 100255);
static_assert(std::is_base_of_v<IObject, KObject> && std::is_base_of_v<ICallback, KPlug>);
static_assert(std::is_base_of_v<KTaskCycle, KProfilingSampling>);
static_assert(KProfiler::kRootCycleCount == 12);
static_assert(kEventPropertyChanged == 1);

#include <gtest/gtest.h>

// The header's inline helpers work without any library behind them.
TEST(HostHeaders, QueryHelperIsNullSafeAndEventCarriesItsData) {
  EXPECT_EQ(KQueryInterface<IObject>(nullptr, kIID_IObject), nullptr);
  int payload = 0;
  const KEventBase event(5, &payload);
  EXPECT_EQ(event.EventId, 5);
  EXPECT_EQ(event.Data, &payload);
}
