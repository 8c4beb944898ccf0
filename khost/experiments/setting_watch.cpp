#include "khost/experiments/setting_watch.h"

#include <algorithm>

#include "khost/base/quoting.h"

namespace khost {

Status SettingWatch::Add(const std::string& caption, UiDriver& driver) {
  const KProperty* property = driver.EditedProperty(caption);
  if (!property)
    return BadInput("no editor of a setting has the caption " + QuoteArgument(caption));
  mSettings.push_back(property);
  return {};
}

bool SettingWatch::Exact(std::size_t setting) const {
  return HoldsValueAsGiven(*mSettings[setting]);
}

std::string SettingWatch::Now(std::size_t setting) const {
  return PropertyValueText(*mSettings[setting]);
}

void SettingWatch::After(long long frameIndex, int block, const std::vector<std::string>& wanted) {
  if (frameIndex < 1 || block < 1 || mSettings.empty()) return;
  const auto b = static_cast<std::size_t>((frameIndex - 1) / block);
  const bool first = (frameIndex - 1) % block == 0;
  if (mHeld.size() <= b) {
    mHeld.resize(b + 1, -1);
    mDisturbed.resize(b + 1, false);
  }
  std::vector<std::string> now(mSettings.size());
  for (std::size_t s = 0; s < mSettings.size(); ++s) now[s] = Now(s);
  if (first || mHeld[b] < 0) {
    const auto known = std::find(mDistinct.begin(), mDistinct.end(), now);
    mHeld[b] = static_cast<int>(known - mDistinct.begin());
    if (known == mDistinct.end()) mDistinct.push_back(now);
    for (std::size_t s = 0; s < mSettings.size() && s < wanted.size(); ++s) {
      if (Exact(s) && now[s] != wanted[s]) mDisturbed[b] = true;
    }
    // A block first read after its first frame may have changed before.
    if (!first) mDisturbed[b] = true;
    return;
  }
  if (now != mDistinct[static_cast<std::size_t>(mHeld[b])]) mDisturbed[b] = true;
}

bool SettingWatch::Disturbed(long long block) const {
  return block >= 0 && static_cast<std::size_t>(block) < mDisturbed.size() &&
         mDisturbed[static_cast<std::size_t>(block)];
}

std::vector<std::string> SettingWatch::Held(long long block) const {
  if (block < 0 || static_cast<std::size_t>(block) >= mHeld.size() ||
      mHeld[static_cast<std::size_t>(block)] < 0) {
    return {};
  }
  return mDistinct[static_cast<std::size_t>(mHeld[static_cast<std::size_t>(block)])];
}

}  // namespace khost
