#include "khost/runtime/clip_tracks.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include "khost/runtime/prefetch.h"

namespace khost {

namespace {

// The track's keys' values are all the same.
template <class Key>
bool Constant(const std::vector<Key>& keys) {
  for (const Key& k : keys)
    if (std::memcmp(&k.Value, &keys.front().Value, sizeof(k.Value)) != 0) return false;
  return true;
}

// Adds one channel part: folded into `rest` when constant, else a track
// whose keys join the stream (put in playback order by Order).
template <class Key, class Value>
void AddPart(const std::vector<Key>& keys, uint32_t node, std::vector<Value>& rest,
             ClipTracks::Stream<Value>& stream) {
  if (keys.empty()) return;
  if (keys.size() == 1 || Constant(keys)) {
    rest[node] = keys.front().Value;
    return;
  }
  const uint32_t track = static_cast<uint32_t>(stream.Nodes.size());
  stream.Nodes.push_back(node);
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const float need =
        k < 2 ? std::numeric_limits<float>::lowest() : static_cast<float>(keys[k - 1].Time);
    stream.Keys.push_back({need, static_cast<float>(keys[k].Time), track, keys[k].Value});
  }
}

// Sorts a stream's keys by when playback needs them. The sort is stable
// and each track's keys were added in time order, so a track's keys stay in
// order among equal Needs: a fresh cursor loads every track's first key
// before its second.
template <class Value>
void Order(ClipTracks::Stream<Value>& stream) {
  std::stable_sort(stream.Keys.begin(), stream.Keys.end(),
                   [](const auto& a, const auto& b) { return a.Need < b.Need; });
}

// Loads the stream's keys needed by `ticks` into the cursor's window: each
// shifts its track's later key into the earlier place.
template <class Value>
void Advance(const ClipTracks::Stream<Value>& stream, float ticks, uint32_t& next, float* from,
             float* to, Value* a, Value* b) {
  const auto* keys = stream.Keys.data();
  const uint32_t count = static_cast<uint32_t>(stream.Keys.size());
  while (next < count && keys[next].Need <= ticks) {
    const auto& key = keys[next++];
    const uint32_t t = key.Track;
    from[t] = to[t];
    a[t] = b[t];
    to[t] = key.Time;
    b[t] = key.Value;
  }
}

// The blend from each track's earlier key to its later one at `ticks`: 0
// at or before the earlier key (before a track's first key), 1 at or past
// the later one (past its last key, or two keys at one time).
inline float Blend(float ticks, float from, float to) {
  if (ticks >= to) return 1.0f;
  if (ticks <= from) return 0.0f;
  return (ticks - from) / (to - from);
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
      AddPart(channel->Positions, node, mRestTranslations, mTranslations);
    }
    if (!(seen[node] & 2) && !channel->Rotations.empty()) {
      seen[node] |= 2;
      AddPart(channel->Rotations, node, mRestRotations, mRotations);
    }
    if (!(seen[node] & 4) && !channel->Scales.empty()) {
      seen[node] |= 4;
      AddPart(channel->Scales, node, mRestScales, mScales);
    }
  }
  Order(mTranslations);
  Order(mRotations);
  Order(mScales);
}

std::size_t ClipTracks::AnimatedTracks() const {
  return mTranslations.Nodes.size() + mRotations.Nodes.size() + mScales.Nodes.size();
}

void ClipTracks::Sample(double ticks, PlaybackCursor& cursor, Vec3* translations, Quat* rotations,
                        Vec3* scales) const {
  const float t = static_cast<float>(std::clamp(ticks, 0.0, mDuration));
  const std::size_t nodes = mRestTranslations.size();
  std::memcpy(translations, mRestTranslations.data(), nodes * sizeof(Vec3));
  std::memcpy(rotations, mRestRotations.data(), nodes * sizeof(Quat));
  std::memcpy(scales, mRestScales.data(), nodes * sizeof(Vec3));

  const std::size_t nt = mTranslations.Nodes.size();
  const std::size_t nr = mRotations.Nodes.size();
  const std::size_t ns = mScales.Nodes.size();
  if (cursor.Clip != this || t < cursor.Ticks || cursor.Times.size() != 2 * (nt + nr + ns)) {
    cursor.Clip = this;
    cursor.Times.resize(2 * (nt + nr + ns));
    cursor.Vectors.resize(2 * (nt + ns));
    cursor.Rotations.resize(2 * nr);
    std::fill(std::begin(cursor.Next), std::end(cursor.Next), 0u);
  }
  cursor.Ticks = t;
  float* times = cursor.Times.data();
  Vec3* vectors = cursor.Vectors.data();
  Quat* keys = cursor.Rotations.data();

  // Positions and scales: linear between the two keys.
  const auto linear = [&](const Stream<Vec3>& stream, std::size_t count, uint32_t& next,
                          float* from, Vec3* a, Vec3* out) {
    float* to = from + count;
    Vec3* b = a + count;
    Advance(stream, t, next, from, to, a, b);
    const uint32_t* target = stream.Nodes.data();
    for (std::size_t k = 0; k < count; ++k)
      out[target[k]] = a[k] + (b[k] - a[k]) * Blend(t, from[k], to[k]);
  };
  linear(mTranslations, nt, cursor.Next[0], times, vectors, translations);
  linear(mScales, ns, cursor.Next[2], times + 2 * (nt + nr), vectors + 2 * nt, scales);

  // Rotations: the cursor's key pairs interpolated in batches, in place.
  float* from = times + 2 * nt;
  float* to = from + nr;
  Quat* b = keys + nr;
  Advance(mRotations, t, cursor.Next[1], from, to, keys, b);
  const uint32_t* target = mRotations.Nodes.data();
  float blends[kBatch];
  Quat blended[kBatch];
  for (std::size_t first = 0; first < nr; first += kBatch) {
    const std::size_t count = std::min(kBatch, nr - first);
    for (std::size_t k = 0; k < count; ++k) blends[k] = Blend(t, from[first + k], to[first + k]);
    SlerpBatch(keys + first, b + first, blends, count, blended);
    for (std::size_t k = 0; k < count; ++k) rotations[target[first + k]] = blended[k];
  }
}

void ClipTracks::Prefetch(const PlaybackCursor& cursor) const {
  khost::Prefetch(cursor.Times);
  khost::Prefetch(cursor.Vectors);
  khost::Prefetch(cursor.Rotations);
  if (cursor.Clip != this) return;
  // A frame loads a key or two per track: the next few lines of each stream.
  const auto next = [](const auto& keys, uint32_t at) {
    if (at < keys.size()) PrefetchBytes(&keys[at], 2 * kCacheLine);
  };
  next(mTranslations.Keys, cursor.Next[0]);
  next(mRotations.Keys, cursor.Next[1]);
  next(mScales.Keys, cursor.Next[2]);
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
