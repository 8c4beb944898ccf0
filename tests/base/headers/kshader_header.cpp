// kshader.h must compile with nothing included before it.
#include <type_traits>

#include "host/kshader.h"

static_assert(kIID_IObject == 0 && kIID_IObjectSelf == 2);
static_assert(kIID_IKtGeometry == 100010 && kIID_IKtView == 100190);
static_assert(kIID_IKtScrollBarDriven == 100255);
static_assert(!std::is_copy_constructible_v<KRenderer>);
