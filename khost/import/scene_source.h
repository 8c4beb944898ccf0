// Which scene khost runs: the crowd of a model read from a scene file, or
// the procedural characters.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "khost/base/status.h"
#include "khost/import/isolated_import.h"
#include "khost/runtime/model.h"

namespace khost {

// The scene file name, on the command line or in the configuration, that
// stands for the procedural characters.
inline constexpr const char* kBuiltinScene = "builtin";

struct SceneChoice {
  std::shared_ptr<const Model> Imported;  // null: the procedural characters
  int Count = 1;                          // instances or characters
};

// The scene for `flag` (--scene; kBuiltinScene picks the procedural
// characters), else for the configured file (a relative name is taken from
// `configuredFolder`, the folder of the configuration file that names it,
// not from the current folder), read with `options` (the up
// axis, the stop signal). A file named on the command line that cannot be
// used is an error; a configured file that cannot be used is reported on
// `err` and the procedural characters run instead. A read abandoned
// because the run was asked to stop is an error either way. What the
// import repaired is reported on `err`, a line each.
Result<SceneChoice> ChooseScene(const std::optional<std::string>& flag,
                                const std::string& configuredFile,
                                const std::string& configuredFolder, int configuredInstances,
                                int configuredCharacters, std::ostream& err,
                                const ImportOptions& options = {});

}  // namespace khost
