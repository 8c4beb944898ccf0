// Reads a scene file in a child process, so that a file which crashes the
// import library, stalls it or makes it exhaust memory costs the child, not
// the host. The child sends the converted model back through a pipe; the
// host checks it (SanitizeModel) before use.
#pragma once

#include <cstddef>
#include <string>

#include "khost/app/status.h"
#include "khost/scene/model.h"

namespace khost {

struct ImportLimits {
  double Seconds = 20.0;                           // wall clock, then the child is killed
  std::size_t MemoryBytes = std::size_t{3} << 30;  // the child's address space
};

// The sanitised model of `path`. Refuses, naming the file: a path that is
// missing or a folder (kBadInput); a file that cannot be opened, that the
// library cannot read, that crashes it, runs past the time limit or past
// the memory limit, or that has nothing to draw (kFailure). Call it before
// starting threads: it forks.
Result<Model> ImportIsolated(const std::string& path, const ImportLimits& limits = {});

}  // namespace khost
