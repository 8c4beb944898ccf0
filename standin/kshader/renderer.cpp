// The renderer's settings.

#include "host/kshader.h"

KRenderer::KRenderer() : EarlyFrustumCulling("EarlyFrustumCulling", &mEarlyFrustumCulling) {}

KRenderer::~KRenderer() = default;

KRenderer* KShaders_GetRenderer() {
  // Never destroyed, so that it outlives every user during process exit.
  static KRenderer* renderer = new KRenderer;
  return renderer;
}
