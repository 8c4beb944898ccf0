// The model as bytes, as it travels from the importing child process to
// the host (isolated_import.h): every list led by its count, the images'
// pixels whole.
#pragma once

#include <string>
#include <string_view>

#include "khost/runtime/model.h"

namespace khost {

// The model as bytes and back (Model::ReadFiles aside). Deserialize rejects a truncated or
// inconsistent byte string (returns false) rather than trusting counts, and images beyond
// kMaxImageSide or, together, beyond kImageBudgetBytes.
std::string SerializeModel(const Model& model);
bool DeserializeModel(std::string_view bytes, Model& model);

}  // namespace khost
