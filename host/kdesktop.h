// kdesktop: the host's tool framework.
//
// Threads: user-interface thread only.
#pragma once

#include "host/ktoolkit.h"

class IMenuCommandExecutor : public IObject {
 public:
  // Runs a menu command of the tool; false when the tool has no such command.
  virtual bool ExecuteMenuCommand(int commandId) = 0;

 protected:
  ~IMenuCommandExecutor() = default;
};

class ITool : public IObject {
 public:
  virtual int ToolGetStartWSize() = 0;  // the size the tool asks to open at
  virtual int ToolGetStartHSize() = 0;
  virtual int ToolGetMinWSize() = 0;  // the smallest size the host gives it
  virtual int ToolGetMinHSize() = 0;
  virtual bool ToolIsActive() = 0;
  virtual void ToolSetActive(bool active) = 0;

 protected:
  ~ITool() = default;
};

// A tool window: a form with the tool's start size. Base chain KTool : KtForm
// : KtLayout : KtView : KObject : KPlug : ICallback : IObject, with the
// interfaces of KtLayout, IMenuCommandExecutor and ITool. Created on the heap;
// the host ends it with Destroy(0), which deletes it.
class KHOST_API KTool : public KtForm, public IMenuCommandExecutor, public ITool {
 public:
  KTool();
  ~KTool() override;

  IObject* IQuery(unsigned long interfaceId, int reserved) override;
  void Destroy(int flags) override;

  // IMenuCommandExecutor: the base tool has no commands.
  bool ExecuteMenuCommand(int commandId) override;

  // ITool
  int ToolGetStartWSize() override { return StartWSize; }
  int ToolGetStartHSize() override { return StartHSize; }
  // The larger of MinWSize/MinHSize and the smallest size at which every
  // control of the tool's layouts is fully shown and every drawing view (a
  // view that paints its whole rectangle itself) has room for its
  // statistics header: kDrawingMinWidth × kDrawingMinHeight.
  int ToolGetMinWSize() override;
  int ToolGetMinHSize() override;
  bool ToolIsActive() override { return mActive; }
  void ToolSetActive(bool active) override { mActive = active; }

 public:
  // The room a drawing view needs for the statistics header the profiling
  // views draw across their top: three blocks at 20, 170 and 370 pixels,
  // the last one's longest line ("(Min: 999.9, Max: 999.9)", 131 pixels in
  // the default style) and 4 pixels of gap before the 17-pixel scroll bar
  // at the view's right edge; and the header's 85 pixels with a chart row
  // below it.
  static constexpr int kDrawingMinWidth = 370 + 131 + 4 + 17;
  static constexpr int kDrawingMinHeight = 85 + 20;

 protected:
  // Set by a derived tool's constructor.
  int StartWSize = 400;
  int StartHSize = 300;
  int MinWSize = 200;
  int MinHSize = 150;

 private:
  bool mActive = false;
};
