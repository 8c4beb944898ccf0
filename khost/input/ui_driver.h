// Scripted user actions on the tool window (--select, --click, --set), each
// sent through the window's input path: mouse and key events at the
// control's on-screen position, hit-tested by the toolkit as a user's would
// be.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/kcontrols.h"
#include "host/ktoolkit.h"
#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "standin/ktoolkit/viewhost.h"

namespace khost {

// A control found in the tool's layouts.
struct FoundControl {
  enum Kind { kButton, kEditor, kList, kLabel, kTabs, kOther };
  Kind ControlKind = kOther;
  KtView* View = nullptr;
  std::string Caption;  // empty for lists and other views
};

// Every control of `root`'s regions and of the layouts inside them, in
// region order, depth first.
std::vector<FoundControl> CollectControls(KtLayout& root);

// The value `property` holds as --set writes it: "0" or "1" for a check box,
// the item's text for a drop-down, the number for a number field.
std::string PropertyValueText(const KProperty& property);
// Whether `property` takes exactly the values --set gives it (a check box
// or a drop-down); a number field's host may round what it is given.
bool HoldsValueAsGiven(const KProperty& property);

// The values an editor offers, as --set takes them, and the one it shows.
struct EditorChoices {
  std::vector<std::string> Values;  // a check box: "0", "1"; a drop-down: its items
  int Current = 0;                  // an index into Values
};

class UiDriver {
 public:
  // `expose` paints one frame of the window (the popup included), so the
  // controls' on-screen rectangles are current.
  UiDriver(KtLayout& root, KtViewHost& host, int windowWidth, int windowHeight,
           std::function<void()> expose);

  // Sends `action` through the window's input. An unknown caption, item or
  // value is bad input; a control that is not on screen or does not take
  // the input is a failure; either message names the caption, item or value.
  Status Run(const UiAction& action);
  // Resolves `action` against the tool as built, sending no input: the
  // caption, item or value it names, and whether that control takes it.
  // What it does not check is whether the control is on screen and takes
  // the input, which Run finds out. The controls, their items and value
  // ranges are there from the tool's creation, so this runs before the
  // first frame, before any output is opened.
  Status Check(const UiAction& action);

  // The choices of the check box or drop-down captioned `caption`; a
  // number field, an unknown caption or a control that is no editor is
  // refused as bad input with a message naming it.
  Result<EditorChoices> ReadChoices(const std::string& caption);

  // The property the editor captioned `caption` edits: what the setting
  // holds, whatever changed it (null when no editor has that caption). The
  // host's settings outlive the window, so the pointer stays valid.
  KProperty* EditedProperty(const std::string& caption);

  // The display selector: the list offering `item` (null when none does).
  KtList* FindListWithItem(const std::string& item);
  // The first list of the window (null when there is none).
  KtList* FindFirstList();

 private:
  // A control's rectangle in window pixels.
  struct ScreenRect {
    int X = 0;
    int Y = 0;
    int W = 0;
    int H = 0;
  };

  // Run's and Check's work (mChecking: stop before any input).
  Status Act(const UiAction& action);
  Status Select(const UiAction& action);
  Status Click(const UiAction& action);
  Status Set(const UiAction& action);
  Status SetCheckBox(KtProperty& editor, KProperty& property, const UiAction& action);
  Status SetDropDown(KtProperty& editor, KProperty& property, const UiAction& action);
  Status SetNumber(KtProperty& editor, KProperty& property, const UiAction& action);
  // Picks row `index` of the open popup. `what` names the control in errors.
  Status PickPopupRow(int index, int count, const std::string& what);

  // Mouse move, press and release of the left button at (x, y); false when
  // the press was not taken by any view.
  bool ClickAt(int x, int y);
  // Where a control is, or a failure when its centre is not on screen.
  Result<ScreenRect> Locate(KtView& view, const std::string& what);
  std::vector<FoundControl> FindByCaption(const std::string& caption);
  std::string KnownCaptions();

  KtLayout& mRoot;
  KtViewHost& mHost;
  int mWidth;
  int mHeight;
  std::function<void()> mExpose;
  bool mChecking = false;
};

}  // namespace khost
