// kshader: the host's renderer settings.
//
// Sections: renderer. Notes on operations: [thread; ownership] (see
// host/kbaselib.h).
//
// Threads: user-interface thread only.
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Renderer
//-----------------------------------------------------------------------------

class KHOST_API KRenderer {
 private:
  bool mEarlyFrustumCulling = true;

 public:
  // Skip objects outside the camera's frustum before submitting them.
  KPropertyNoValueTemplate<bool> EarlyFrustumCulling;

  KRenderer();  // [ui; -]
  ~KRenderer();
  KRenderer(const KRenderer&) = delete;
  KRenderer& operator=(const KRenderer&) = delete;
};

// The process's renderer; never null.
KHOST_API KRenderer* KShaders_GetRenderer();  // [any; returns borrowed]
