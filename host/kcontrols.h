// kcontrols: the host's property editor control.
//
// Sections: property editor. Notes on operations: [thread; ownership] (see
// host/kbaselib.h).
//
// Threads: user-interface thread only.
#pragma once

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Property editor
//-----------------------------------------------------------------------------

// Edits one host property: a caption on the left (CaptionWidth pixels wide),
// the value on the right:
//   - a boolean: a check box; a click toggles it;
//   - a property with named values: a drop-down of those names; a click opens
//     it, a click on a name writes that value;
//   - an integer: a number field with step buttons ("-" and "+", by the
//     property's step, kept in its range); a click in the field starts typing
//     (digits and a leading '-'), Enter writes, Escape cancels;
//   - a double or string: shown, not edited.
// The editor writes through the property (so its change handlers run) and
// shows the property's current value on every paint; a change made elsewhere
// also asks for a paint.
class KHOST_API KtProperty : public KtView {
 public:
  explicit KtProperty(kViewCreation creation = 0);  // [ui; -]
  ~KtProperty() override;                           // detaches from the edited property

  KPropertyTemplate<char*> Caption;

 private:
  int mCaptionWidth = 90;

 public:
  KPropertyNoValueTemplate<int> CaptionWidth;
  // The edited property (borrowed; it must outlive the binding). Bind with
  // SetFromPointer(&propertyPointer, 0, 0), where propertyPointer is a
  // KProperty* variable.
  KPropertyTemplate<KProperty*> EditedProperty;

  // Detaches the editor from its edited property (EditedProperty becomes null
  // and the editor stops listening to it).
  void ClearAllProperty();               // [ui; -]
  KProperty* GetEditedProperty() const;  // [ui; returns borrowed]

  // What a paint shows as the value ("Yes"/"No", the named value, the number).
  // Writes into `buffer` (at most size-1 characters); returns buffer.
  const char* FormatValue(char* buffer, int size) const;  // [ui; writes buffer]

  void ViewExpose(IKtGeometry* geometry) override;                              // [ui; -]
  bool ViewInput(int event, int x, int y, int button, int modifiers) override;  // [ui; -]
  void Detach(IKtViewContainer* container) override;                            // [ui; -]

 private:
  struct Impl;
  Impl* mImpl;
};
