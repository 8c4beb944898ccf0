// kshader: the host's renderer settings.
//
// Threads: user-interface thread only.
#pragma once

#include "host/kbaselib.h"

class KHOST_API KRenderer {
 private:
  bool mEarlyFrustumCulling = true;

 public:
  // Skip objects outside the camera's frustum before submitting them.
  KPropertyNoValueTemplate<bool> EarlyFrustumCulling;

  KRenderer();
  ~KRenderer();
  KRenderer(const KRenderer&) = delete;
  KRenderer& operator=(const KRenderer&) = delete;
};

// The process's renderer; never null.
KHOST_API KRenderer* KShaders_GetRenderer();
