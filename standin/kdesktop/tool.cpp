// KTool: the base of a tool window, a form that also answers the tool and
// menu-command interfaces.
#include <algorithm>

#include "host/kdesktop.h"
#include "standin/kdesktop/tool_sizes.h"
#include "standin/ktoolkit/view_tree.h"

KTool::KTool() : KtForm(0) {}

KTool::~KTool() = default;

IObject* KTool::IQuery(unsigned long interfaceId, int reserved) {
  if (interfaceId == kIID_IMenuCommandExecutor) return static_cast<IMenuCommandExecutor*>(this);
  if (interfaceId == kIID_ITool) return static_cast<ITool*>(this);
  return KtForm::IQuery(interfaceId, reserved);
}

void KTool::Destroy(int /*flags*/) {
  delete this;
}

bool KTool::ExecuteMenuCommand(int /*commandId*/) {
  return false;
}

namespace {

constexpr int kLargest = 16384;  // the largest window the host opens

// Whether `view` accepts a size: a drawing view (one that paints its whole
// rectangle itself) needs at least the framework's drawing area.
bool DrawingViewFits(IKtView* view, int width, int height) {
  int type = 0;
  bool paintsItself = false;
  view->GetGraphicType(type, paintsItself);
  if (!paintsItself) return true;
  return width >= kdesktop::kDrawingViewMinWidth && height >= kdesktop::kDrawingViewMinHeight;
}

// The smallest value of one dimension at which the layout fits, the other
// held at the largest size, so that it never limits the search. Every
// placement grows or stays with the layout's size, so fitting is monotonic
// and a bisection finds the edge.
int SmallestFitting(const KtLayout& layout, bool width) {
  const KtLeafFits leafFits = DrawingViewFits;
  auto fits = [&](int value) {
    return width ? KtLayout_FitsAt(layout, value, kLargest, leafFits)
                 : KtLayout_FitsAt(layout, kLargest, value, leafFits);
  };
  if (!fits(kLargest)) return 1;  // never fits: no minimum to offer
  int low = 0;                    // does not fit (an empty window never does)
  int high = kLargest;            // fits
  while (high - low > 1) {
    const int middle = low + (high - low) / 2;
    if (fits(middle))
      high = middle;
    else
      low = middle;
  }
  return high;
}

}  // namespace

int KTool::ToolGetMinWSize() {
  return std::max(kdesktop::kToolFloorWidth, SmallestFitting(*this, true));
}

int KTool::ToolGetMinHSize() {
  return std::max(kdesktop::kToolFloorHeight, SmallestFitting(*this, false));
}
