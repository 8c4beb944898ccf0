// Clip playback for a crowd: a clip's keys laid out in one stream per kind
// (translation, rotation, scale) in the order forward playback needs them,
// and a cursor per character that holds, for every track, the two keys
// around the time it last sampled. A frame reads the cursor's few
// contiguous arrays and the next keys of each stream, which follow one
// another in memory, instead of searching each track's keys where they lie.
//
// What it computes is SampleClip's result (crowd.h), to float rounding:
// positions and scales interpolated linearly, rotations spherically along
// the shorter arc. Spherical interpolation uses a polynomial in the keys'
// cosine and the blend (within 3.3e-7 of the exact weights), batched four
// tracks at a time with SIMD, with the normalisation that follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "khost/runtime/math3d.h"
#include "khost/runtime/model.h"

namespace khost {

struct PlaybackCursor;

// One clip's tracks for a model's nodes. Immutable once built.
// [any thread] read by any number at once.
class ClipTracks {
 public:
  // `nodes`: the model's nodes (their bind transforms fill what the clip
  // does not animate). The clip must be sanitised (keys in time order,
  // channels on existing nodes).
  ClipTracks(const Clip& clip, const std::vector<ModelNode>& nodes);

  // One key of a kind's stream: track Track's key at Time, needed once the
  // playback reaches Need (the time of the track's key before it; the
  // lowest float for a track's first two keys, which a fresh cursor loads).
  template <class T>
  struct Key {
    float Need = 0.0f;
    float Time = 0.0f;
    uint32_t Track = 0;
    T Value{};
  };
  // One kind's tracks: the node each animates, and every track's keys in
  // the order of Need (a track's own keys in time order).
  template <class T>
  struct Stream {
    std::vector<uint32_t> Nodes;
    std::vector<Key<T>> Keys;
  };

  // Tracks whose keys differ, per kind; a channel part with one key, or
  // with all keys equal, is folded into the rest pose instead.
  std::size_t AnimatedTracks() const;
  double Duration() const { return mDuration; }

  // The clip at `ticks` (clamped to [0, Duration]) for every node: the
  // rest pose, then each animated track. `cursor` is the calling
  // character's own (see PlaybackCursor). [any thread] writes only the
  // outputs and the cursor.
  void Sample(double ticks, PlaybackCursor& cursor, Vec3* translations, Quat* rotations,
              Vec3* scales) const;

 private:
  double mDuration = 0.0;
  std::vector<Vec3> mRestTranslations;
  std::vector<Quat> mRestRotations;
  std::vector<Vec3> mRestScales;
  Stream<Vec3> mTranslations;
  Stream<Quat> mRotations;
  Stream<Vec3> mScales;
};

// Where one character's playback stands in the clip it last sampled: per
// kind, the next key of the stream to load, and per track the times and
// values of its two loaded keys. Sampling a later time loads the stream's
// keys up to it; a new clip or an earlier time (a loop, a jump back)
// starts again from the stream's beginning. The arrays are laid out kind
// after kind: Times holds translation From, To, rotation From, To, scale
// From, To; Vectors holds translation A, B, scale A, B; Rotations A, B.
struct PlaybackCursor {
  const ClipTracks* Clip = nullptr;
  float Ticks = 0.0f;
  uint32_t Next[3] = {};
  std::vector<float> Times;
  std::vector<Vec3> Vectors;
  std::vector<Quat> Rotations;
};

// Spherical interpolation of `count` pairs of unit quaternions, normalised,
// along the shorter arc: out[k] = slerp(a[k], b[k], t[k]). [any thread]
// writes only `out`.
void SlerpBatch(const Quat* a, const Quat* b, const float* t, std::size_t count, Quat* out);

}  // namespace khost
