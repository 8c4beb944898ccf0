// kdesktop.h must compile with nothing included before it.
#include <type_traits>

#include "host/kdesktop.h"

static_assert(kIID_IObject == 0 && kIID_IObjectSelf == 2);
static_assert(kIID_IKtGeometry == 100010 && kIID_IKtView == 100190);
static_assert(kIID_IKtScrollBarDriven == 100255);
static_assert(std::is_base_of_v<KtForm, KTool> && std::is_base_of_v<ITool, KTool>);
