#include "khost/runtime/local_to_world.h"

#include <emmintrin.h>

namespace khost {

namespace {

// Row i of a * b: a[i][0] b0 + a[i][1] b1 + a[i][2] b2 + (0, 0, 0, a[i][3]).
inline __m128 Row(const float* a, __m128 b0, __m128 b1, __m128 b2, __m128 onlyW) {
  const __m128 r = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(a[0]), b0), _mm_mul_ps(_mm_set1_ps(a[1]), b1));
  return _mm_add_ps(_mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(a[2]), b2)),
                    _mm_and_ps(_mm_loadu_ps(a), onlyW));
}

inline __m128 OnlyW() {
  return _mm_castsi128_ps(_mm_set_epi32(-1, 0, 0, 0));
}

}  // namespace

void LocalToWorld(const int* parents, std::size_t count, const Vec3* translations,
                  const Quat* rotations, const Vec3* scales, const Mat34& root, Mat34* world) {
  const __m128 onlyW = OnlyW();
  for (std::size_t j = 0; j < count; ++j) {
    // The local matrix's rows: the rotation's columns scaled, then the
    // translation.
    const Quat q = rotations[j];
    const Vec3 t = translations[j];
    const __m128 scale = _mm_setr_ps(scales[j].x, scales[j].y, scales[j].z, 1.0f);
    const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    const __m128 l0 = _mm_mul_ps(
        _mm_setr_ps(1.0f - 2.0f * (yy + zz), 2.0f * (xy - wz), 2.0f * (xz + wy), t.x), scale);
    const __m128 l1 = _mm_mul_ps(
        _mm_setr_ps(2.0f * (xy + wz), 1.0f - 2.0f * (xx + zz), 2.0f * (yz - wx), t.y), scale);
    const __m128 l2 = _mm_mul_ps(
        _mm_setr_ps(2.0f * (xz - wy), 2.0f * (yz + wx), 1.0f - 2.0f * (xx + yy), t.z), scale);
    const int parent = parents[j];
    const Mat34& p = parent < 0 ? root : world[parent];
    Mat34& out = world[j];
    const __m128 r0 = Row(p.m[0], l0, l1, l2, onlyW);
    const __m128 r1 = Row(p.m[1], l0, l1, l2, onlyW);
    const __m128 r2 = Row(p.m[2], l0, l1, l2, onlyW);
    _mm_storeu_ps(out.m[0], r0);
    _mm_storeu_ps(out.m[1], r1);
    _mm_storeu_ps(out.m[2], r2);
  }
}

void SkinMatrices(const Mat34* world, const int* nodes, const Mat34* offsets, std::size_t stride,
                  std::size_t count, Mat34* skin, SkinColumns* columns) {
  const __m128 onlyW = OnlyW();
  const char* nodeBytes = reinterpret_cast<const char*>(nodes);
  const char* offsetBytes = reinterpret_cast<const char*>(offsets);
  for (std::size_t k = 0; k < count; ++k) {
    const Mat34& a = world[*reinterpret_cast<const int*>(nodeBytes + k * stride)];
    const Mat34& b = *reinterpret_cast<const Mat34*>(offsetBytes + k * stride);
    const __m128 b0 = _mm_loadu_ps(b.m[0]);
    const __m128 b1 = _mm_loadu_ps(b.m[1]);
    const __m128 b2 = _mm_loadu_ps(b.m[2]);
    __m128 r0 = Row(a.m[0], b0, b1, b2, onlyW);
    __m128 r1 = Row(a.m[1], b0, b1, b2, onlyW);
    __m128 r2 = Row(a.m[2], b0, b1, b2, onlyW);
    _mm_storeu_ps(skin[k].m[0], r0);
    _mm_storeu_ps(skin[k].m[1], r1);
    _mm_storeu_ps(skin[k].m[2], r2);
    // Columns: the rows transposed under a fourth row (0, 0, 0, 1).
    __m128 r3 = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_store_ps(columns[k].Column[0], r0);
    _mm_store_ps(columns[k].Column[1], r1);
    _mm_store_ps(columns[k].Column[2], r2);
    _mm_store_ps(columns[k].Column[3], r3);
  }
}

}  // namespace khost
