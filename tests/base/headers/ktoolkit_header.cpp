// ktoolkit.h must compile with nothing included before it.
#include <type_traits>

#include "host/ktoolkit.h"

static_assert(kIID_IObject == 0 && kIID_IObjectSelf == 2);
static_assert(kIID_IKtGeometry == 100010 && kIID_IKtView == 100190);
static_assert(kIID_IKtScrollBarDriven == 100255);
static_assert(std::is_base_of_v<KObject, KtView> && std::is_base_of_v<KtView, KtLayout>);
static_assert(std::is_base_of_v<IKtView, KtView> && std::is_base_of_v<IKtGeometry, KtView>);
