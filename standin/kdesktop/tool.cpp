// KTool: the base of a tool window, a form that also answers the tool and
// menu-command interfaces.
#include "host/kdesktop.h"

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
