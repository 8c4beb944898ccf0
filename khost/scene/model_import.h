// Reads a scene file with the asset import library into a Model, in this
// process. A malformed file can crash or stall the library: the host reads
// files through ImportIsolated (isolated_import.h), which runs this in a
// child process.
#pragma once

#include <string>

#include "khost/app/status.h"
#include "khost/scene/model.h"

namespace khost {

// The model in `path`: triangulated meshes with at most four influences a
// vertex, the node hierarchy, the bones' offset matrices, every clip's node
// channels and each mesh's base colour. Not yet sanitised. An error names
// the file and the library's reason.
Result<Model> ImportModel(const std::string& path);

// The file extensions the library reads, as it lists them ("*.x;*.gltf;...").
std::string ReadableExtensions();

}  // namespace khost
