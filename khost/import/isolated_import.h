// Reads a scene file in a child process, so that a file which crashes the
// import library, stalls it or makes it exhaust memory costs the child, not
// the host. The child sends the converted model back through a pipe; the
// host checks it (SanitizeModel) before use.
//
// The child takes the default handling of every signal and is killed when
// the host ends, however it ends: no import outlives khost.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "khost/base/status.h"
#include "khost/import/up_axis.h"
#include "khost/runtime/model.h"

namespace khost {

struct ImportLimits {
  double Seconds = 20.0;                           // wall clock, then the child is killed
  std::size_t MemoryBytes = std::size_t{3} << 30;  // the child's address space
};

struct ImportOptions {
  std::optional<UpAxis> Up;  // the file's up axis; unset: as the file says
  // Polled while the child reads (at least every 100 ms, and at once when
  // a signal arrives): nonzero (the signal that asked the run to stop)
  // abandons the import. Null: never.
  int (*Interrupted)() = nullptr;
  // Read the materials' images (decoded in the child, within its limits);
  // false: none are read and the meshes are drawn in their base colours.
  bool Textures = true;
};

// The sanitised model of `path`, with Model::ReadFiles naming every file
// the library opened. Refuses, naming the file: a path that is missing or a
// folder (kBadInput); a file that cannot be opened, that the library cannot
// read, that crashes it, runs past the time limit or past the memory limit,
// or that has nothing to draw (kFailure). When `options.Interrupted` asks
// to stop, the child is killed and reaped and the error says the reading
// was abandoned (kFailure). [loop thread], before the pool's threads start:
// it forks, and the child ends with the calling thread.
Result<Model> ImportIsolated(const std::string& path, const ImportLimits& limits = {},
                             const ImportOptions& options = {});

}  // namespace khost
