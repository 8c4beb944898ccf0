// Which way is up in a scene file, and the turn that stands its model up in
// khost's world, where +Y is up.
//
// A file states its up direction in the importer's metadata (FBX's UpAxis
// and UpAxisSign) or in its own text (OpenGEX's "up" metric); other formats
// follow a convention: Blender, STL, 3MF, AMF, trueSpace, the terrain
// formats and Character Studio motion are Z-up. Formats the import library
// already turns Y-up itself (COLLADA by its up_axis, 3DS, ASE, the Quake
// and Doom formats, IQM, DXF, IFC) and the Y-up ones are left as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "khost/runtime/math3d.h"

struct aiScene;

namespace khost {

// What --up names: the file's up axis, whatever the file says.
enum class UpAxis { kY, kZ };

// "y" or "z" as an UpAxis; nullopt for anything else.
inline std::optional<UpAxis> ParseUpAxis(std::string_view text) {
  if (text == "y") return UpAxis::kY;
  if (text == "z") return UpAxis::kZ;
  return std::nullopt;
}

// An up direction: an axis (0 X, 1 Y, 2 Z) and its sign (+1 or -1).
struct UpDirection {
  int Axis = 1;
  int Sign = 1;
  bool operator==(const UpDirection&) const = default;
};

// The up direction of the scene read from `path`: `given` when set (+Y or
// +Z), else what the file states, else its format's convention, else +Y.
UpDirection FindUpDirection(const aiScene& scene, const std::string& path,
                            std::optional<UpAxis> given);

// The rotation that turns `up` into +Y (the identity for +Y).
Quat StandUpRotation(UpDirection up);

// How notes name a direction: "+Z", "-Y".
std::string DirectionName(UpDirection up);

}  // namespace khost
