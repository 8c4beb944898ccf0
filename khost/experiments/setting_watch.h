// What the settings an experiment varies really hold while its blocks run.
// The experiment sets each block's values through the window's input; a
// change by anything else during the block (a user's click, a scripted
// action, the host) leaves the block measuring another configuration. So
// the values are read from the settings themselves after every frame,
// whatever changed them, never inferred from the input that was sent.
//
// Blocks lie as in a comparison (comparison_run.h): block b is frames
// b * K + 1 to (b + 1) * K for blocks of K frames. After a block's first
// frame the values read are the block's: a check box or a drop-down must
// then hold the value the experiment wanted; a number field holds what the
// host made of it (the node count is rounded to whole characters). Every
// later frame of the block must hold the block's values. A block that does
// not is disturbed: the experiment leaves it out of its answer.
//
// Every call: [loop thread], between frames.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/input/ui_driver.h"

namespace khost {

class SettingWatch {
 public:
  // Watches the setting the editor captioned `caption` edits; bad input
  // when no editor has that caption.
  Status Add(const std::string& caption, UiDriver& driver);
  std::size_t Size() const { return mSettings.size(); }
  // Whether setting `setting` takes exactly the values it is given.
  bool Exact(std::size_t setting) const;
  // What setting `setting` holds now, as --set writes it.
  std::string Now(std::size_t setting) const;

  // After frame `frameIndex` of a run in blocks of `block` frames, whose
  // block runs with the values `wanted` (one per setting, as --set writes
  // them; only the exact settings' are compared): reads every setting and
  // marks the frame's block disturbed when it did not hold its values.
  // Frame 0 belongs to no block.
  void After(long long frameIndex, int block, const std::vector<std::string>& wanted);
  // Whether block `block` was disturbed.
  bool Disturbed(long long block) const;
  // The values block `block` held after its first frame (empty before).
  std::vector<std::string> Held(long long block) const;

 private:
  std::vector<const KProperty*> mSettings;
  // The distinct value sets blocks held, and each block's index into them
  // (-1: not read yet); a block's values are one small number.
  std::vector<std::vector<std::string>> mDistinct;
  std::vector<int> mHeld;
  std::vector<bool> mDisturbed;
};

}  // namespace khost
