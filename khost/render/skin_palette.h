// The bones a GPU-skinned imported model's bone block holds: its palette,
// the skin slots its deformed meshes' vertices are weighted on, in slot
// order. A rigid mesh follows one slot, whose matrix places it whole, so it
// takes no place in the palette: a model of many rigid parts skins on the
// GPU with few bones, however many slots it has.
//
// [any thread; -]
#pragma once

#include <cstddef>
#include <vector>

#include "khost/runtime/model.h"

namespace khost {

class SkinPalette {
 public:
  SkinPalette() = default;
  // The palette of `model` drawn with `meshSlots` (per mesh: the slot a
  // rigid mesh follows, or -1 for a deformed one).
  SkinPalette(const Model& model, const std::vector<int>& meshSlots);

  // Entry i's slot, for every entry.
  const std::vector<int>& Slots() const { return mSlots; }
  std::size_t Size() const { return mSlots.size(); }
  // The entry of slot `slot`, or -1 when the palette does not hold it.
  int IndexOf(std::size_t slot) const { return slot < mIndex.size() ? mIndex[slot] : -1; }

 private:
  std::vector<int> mSlots;
  std::vector<int> mIndex;
};

}  // namespace khost
