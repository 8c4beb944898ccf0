#include "khost/input/ui_driver.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "khost/cli/cli_values.h"
#include "standin/ktoolkit/controls.h"
#include "standin/ktoolkit/view_tree.h"
#include "standin/ktoolkit/viewhost.h"

namespace khost {

namespace {

void Collect(KtLayout& layout, std::vector<FoundControl>& out, int depth) {
  if (depth > 32) return;  // a layout nested in itself would never end
  const int count = KtLayout_GetRegionCount(layout);
  for (int i = 0; i < count; ++i) {
    const char* region = KtLayout_GetRegionName(layout, i);
    if (!region) continue;
    IKtView* view = KtLayout_GetRegionView(layout, region);
    KtView* kt = dynamic_cast<KtView*>(view);
    if (!kt) continue;
    FoundControl found;
    found.View = kt;
    if (auto* button = dynamic_cast<KtButton*>(kt)) {
      found.ControlKind = FoundControl::kButton;
      found.Caption = button->Caption.Get();
    } else if (auto* editor = dynamic_cast<KtProperty*>(kt)) {
      found.ControlKind = FoundControl::kEditor;
      found.Caption = editor->Caption.Get();
    } else if (dynamic_cast<KtList*>(kt)) {
      found.ControlKind = FoundControl::kList;
    } else if (auto* label = dynamic_cast<KtStatic*>(kt)) {
      found.ControlKind = FoundControl::kLabel;
      found.Caption = label->Caption.Get();
    } else if (auto* tabs = dynamic_cast<KtTabPanel*>(kt)) {
      found.ControlKind = FoundControl::kTabs;
      if (KtTabPanel_GetTabCount(*tabs) == 1 && KtTabPanel_GetTab(*tabs, 0))
        found.Caption = KtTabPanel_GetTab(*tabs, 0);
    }
    out.push_back(found);
    if (auto* inner = dynamic_cast<KtLayout*>(kt)) Collect(*inner, out, depth + 1);
  }
}

std::string Quote(const std::string& text) {
  return QuoteArgument(text);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char ca = a[i];
    char cb = b[i];
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb + 32);
    if (ca != cb) return false;
  }
  return true;
}

// "'a', 'b', 'c'": the items of a list, for messages.
std::string QuotedItems(KtList* list) {
  std::string items;
  for (int i = 0; list && i < list->GetItemCount(); ++i) {
    items += std::string(i ? ", " : "") + Quote(list->GetItem(i) ? list->GetItem(i) : "");
  }
  return items;
}

// What to tell a user who clicks or sets a label: the label names the
// display selector, whose items --select chooses.
std::string LabelHint(const std::string& caption, KtList* selector) {
  if (!selector) return Quote(caption) + " is a label and cannot be clicked";
  const std::string items = QuotedItems(selector);
  return Quote(caption) + " is the display selector's label; choose what it shows with --select " +
         "ITEM" + (items.empty() ? std::string() : " (items: " + items + ")");
}

// Counts the clicks a button reports while an action runs.
class ClickProbe : public ICallback {
 public:
  ClickProbe() = default;
  virtual ~ClickProbe() = default;
  ClickProbe(const ClickProbe&) = delete;
  ClickProbe& operator=(const ClickProbe&) = delete;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void OnClick(IRegister*, KEventBase*) { ++Clicks; }
  int Clicks = 0;
};

}  // namespace

std::string PropertyValueText(const KProperty& property) {
  const int value = property.GetAsInt();
  if (property.GetType() == kPropertyBool) return value != 0 ? "1" : "0";
  if (property.GetType() == kPropertyInt && property.GetNamedValueCount() > 0) {
    const char* item = property.GetNamedValue(value);
    return item ? item : std::to_string(value);
  }
  return std::to_string(value);
}

bool HoldsValueAsGiven(const KProperty& property) {
  return property.GetType() == kPropertyBool ||
         (property.GetType() == kPropertyInt && property.GetNamedValueCount() > 0);
}

std::vector<FoundControl> CollectControls(KtLayout& root) {
  std::vector<FoundControl> out;
  Collect(root, out, 0);
  return out;
}

UiDriver::UiDriver(KtLayout& root, KtViewHost& host, int windowWidth, int windowHeight,
                   std::function<void()> expose)
    : mRoot(root),
      mHost(host),
      mWidth(windowWidth),
      mHeight(windowHeight),
      mExpose(std::move(expose)) {}

Status UiDriver::Check(const UiAction& action) {
  mChecking = true;
  Status result = Act(action);
  mChecking = false;
  return result;
}

Status UiDriver::Run(const UiAction& action) {
  mExpose();  // rectangles of the current layout
  Status result = Act(action);
  mExpose();
  return result;
}

Status UiDriver::Act(const UiAction& action) {
  switch (action.ActionKind) {
    case UiAction::kSelect:
      return Select(action);
    case UiAction::kClick:
      return Click(action);
    case UiAction::kSet:
      return Set(action);
  }
  return {};
}

bool UiDriver::ClickAt(int x, int y) {
  mHost.Input(kInputMouseMove, x, y, 0, 0);
  const bool taken = mHost.Input(kInputMouseDown, x, y, 0, 0);
  mHost.Input(kInputMouseUp, x, y, 0, 0);
  return taken;
}

Result<UiDriver::ScreenRect> UiDriver::Locate(KtView& view, const std::string& what) {
  ScreenRect r;
  if (!KtView_GetWindowRect(view, r.X, r.Y, r.W, r.H) || r.W <= 0 || r.H <= 0) {
    return Failure(what + " is not shown in the window");
  }
  const int cx = r.X + r.W / 2;
  const int cy = r.Y + r.H / 2;
  if (cx < 0 || cy < 0 || cx >= mWidth || cy >= mHeight) {
    return Failure(what + " lies outside the window (" + std::to_string(mWidth) + "x" +
                   std::to_string(mHeight) + ")");
  }
  return r;
}

std::vector<FoundControl> UiDriver::FindByCaption(const std::string& caption) {
  std::vector<FoundControl> found;
  for (const FoundControl& c : CollectControls(mRoot)) {
    if (!c.Caption.empty() && c.Caption == caption) found.push_back(c);
  }
  return found;
}

std::string UiDriver::KnownCaptions() {
  std::string list;
  for (const FoundControl& c : CollectControls(mRoot)) {
    if (c.Caption.empty()) continue;
    if (!list.empty()) list += ", ";
    list += Quote(c.Caption);
  }
  return list;
}

KProperty* UiDriver::EditedProperty(const std::string& caption) {
  for (const FoundControl& c : FindByCaption(caption)) {
    if (c.ControlKind == FoundControl::kEditor) {
      return static_cast<KtProperty*>(c.View)->GetEditedProperty();
    }
  }
  return nullptr;
}

KtList* UiDriver::FindListWithItem(const std::string& item) {
  for (const FoundControl& c : CollectControls(mRoot)) {
    if (c.ControlKind != FoundControl::kList) continue;
    auto* list = static_cast<KtList*>(c.View);
    if (list->FindItem(item.c_str()) >= 0) return list;
  }
  return nullptr;
}

KtList* UiDriver::FindFirstList() {
  for (const FoundControl& c : CollectControls(mRoot)) {
    if (c.ControlKind == FoundControl::kList) return static_cast<KtList*>(c.View);
  }
  return nullptr;
}

Status UiDriver::PickPopupRow(int index, int count, const std::string& what) {
  mExpose();  // the popup gets its on-screen rectangle
  KtView* popup = dynamic_cast<KtView*>(mHost.GetPopup());
  if (!popup) return Failure(what + " did not open its item list");
  int x = 0, y = 0, w = 0, h = 0;
  if (!KtView_GetWindowRect(*popup, x, y, w, h) || count <= 0 || h < count) {
    return Failure("the item list of " + what + " is not shown");
  }
  const int row = h / count;
  const int cx = x + w / 2;
  const int cy = y + row * index + row / 2;
  if (cx < 0 || cy < 0 || cx >= mWidth || cy >= mHeight) {
    mHost.Input(kInputKeyDown, cx, cy, kKeyEscape, 0);
    return Failure("item " + std::to_string(index) + " of " + what + " lies outside the window");
  }
  if (!ClickAt(cx, cy)) return Failure("the item list of " + what + " did not take the click");
  return {};
}

Status UiDriver::Select(const UiAction& action) {
  KtList* list = FindListWithItem(action.Caption);
  if (!list) {
    const std::string items = QuotedItems(FindFirstList());
    return BadInput("unknown item " + Quote(action.Caption) + " in the display selector" +
                    (items.empty() ? std::string() : " (items: " + items + ")"));
  }
  if (mChecking) return {};
  const int index = list->FindItem(action.Caption.c_str());
  const std::string what = "the display selector";
  const Result<ScreenRect> located = Locate(*list, what);
  if (!located) return located.AsStatus();
  const ScreenRect& r = *located;
  if (list->IsOpen()) ClickAt(r.X + r.W / 2, r.Y + r.H / 2);  // start from a closed list
  if (!ClickAt(r.X + r.W / 2, r.Y + r.H / 2)) return Failure(what + " did not take the click");
  if (Status picked = PickPopupRow(index, list->GetItemCount(), what); !picked) return picked;
  if (list->SelectedIndex.Get() != index) {
    return Failure(what + " did not select " + Quote(action.Caption));
  }
  return {};
}

Status UiDriver::Click(const UiAction& action) {
  const std::vector<FoundControl> found = FindByCaption(action.Caption);
  if (found.empty()) {
    return BadInput("unknown caption " + Quote(action.Caption) + " (captions: " + KnownCaptions() +
                    ")");
  }
  const FoundControl& c = found.front();
  const std::string what = "control " + Quote(action.Caption);
  ScreenRect r;
  if (!mChecking) {
    const Result<ScreenRect> located = Locate(*c.View, what);
    if (!located) return located.AsStatus();
    r = *located;
  }
  const auto [x, y, w, h] = r;
  switch (c.ControlKind) {
    case FoundControl::kButton: {
      if (mChecking) return {};
      auto* button = static_cast<KtButton*>(c.View);
      ClickProbe probe;
      button->OnClick.Add(&probe, KCALLBACK_HANDLER(ClickProbe::OnClick));
      const bool taken = ClickAt(x + w / 2, y + h / 2);
      button->OnClick.Remove(&probe, KCALLBACK_HANDLER(ClickProbe::OnClick));
      if (!taken || probe.Clicks != 1)
        return Failure("button " + Quote(action.Caption) + " did not take the click");
      return {};
    }
    case FoundControl::kEditor: {
      auto* editor = static_cast<KtProperty*>(c.View);
      KProperty* property = editor->GetEditedProperty();
      if (!property) return BadInput("editor " + Quote(action.Caption) + " edits nothing");
      const bool clickable =
          property->GetType() == kPropertyBool ||
          (property->GetType() == kPropertyInt && property->GetNamedValueCount() > 0);
      if (mChecking && clickable) return {};
      const int caption = std::max(0, editor->CaptionWidth.Get());
      if (property->GetType() == kPropertyBool) {
        const int before = property->GetAsInt();
        if (!ClickAt(x + std::min(caption + 7, w - 1), y + h / 2) ||
            property->GetAsInt() == before) {
          return Failure("check box " + Quote(action.Caption) + " did not take the click");
        }
        return {};
      }
      if (property->GetType() == kPropertyInt && property->GetNamedValueCount() > 0) {
        // A click on a drop-down opens its item list; the next frame shows it.
        if (!ClickAt(x + (caption + w) / 2, y + h / 2) || !mHost.GetPopup()) {
          return Failure("drop-down " + Quote(action.Caption) + " did not open");
        }
        return {};
      }
      return BadInput("editor " + Quote(action.Caption) +
                      " takes a value, not a click; use --set CAPTION=VALUE");
    }
    case FoundControl::kTabs:
      if (mChecking) return {};
      if (!ClickAt(x + w / 2, y + h / 2)) {
        return Failure("tab " + Quote(action.Caption) + " did not take the click");
      }
      return {};
    default:
      return BadInput(LabelHint(action.Caption, FindFirstList()));
  }
}

Status UiDriver::Set(const UiAction& action) {
  const std::vector<FoundControl> found = FindByCaption(action.Caption);
  const FoundControl* editor = nullptr;
  for (const FoundControl& c : found) {
    if (c.ControlKind == FoundControl::kEditor) {
      editor = &c;
      break;
    }
  }
  if (!editor) {
    if (!found.empty() && found.front().ControlKind == FoundControl::kLabel) {
      return BadInput(LabelHint(action.Caption, FindFirstList()));
    }
    if (!found.empty()) {
      return BadInput(Quote(action.Caption) + " is not a property editor; use --click");
    }
    return BadInput("unknown caption " + Quote(action.Caption) + " (captions: " + KnownCaptions() +
                    ")");
  }
  auto* view = static_cast<KtProperty*>(editor->View);
  KProperty* property = view->GetEditedProperty();
  if (!property) return BadInput("editor " + Quote(action.Caption) + " edits nothing");
  switch (property->GetType()) {
    case kPropertyBool:
      return SetCheckBox(*view, *property, action);
    case kPropertyInt:
      return property->GetNamedValueCount() > 0 ? SetDropDown(*view, *property, action)
                                                : SetNumber(*view, *property, action);
    default:
      return BadInput("editor " + Quote(action.Caption) + " shows a value that cannot be edited");
  }
}

Result<EditorChoices> UiDriver::ReadChoices(const std::string& caption) {
  const FoundControl* editor = nullptr;
  const std::vector<FoundControl> found = FindByCaption(caption);
  for (const FoundControl& c : found) {
    if (c.ControlKind == FoundControl::kEditor && !editor) editor = &c;
  }
  if (!editor) {
    if (!found.empty()) return BadInput(Quote(caption) + " is not a property editor");
    return BadInput("unknown caption " + Quote(caption) + " (captions: " + KnownCaptions() + ")");
  }
  KProperty* property = static_cast<KtProperty*>(editor->View)->GetEditedProperty();
  if (!property) return BadInput("editor " + Quote(caption) + " edits nothing");
  EditorChoices choices;
  if (property->GetType() == kPropertyBool) {
    choices.Values = {"0", "1"};
    choices.Current = property->GetAsInt() != 0 ? 1 : 0;
    return choices;
  }
  const int count = property->GetNamedValueCount();
  if (property->GetType() == kPropertyInt && count > 0) {
    for (int i = 0; i < count; ++i) {
      choices.Values.push_back(property->GetNamedValue(i) ? property->GetNamedValue(i) : "");
    }
    choices.Current = property->GetAsInt();
    if (choices.Current < 0 || choices.Current >= count) {
      return BadInput("drop-down " + Quote(caption) + " shows no item of its list");
    }
    return choices;
  }
  return BadInput("editor " + Quote(caption) + " is not a check box or a drop-down");
}

Status UiDriver::SetCheckBox(KtProperty& editor, KProperty& property, const UiAction& action) {
  if (action.Value != "0" && action.Value != "1") {
    return BadInput("malformed value " + Quote(action.Value) + " for check box " +
                    Quote(action.Caption) + " (expected 0 or 1)");
  }
  const int wanted = action.Value == "1" ? 1 : 0;
  if (mChecking || (property.GetAsInt() != 0 ? 1 : 0) == wanted) return {};
  const std::string what = "check box " + Quote(action.Caption);
  const Result<ScreenRect> located = Locate(editor, what);
  if (!located) return located.AsStatus();
  const auto [x, y, w, h] = *located;
  // The box sits at the left of the value column.
  const int caption = std::max(0, editor.CaptionWidth.Get());
  if (!ClickAt(x + std::min(caption + 7, w - 1), y + h / 2) ||
      (property.GetAsInt() != 0 ? 1 : 0) != wanted) {
    return Failure(what + " did not take the click");
  }
  return {};
}

Status UiDriver::SetDropDown(KtProperty& editor, KProperty& property, const UiAction& action) {
  const int count = property.GetNamedValueCount();
  int index = -1;
  for (int i = 0; i < count && index < 0; ++i) {
    if (property.GetNamedValue(i) && action.Value == property.GetNamedValue(i)) index = i;
  }
  for (int i = 0; i < count && index < 0; ++i) {
    if (property.GetNamedValue(i) && EqualsIgnoringCase(action.Value, property.GetNamedValue(i))) {
      index = i;
    }
  }
  if (index < 0) {
    std::string items;
    for (int i = 0; i < count; ++i) {
      items += std::string(i ? ", " : "") +
               Quote(property.GetNamedValue(i) ? property.GetNamedValue(i) : "");
    }
    return BadInput("unknown item " + Quote(action.Value) + " for " + Quote(action.Caption) +
                    " (items: " + items + ")");
  }
  if (mChecking) return {};
  const std::string what = "drop-down " + Quote(action.Caption);
  const Result<ScreenRect> located = Locate(editor, what);
  if (!located) return located.AsStatus();
  const auto [x, y, w, h] = *located;
  const int caption = std::max(0, editor.CaptionWidth.Get());
  if (mHost.GetPopup()) mHost.Input(kInputKeyDown, x, y, kKeyEscape, 0);
  if (!ClickAt(x + (caption + w) / 2, y + h / 2)) return Failure(what + " did not take the click");
  if (Status picked = PickPopupRow(index, count, what); !picked) return picked;
  if (property.GetAsInt() != index) return Failure(what + " did not take " + Quote(action.Value));
  return {};
}

Status UiDriver::SetNumber(KtProperty& editor, KProperty& property, const UiAction& action) {
  int value = 0;
  const int low = std::min(property.GetMinimum(), property.GetMaximum());
  const int high = std::max(property.GetMinimum(), property.GetMaximum());
  switch (ReadNumber(action.Value, low, high, value)) {
    case ValueRead::kOk:
      break;
    case ValueRead::kMalformed:
      return BadInput("malformed value " + Quote(action.Value) + " for number field " +
                      Quote(action.Caption) + " (expected an integer in digits)");
    case ValueRead::kOutOfRange:
      return BadInput("value " + Quote(action.Value) + " for " + Quote(action.Caption) +
                      " is out of range (" + std::to_string(low) + ".." + std::to_string(high) +
                      ")");
  }
  if (mChecking) return {};
  const std::string what = "number field " + Quote(action.Caption);
  const Result<ScreenRect> located = Locate(editor, what);
  if (!located) return located.AsStatus();
  const auto [x, y, w, h] = *located;
  // The field lies between the "-" and "+" buttons of the value column,
  // each as wide as the editor is high (at most a quarter of the column).
  const int caption = std::clamp(editor.CaptionWidth.Get(), 0, w);
  const int step = std::clamp(h, 0, std::max(0, (w - caption) / 4));
  const int fx = x + (caption + step + 1 + (w - step - 1)) / 2;
  const int fy = y + h / 2;
  if (!ClickAt(fx, fy)) return Failure(what + " did not take the click");
  for (int i = 0; i < 16; ++i) mHost.Input(kInputKeyDown, fx, fy, kKeyBackspace, 0);
  for (char ch : std::to_string(value)) mHost.Input(kInputKeyChar, fx, fy, ch, 0);
  const bool taken = mHost.Input(kInputKeyDown, fx, fy, kKeyEnter, 0);
  if (!taken || property.GetAsInt() != value) {
    return Failure(what + " did not take " + Quote(action.Value));
  }
  return {};
}

}  // namespace khost
