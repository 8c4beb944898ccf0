// kdesktop: the host's tool framework.
//
// Sections: tool interfaces; KTool. Notes on operations: [thread;
// ownership] (see host/kbaselib.h).
//
// Threads: user-interface thread only.
#pragma once

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Tool interfaces
//-----------------------------------------------------------------------------

class IMenuCommandExecutor : public IObject {
 public:
  // Runs a menu command of the tool; false when the tool has no such command.
  virtual bool ExecuteMenuCommand(int commandId) = 0;  // [ui; -]

 protected:
  ~IMenuCommandExecutor() = default;
};

class ITool : public IObject {
 public:
  virtual int ToolGetStartWSize() = 0;          // the size the tool asks to open at [ui; -]
  virtual int ToolGetStartHSize() = 0;          // [ui; -]
  virtual int ToolGetMinWSize() = 0;            // the smallest size the host gives it [ui; -]
  virtual int ToolGetMinHSize() = 0;            // [ui; -]
  virtual bool ToolIsActive() = 0;              // [ui; -]
  virtual void ToolSetActive(bool active) = 0;  // [ui; -]

 protected:
  ~ITool() = default;
};

//-----------------------------------------------------------------------------
// [SECTION] KTool
//-----------------------------------------------------------------------------

// A tool window: a form with the tool's start size. Base chain KTool : KtForm
// : KtLayout : KtView : KObject : KPlug : ICallback : IObject, with the
// interfaces of KtLayout, IMenuCommandExecutor and ITool. Created on the heap;
// the host ends it with Destroy(0), which deletes it.
class KHOST_API KTool : public KtForm, public IMenuCommandExecutor, public ITool {
 public:
  KTool();  // [ui; -]
  ~KTool() override;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;  // [ui; -]
  void Destroy(int flags) override;                                   // [ui; -]

  // IMenuCommandExecutor: the base tool has no commands.
  bool ExecuteMenuCommand(int commandId) override;  // [ui; -]

  // ITool
  int ToolGetStartWSize() override { return StartWSize; }  // [ui; -]
  int ToolGetStartHSize() override { return StartHSize; }  // [ui; -]
  // The smallest size the tool framework gives the tool, worked out from
  // the tool's layouts.
  int ToolGetMinWSize() override;                                 // [ui; -]
  int ToolGetMinHSize() override;                                 // [ui; -]
  bool ToolIsActive() override { return mActive; }                // [ui; -]
  void ToolSetActive(bool active) override { mActive = active; }  // [ui; -]

 protected:
  // Set by a derived tool's constructor.
  int StartWSize = 400;
  int StartHSize = 300;

 private:
  bool mActive = false;
};
