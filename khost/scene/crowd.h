// Sampling an imported model's clips: what Scene's crowd evaluation runs
// each frame, exposed for its tests.
#pragma once

#include "khost/runtime/math3d.h"
#include "khost/runtime/model.h"

namespace khost {

// The clip `clip` at `ticks` (clamped to [0, Duration]; keys before the
// first or after the last hold their end value): positions and scales
// interpolated linearly, rotations spherically. Writes only the nodes the
// clip has channels for, and of those only the parts with keys.
// [any thread] writes only the outputs.
void SampleClip(const Clip& clip, double ticks, Vec3* translations, Quat* rotations, Vec3* scales);

// Which clip plays at `seconds` of an instance's own time, and at which
// tick of it: the clips play one after the other and loop as a whole.
// Clips of zero length are skipped unless all are (then clip 0 holds its
// first pose). Returns -1 when the model has no clips. [any thread]
int ClipAt(const Model& model, double seconds, double& ticks);

}  // namespace khost
