#include "khost/runtime/math3d.h"

#include <algorithm>

namespace khost {

Quat QuatFromAxisAngle(Vec3 axis, float radians) {
  const Vec3 n = Normalize(axis);
  const float s = std::sin(radians * 0.5f);
  return {n.x * s, n.y * s, n.z * s, std::cos(radians * 0.5f)};
}

Quat operator*(Quat a, Quat b) {
  return {
      a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
      a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat Conjugate(Quat q) {
  return {-q.x, -q.y, -q.z, q.w};
}

Quat NormalizeQuat(Quat q) {
  const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (length <= 0.0f) return Quat{};
  const float inv = 1.0f / length;
  return {q.x * inv, q.y * inv, q.z * inv, q.w * inv};
}

Quat Nlerp(Quat a, Quat b, float t) {
  const float dot = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  const float sign = dot < 0.0f ? -1.0f : 1.0f;
  const float u = 1.0f - t;
  const float v = t * sign;
  return NormalizeQuat(
      {a.x * u + b.x * v, a.y * u + b.y * v, a.z * u + b.z * v, a.w * u + b.w * v});
}

Vec3 Rotate(Quat q, Vec3 v) {
  // v + 2w (u x v) + 2 u x (u x v), with u the vector part.
  const Vec3 u{q.x, q.y, q.z};
  const Vec3 t = Cross(u, v) * 2.0f;
  return v + t * q.w + Cross(u, t);
}

float QuatAngle(Quat q) {
  const Quat n = NormalizeQuat(q);
  const float w = std::clamp(std::fabs(n.w), 0.0f, 1.0f);
  return 2.0f * std::acos(w);
}

Quat ClampAngle(Quat q, float maxRadians) {
  Quat n = NormalizeQuat(q);
  if (n.w < 0.0f) n = {-n.x, -n.y, -n.z, -n.w};
  const float angle = QuatAngle(n);
  if (angle <= maxRadians) return n;
  const Vec3 axis{n.x, n.y, n.z};
  if (Length(axis) <= 0.0f) return n;
  return QuatFromAxisAngle(axis, maxRadians);
}

Quat RotationBetween(Vec3 from, Vec3 to) {
  const Vec3 a = Normalize(from);
  const Vec3 b = Normalize(to);
  const float d = Dot(a, b);
  if (d >= 1.0f - 1e-6f) return Quat{};
  if (d <= -1.0f + 1e-6f) {
    // Opposite: any axis perpendicular to `a`.
    Vec3 axis = Cross(Vec3{1, 0, 0}, a);
    if (Length(axis) < 1e-4f) axis = Cross(Vec3{0, 1, 0}, a);
    return QuatFromAxisAngle(axis, 3.14159265358979f);
  }
  const Vec3 c = Cross(a, b);
  return NormalizeQuat({c.x, c.y, c.z, 1.0f + d});
}

Mat34 MatFromRotationTranslation(Quat q, Vec3 t) {
  const Quat n = NormalizeQuat(q);
  const float xx = n.x * n.x, yy = n.y * n.y, zz = n.z * n.z;
  const float xy = n.x * n.y, xz = n.x * n.z, yz = n.y * n.z;
  const float wx = n.w * n.x, wy = n.w * n.y, wz = n.w * n.z;
  Mat34 r;
  r.m[0][0] = 1.0f - 2.0f * (yy + zz);
  r.m[0][1] = 2.0f * (xy - wz);
  r.m[0][2] = 2.0f * (xz + wy);
  r.m[0][3] = t.x;
  r.m[1][0] = 2.0f * (xy + wz);
  r.m[1][1] = 1.0f - 2.0f * (xx + zz);
  r.m[1][2] = 2.0f * (yz - wx);
  r.m[1][3] = t.y;
  r.m[2][0] = 2.0f * (xz - wy);
  r.m[2][1] = 2.0f * (yz + wx);
  r.m[2][2] = 1.0f - 2.0f * (xx + yy);
  r.m[2][3] = t.z;
  return r;
}

Mat34 MatTranslation(Vec3 t) {
  return MatFromRotationTranslation(Quat{}, t);
}

Mat34 operator*(const Mat34& a, const Mat34& b) {
  Mat34 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      float v = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
      if (j == 3) v += a.m[i][3];
      r.m[i][j] = v;
    }
  }
  return r;
}

Vec3 TransformPoint(const Mat34& a, Vec3 p) {
  return {a.m[0][0] * p.x + a.m[0][1] * p.y + a.m[0][2] * p.z + a.m[0][3],
          a.m[1][0] * p.x + a.m[1][1] * p.y + a.m[1][2] * p.z + a.m[1][3],
          a.m[2][0] * p.x + a.m[2][1] * p.y + a.m[2][2] * p.z + a.m[2][3]};
}

Vec3 TransformVector(const Mat34& a, Vec3 v) {
  return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z,
          a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
          a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}

Vec3 GetTranslation(const Mat34& a) {
  return {a.m[0][3], a.m[1][3], a.m[2][3]};
}

Mat34 Inverse(const Mat34& a) {
  const float(*m)[4] = a.m;
  const float c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const float c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const float c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const float det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (std::fabs(det) < 1e-12f) return Mat34{};
  const float inv = 1.0f / det;
  Mat34 r;
  r.m[0][0] = c00 * inv;
  r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * inv;
  r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * inv;
  r.m[1][0] = c01 * inv;
  r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * inv;
  r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * inv;
  r.m[2][0] = c02 * inv;
  r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * inv;
  r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * inv;
  const Vec3 t{m[0][3], m[1][3], m[2][3]};
  for (int i = 0; i < 3; ++i) {
    r.m[i][3] = -(r.m[i][0] * t.x + r.m[i][1] * t.y + r.m[i][2] * t.z);
  }
  return r;
}

Quat Slerp(Quat a, Quat b, float t) {
  float cosine = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  if (cosine < 0.0f) {
    cosine = -cosine;
    b = {-b.x, -b.y, -b.z, -b.w};
  }
  float wa = 1.0f - t;
  float wb = t;
  if (cosine < 0.9995f) {
    const float angle = std::acos(std::min(cosine, 1.0f));
    const float sine = std::sin(angle);
    wa = std::sin((1.0f - t) * angle) / sine;
    wb = std::sin(t * angle) / sine;
  }
  return NormalizeQuat(
      {wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w});
}

Mat34 MatFromTRS(Vec3 t, Quat r, Vec3 s) {
  Mat34 m = MatFromRotationTranslation(r, t);
  for (int row = 0; row < 3; ++row) {
    m.m[row][0] *= s.x;
    m.m[row][1] *= s.y;
    m.m[row][2] *= s.z;
  }
  return m;
}

}  // namespace khost
