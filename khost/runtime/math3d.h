// Small 3D math for the host's scene: vectors, quaternions and affine 3x4
// matrices (row-major, column 3 the translation). Every function:
// [any thread]; all are pure.
#pragma once

#include <cmath>

namespace khost {

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, float s) {
  return {a.x * s, a.y * s, a.z * s};
}
inline float Dot(Vec3 a, Vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Length(Vec3 a) {
  return std::sqrt(Dot(a, a));
}
// Unit vector along `a`; the zero vector stays zero.
inline Vec3 Normalize(Vec3 a) {
  const float length = Length(a);
  return length > 0.0f ? a * (1.0f / length) : Vec3{};
}

struct Quat {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 1.0f;
};

Quat QuatFromAxisAngle(Vec3 axis, float radians);
Quat operator*(Quat a, Quat b);  // a then applied after b (a * b rotates by b first)
Quat Conjugate(Quat q);
Quat NormalizeQuat(Quat q);
// Spherical interpolation along the shorter arc; t in [0, 1].
Quat Slerp(Quat a, Quat b, float t);
// Shortest-arc interpolation, normalised (nlerp); t in [0, 1].
Quat Nlerp(Quat a, Quat b, float t);
Vec3 Rotate(Quat q, Vec3 v);
// The rotation angle of q in [0, pi].
float QuatAngle(Quat q);
// q with its rotation angle limited to `maxRadians` about the same axis.
Quat ClampAngle(Quat q, float maxRadians);
// The shortest rotation taking unit vector `from` onto unit vector `to`.
Quat RotationBetween(Vec3 from, Vec3 to);

struct Mat34 {
  float m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

Mat34 MatFromRotationTranslation(Quat rotation, Vec3 translation);
// The affine matrix of translation t, rotation r and scale s (scale first).
Mat34 MatFromTRS(Vec3 t, Quat r, Vec3 s);
Mat34 MatTranslation(Vec3 translation);
Mat34 operator*(const Mat34& a, const Mat34& b);
Vec3 TransformPoint(const Mat34& a, Vec3 p);
Vec3 TransformVector(const Mat34& a, Vec3 v);
Vec3 GetTranslation(const Mat34& a);
// General affine inverse; a singular matrix gives the identity.
Mat34 Inverse(const Mat34& a);

}  // namespace khost
