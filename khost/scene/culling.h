// The camera and its view frustum, for culling characters before they are
// deformed and submitted.
#pragma once

#include "khost/runtime/math3d.h"

namespace khost {

// A plane n . p + d = 0; points with n . p + d >= 0 are on its inner side.
struct Plane {
  Vec3 Normal;
  float D = 0.0f;
};

struct Camera {
  Vec3 Position{0.0f, 1.6f, 0.0f};
  Vec3 Forward{0.0f, 0.0f, -1.0f};        // unit
  Vec3 Up{0.0f, 1.0f, 0.0f};              // unit, perpendicular to Forward
  float VerticalFovRadians = 1.0471976f;  // 60 degrees
  float Aspect = 16.0f / 9.0f;            // width / height
  float Near = 0.1f;
  float Far = 100.0f;
};

// Six inward-facing planes: near, far, left, right, bottom, top.
struct Frustum {
  Plane Planes[6];
};

Frustum MakeFrustum(const Camera& camera);

// Conservative tests: false only when the volume lies entirely outside one
// plane, so something straddling an edge counts as visible.
bool SphereInFrustum(const Frustum& frustum, Vec3 center, float radius);
bool BoxInFrustum(const Frustum& frustum, Vec3 minimum, Vec3 maximum);

}  // namespace khost
