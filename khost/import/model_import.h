// Reads a scene file with the asset import library into a Model, in this
// process. A malformed file can crash or stall the library: the host reads
// files through ImportIsolated (isolated_import.h), which runs this in a
// child process.
#pragma once

#include <optional>
#include <string>

#include "khost/base/status.h"
#include "khost/import/up_axis.h"
#include "khost/runtime/model.h"

namespace khost {

// The model in `path`: triangulated meshes with at most four influences a
// vertex, their first texture coordinates and colours, the node hierarchy,
// the bones' offset matrices, every clip's node channels (keys past a
// clip's length clamped to it, with a note) and each mesh's material
// (material_import.h; its image only with `images`), stood upright: `up`
// names the file's up axis, unset takes it from the file (up_axis.h).
// Model::ReadFiles lists every file the library opened and every image
// file read. Not yet sanitised. An error names the file and the library's
// reason; an image that cannot be used is a note.
Result<Model> ImportModel(const std::string& path, std::optional<UpAxis> up = std::nullopt,
                          bool images = true);

// The file extensions the library reads, as it lists them ("*.x;*.gltf;...").
std::string ReadableExtensions();

}  // namespace khost
