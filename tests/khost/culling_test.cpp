#include "khost/scene/culling.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace khost;

// A camera at the origin looking down -z, 90 degrees vertically, square.
Camera SquareCamera() {
  Camera c;
  c.Position = {0, 0, 0};
  c.Forward = {0, 0, -1};
  c.Up = {0, 1, 0};
  c.VerticalFovRadians = 1.5707963f;
  c.Aspect = 1.0f;
  c.Near = 1.0f;
  c.Far = 10.0f;
  return c;
}

TEST(KhostCulling, PointsInsideAndOutsideEachPlane) {
  const Frustum f = MakeFrustum(SquareCamera());
  EXPECT_TRUE(SphereInFrustum(f, {0, 0, -5}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {0, 0, 5}, 0.0f)) << "behind the camera";
  EXPECT_FALSE(SphereInFrustum(f, {0, 0, -0.5f}, 0.0f)) << "before the near plane";
  EXPECT_FALSE(SphereInFrustum(f, {0, 0, -11}, 0.0f)) << "beyond the far plane";
  // At depth 5 the 90-degree view reaches 5 to each side.
  EXPECT_TRUE(SphereInFrustum(f, {4.9f, 0, -5}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {5.1f, 0, -5}, 0.0f)) << "right";
  EXPECT_FALSE(SphereInFrustum(f, {-5.1f, 0, -5}, 0.0f)) << "left";
  EXPECT_FALSE(SphereInFrustum(f, {0, 5.1f, -5}, 0.0f)) << "top";
  EXPECT_FALSE(SphereInFrustum(f, {0, -5.1f, -5}, 0.0f)) << "bottom";
}

TEST(KhostCulling, AspectWidensOnlyTheHorizontalView) {
  Camera c = SquareCamera();
  c.Aspect = 2.0f;
  const Frustum f = MakeFrustum(c);
  EXPECT_TRUE(SphereInFrustum(f, {9.9f, 0, -5}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {10.1f, 0, -5}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {0, 5.1f, -5}, 0.0f));
}

TEST(KhostCulling, SpheresStraddlingAPlaneCountAsVisible) {
  const Frustum f = MakeFrustum(SquareCamera());
  // Centre 0.5 outside the right plane (distance about 0.35), radius 1.
  EXPECT_TRUE(SphereInFrustum(f, {5.5f, 0, -5}, 1.0f));
  // Well outside: the distance to the plane exceeds the radius.
  EXPECT_FALSE(SphereInFrustum(f, {9.0f, 0, -5}, 1.0f));
  // A sphere around the camera reaches past the near plane.
  EXPECT_TRUE(SphereInFrustum(f, {0, 0, 0}, 1.5f));
}

TEST(KhostCulling, BoxesAreCulledOnlyWhenEntirelyOutside) {
  const Frustum f = MakeFrustum(SquareCamera());
  EXPECT_TRUE(BoxInFrustum(f, {-1, -1, -6}, {1, 1, -4}));
  EXPECT_TRUE(BoxInFrustum(f, {4, -1, -6}, {8, 1, -4})) << "straddles the right plane";
  EXPECT_FALSE(BoxInFrustum(f, {7, -1, -6}, {9, 1, -4}));
  EXPECT_FALSE(BoxInFrustum(f, {-1, -1, 1}, {1, 1, 3})) << "behind";
  EXPECT_TRUE(BoxInFrustum(f, {-50, -50, -9}, {50, 50, -2})) << "larger than the view";
}

TEST(KhostCulling, PlanesFollowATurnedCamera) {
  Camera c = SquareCamera();
  c.Forward = {1, 0, 0};  // looking down +x
  const Frustum f = MakeFrustum(c);
  EXPECT_TRUE(SphereInFrustum(f, {5, 0, 0}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {0, 0, -5}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {-5, 0, 0}, 0.0f));
  EXPECT_TRUE(SphereInFrustum(f, {5, 0, 4.9f}, 0.0f));
  EXPECT_FALSE(SphereInFrustum(f, {5, 0, 5.1f}, 0.0f));
}

TEST(KhostCulling, PlaneNormalsAreUnitLength) {
  // Sphere tests compare distances with radii: the planes must be normalised.
  Camera c = SquareCamera();
  c.Aspect = 16.0f / 9.0f;
  c.VerticalFovRadians = 1.0f;
  const Frustum f = MakeFrustum(c);
  for (const Plane& p : f.Planes) EXPECT_NEAR(Length(p.Normal), 1.0f, 1e-5f);
}

}  // namespace
