#include "khost/scene/culling.h"

#include <cmath>

namespace khost {

namespace {

Plane PlaneThrough(Vec3 normal, Vec3 point) {
  const Vec3 n = Normalize(normal);
  return {n, -Dot(n, point)};
}

}  // namespace

Frustum MakeFrustum(const Camera& camera) {
  const Vec3 f = Normalize(camera.Forward);
  const Vec3 r = Normalize(Cross(f, camera.Up));
  const Vec3 u = Cross(r, f);
  const float tanY = std::tan(camera.VerticalFovRadians * 0.5f);
  const float tanX = tanY * camera.Aspect;
  const Vec3 eye = camera.Position;

  Frustum frustum;
  frustum.Planes[0] = PlaneThrough(f, eye + f * camera.Near);
  frustum.Planes[1] = PlaneThrough(f * -1.0f, eye + f * camera.Far);
  // Side planes pass through the eye; each normal points into the volume.
  // The left plane contains the edge direction f - r tanX and the up axis.
  frustum.Planes[2] = PlaneThrough(Cross(f - r * tanX, u), eye);
  frustum.Planes[3] = PlaneThrough(Cross(u, f + r * tanX), eye);
  frustum.Planes[4] = PlaneThrough(Cross(r, f - u * tanY), eye);
  frustum.Planes[5] = PlaneThrough(Cross(f + u * tanY, r), eye);
  return frustum;
}

bool SphereInFrustum(const Frustum& frustum, Vec3 center, float radius) {
  for (const Plane& plane : frustum.Planes) {
    if (Dot(plane.Normal, center) + plane.D < -radius) return false;
  }
  return true;
}

bool BoxInFrustum(const Frustum& frustum, Vec3 minimum, Vec3 maximum) {
  for (const Plane& plane : frustum.Planes) {
    // The box corner farthest along the plane's normal.
    const Vec3 p{plane.Normal.x >= 0.0f ? maximum.x : minimum.x,
                 plane.Normal.y >= 0.0f ? maximum.y : minimum.y,
                 plane.Normal.z >= 0.0f ? maximum.z : minimum.z};
    if (Dot(plane.Normal, p) + plane.D < 0.0f) return false;
  }
  return true;
}

}  // namespace khost
