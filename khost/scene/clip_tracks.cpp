#include "khost/scene/clip_tracks.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace khost {

namespace {

// The track's keys' values are all the same.
template <class Key>
bool Constant(const std::vector<Key>& keys) {
  for (const Key& k : keys)
    if (std::memcmp(&k.Value, &keys.front().Value, sizeof(k.Value)) != 0) return false;
  return true;
}

// Adds one channel part: folded into `rest` when constant, else a track.
template <class Key, class Value>
void AddPart(const std::vector<Key>& keys, uint32_t node, std::vector<Value>& rest,
             std::vector<ClipTracks::Track>& tracks, std::vector<double>& times,
             std::vector<Value>& values) {
  if (keys.empty()) return;
  if (keys.size() == 1 || Constant(keys)) {
    rest[node] = keys.front().Value;
    return;
  }
  tracks.push_back({node, static_cast<uint32_t>(times.size()), static_cast<uint32_t>(keys.size())});
  for (const Key& k : keys) {
    times.push_back(k.Time);
    values.push_back(k.Value);
  }
}

// The key of a track to read at `ticks`, from the cursor `key` (the last
// key at or before the previous time, or a fresh search when `seek`), and
// the blend towards the next one (0: the key itself).
inline uint32_t Locate(const double* times, uint32_t count, double ticks, uint32_t& key, bool seek,
                       float& blend) {
  blend = 0.0f;
  if (seek) {
    key = static_cast<uint32_t>(std::upper_bound(times, times + count, ticks) - times);
    key = key > 0 ? key - 1 : 0;
  } else {
    while (key + 1 < count && times[key + 1] <= ticks) ++key;
  }
  if (ticks <= times[0]) return 0;
  if (key + 1 >= count) return count - 1;
  const double span = times[key + 1] - times[key];
  blend = span > 0.0 ? static_cast<float>((ticks - times[key]) / span) : 0.0f;
  return key;
}

constexpr std::size_t kBatch = 64;  // rotations interpolated together

// The coefficients of a cut series of sin(t angle) / sin(angle) (see
// SlerpBatch), the last term scaled by `last`.
struct Series {
  int Terms = 0;
  float U[16] = {};
  float V[16] = {};
};
Series MakeSeries(int terms, float last) {
  Series s;
  s.Terms = terms;
  for (int i = 1; i <= terms; ++i) {
    const float scale = i == terms ? last : 1.0f;
    s.U[i - 1] = scale / static_cast<float>(i * (2 * i + 1));
    s.V[i - 1] = scale * static_cast<float>(i) / static_cast<float>(2 * i + 1);
  }
  return s;
}

}  // namespace

ClipTracks::ClipTracks(const Clip& clip, const std::vector<ModelNode>& nodes) {
  mDuration = std::max(0.0, clip.Duration);
  const std::size_t n = nodes.size();
  mRestTranslations.resize(n);
  mRestRotations.resize(n);
  mRestScales.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    mRestTranslations[j] = nodes[j].Translation;
    mRestRotations[j] = nodes[j].Rotation;
    mRestScales[j] = nodes[j].Scale;
  }
  // A node's part animated by more than one channel takes the last one's
  // keys, as sampling the channels in order does: walk them backwards and
  // keep the first seen.
  std::vector<uint8_t> seen(n, 0);
  for (auto channel = clip.Channels.rbegin(); channel != clip.Channels.rend(); ++channel) {
    if (channel->Node < 0 || static_cast<std::size_t>(channel->Node) >= n) continue;
    const uint32_t node = static_cast<uint32_t>(channel->Node);
    if (!(seen[node] & 1) && !channel->Positions.empty()) {
      seen[node] |= 1;
      AddPart(channel->Positions, node, mRestTranslations, mTranslationTracks, mTranslationTimes,
              mTranslationValues);
    }
    if (!(seen[node] & 2) && !channel->Rotations.empty()) {
      seen[node] |= 2;
      AddPart(channel->Rotations, node, mRestRotations, mRotationTracks, mRotationTimes,
              mRotationValues);
    }
    if (!(seen[node] & 4) && !channel->Scales.empty()) {
      seen[node] |= 4;
      AddPart(channel->Scales, node, mRestScales, mScaleTracks, mScaleTimes, mScaleValues);
    }
  }
}

std::size_t ClipTracks::AnimatedTracks() const {
  return mTranslationTracks.size() + mRotationTracks.size() + mScaleTracks.size();
}

void ClipTracks::Sample(double ticks, PlaybackCursor& cursor, Vec3* translations, Quat* rotations,
                        Vec3* scales) const {
  ticks = std::clamp(ticks, 0.0, mDuration);
  const std::size_t nodes = mRestTranslations.size();
  std::memcpy(translations, mRestTranslations.data(), nodes * sizeof(Vec3));
  std::memcpy(rotations, mRestRotations.data(), nodes * sizeof(Quat));
  std::memcpy(scales, mRestScales.data(), nodes * sizeof(Vec3));

  const bool seek =
      cursor.Clip != this || ticks < cursor.Ticks || cursor.Keys.size() != AnimatedTracks();
  if (seek) {
    cursor.Clip = this;
    cursor.Keys.assign(AnimatedTracks(), 0);
  }
  cursor.Ticks = ticks;
  uint32_t* key = cursor.Keys.data();

  const auto vectors = [&](const std::vector<Track>& tracks, const std::vector<double>& times,
                           const std::vector<Vec3>& values, Vec3* out) {
    for (const Track& track : tracks) {
      float blend = 0.0f;
      const uint32_t i =
          Locate(times.data() + track.First, track.Count, ticks, *key++, seek, blend);
      const Vec3 a = values[track.First + i];
      if (blend > 0.0f) {
        const Vec3 b = values[track.First + i + 1];
        out[track.Node] = a + (b - a) * blend;
      } else {
        out[track.Node] = a;
      }
    }
  };
  vectors(mTranslationTracks, mTranslationTimes, mTranslationValues, translations);

  // Rotations between keys are gathered and interpolated in batches.
  Quat from[kBatch];
  Quat to[kBatch];
  float blends[kBatch];
  uint32_t targets[kBatch];
  Quat blended[kBatch];
  std::size_t pending = 0;
  const auto flush = [&] {
    SlerpBatch(from, to, blends, pending, blended);
    for (std::size_t k = 0; k < pending; ++k) rotations[targets[k]] = blended[k];
    pending = 0;
  };
  for (const Track& track : mRotationTracks) {
    float blend = 0.0f;
    const uint32_t i =
        Locate(mRotationTimes.data() + track.First, track.Count, ticks, *key++, seek, blend);
    if (blend > 0.0f) {
      from[pending] = mRotationValues[track.First + i];
      to[pending] = mRotationValues[track.First + i + 1];
      blends[pending] = blend;
      targets[pending] = track.Node;
      if (++pending == kBatch) flush();
    } else {
      rotations[track.Node] = mRotationValues[track.First + i];
    }
  }
  if (pending) flush();

  vectors(mScaleTracks, mScaleTimes, mScaleValues, scales);
}

namespace {

// Four quaternions (x, y, z, w each) to lanes: one register per component.
inline void Transpose(__m128& a, __m128& b, __m128& c, __m128& d) {
  _MM_TRANSPOSE4_PS(a, b, c, d);
}

}  // namespace

void SlerpBatch(const Quat* a, const Quat* b, const float* t, std::size_t count, Quat* out) {
  // sin(t angle) / sin(angle) as a polynomial in (cos(angle) - 1), valid
  // for cos(angle) in [0, 1]: t (1 + b1 (1 + b2 (1 + ... (1 + bn)))) with
  // b_i = (u_i t^2 - v_i) (cos - 1), u_i = 1 / (i (2i + 1)) and v_i = i /
  // (2i + 1): the ratio's series cut after n terms. Keys a frame or a few
  // apart have cosines near 1, where it converges fast: when every lane's
  // cosine is at least 0.8, six terms are within 1.2e-8 of the exact ratio.
  // Otherwise 13 terms, the last scaled by 1.901 to make up for the rest,
  // are within 3.3e-7 everywhere (a half turn apart is the worst case).
  static const Series kShort = MakeSeries(6, 1.0f);
  static const Series kLong = MakeSeries(13, 1.901f);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 sign = _mm_set1_ps(-0.0f);
  for (std::size_t k = 0; k < count; k += 4) {
    const std::size_t lanes = std::min<std::size_t>(4, count - k);
    // A last group of fewer than four repeats its last pair.
    const Quat* pa = a + k;
    const Quat* pb = b + k;
    const float* pt = t + k;
    alignas(16) Quat qa[4];
    alignas(16) Quat qb[4];
    alignas(16) float qt[4];
    if (lanes < 4) {
      for (std::size_t l = 0; l < 4; ++l) {
        qa[l] = a[k + std::min(l, lanes - 1)];
        qb[l] = b[k + std::min(l, lanes - 1)];
        qt[l] = t[k + std::min(l, lanes - 1)];
      }
      pa = qa;
      pb = qb;
      pt = qt;
    }
    __m128 ax = _mm_loadu_ps(&pa[0].x), ay = _mm_loadu_ps(&pa[1].x), az = _mm_loadu_ps(&pa[2].x),
           aw = _mm_loadu_ps(&pa[3].x);
    __m128 bx = _mm_loadu_ps(&pb[0].x), by = _mm_loadu_ps(&pb[1].x), bz = _mm_loadu_ps(&pb[2].x),
           bw = _mm_loadu_ps(&pb[3].x);
    Transpose(ax, ay, az, aw);
    Transpose(bx, by, bz, bw);
    const __m128 tt = _mm_loadu_ps(pt);
    __m128 dot = _mm_add_ps(_mm_add_ps(_mm_mul_ps(ax, bx), _mm_mul_ps(ay, by)),
                            _mm_add_ps(_mm_mul_ps(az, bz), _mm_mul_ps(aw, bw)));
    // The shorter arc: flip b where the cosine is negative.
    const __m128 flip = _mm_and_ps(_mm_cmplt_ps(dot, _mm_setzero_ps()), sign);
    bx = _mm_xor_ps(bx, flip);
    by = _mm_xor_ps(by, flip);
    bz = _mm_xor_ps(bz, flip);
    bw = _mm_xor_ps(bw, flip);
    dot = _mm_min_ps(_mm_xor_ps(dot, flip), one);
    const __m128 xm1 = _mm_sub_ps(dot, one);
    const __m128 d = _mm_sub_ps(one, tt);
    const __m128 t2 = _mm_mul_ps(tt, tt);
    const __m128 d2 = _mm_mul_ps(d, d);
    const bool near = _mm_movemask_ps(_mm_cmplt_ps(dot, _mm_set1_ps(0.8f))) == 0;
    const Series& series = near ? kShort : kLong;
    __m128 ct = one;
    __m128 cd = one;
    for (int i = series.Terms - 1; i >= 0; --i) {
      const __m128 u = _mm_set1_ps(series.U[i]);
      const __m128 v = _mm_set1_ps(series.V[i]);
      const __m128 bt = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(u, t2), v), xm1);
      const __m128 bd = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(u, d2), v), xm1);
      ct = _mm_add_ps(one, _mm_mul_ps(bt, ct));
      cd = _mm_add_ps(one, _mm_mul_ps(bd, cd));
    }
    ct = _mm_mul_ps(tt, ct);
    cd = _mm_mul_ps(d, cd);
    __m128 rx = _mm_add_ps(_mm_mul_ps(ax, cd), _mm_mul_ps(bx, ct));
    __m128 ry = _mm_add_ps(_mm_mul_ps(ay, cd), _mm_mul_ps(by, ct));
    __m128 rz = _mm_add_ps(_mm_mul_ps(az, cd), _mm_mul_ps(bz, ct));
    __m128 rw = _mm_add_ps(_mm_mul_ps(aw, cd), _mm_mul_ps(bw, ct));
    // Normalised; a zero result (only from inputs that are not unit) is the
    // identity, as NormalizeQuat gives.
    const __m128 length =
        _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(rx, rx), _mm_mul_ps(ry, ry)),
                               _mm_add_ps(_mm_mul_ps(rz, rz), _mm_mul_ps(rw, rw))));
    const __m128 usable = _mm_cmpgt_ps(length, _mm_setzero_ps());
    const __m128 inverse = _mm_and_ps(_mm_div_ps(one, length), usable);
    rx = _mm_mul_ps(rx, inverse);
    ry = _mm_mul_ps(ry, inverse);
    rz = _mm_mul_ps(rz, inverse);
    rw = _mm_or_ps(_mm_mul_ps(rw, inverse), _mm_andnot_ps(usable, one));
    Transpose(rx, ry, rz, rw);
    if (lanes == 4) {
      _mm_storeu_ps(&out[k].x, rx);
      _mm_storeu_ps(&out[k + 1].x, ry);
      _mm_storeu_ps(&out[k + 2].x, rz);
      _mm_storeu_ps(&out[k + 3].x, rw);
      continue;
    }
    alignas(16) Quat result[4];
    _mm_store_ps(&result[0].x, rx);
    _mm_store_ps(&result[1].x, ry);
    _mm_store_ps(&result[2].x, rz);
    _mm_store_ps(&result[3].x, rw);
    for (std::size_t l = 0; l < lanes; ++l) out[k + l] = result[l];
  }
}

}  // namespace khost
