// kgpgpu: the host's GPGPU manager.
//
// Sections: GPGPU manager. Notes on operations: [thread; ownership] (see
// host/kbaselib.h).
//
// Threads: user-interface thread only.
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] GPGPU manager
//-----------------------------------------------------------------------------

class KHOST_API KGPGPUManager {
 private:
  bool mGPUSkinDeform = false;

 public:
  // Skin deformation runs on the GPU instead of the CPU.
  KPropertyNoValueTemplate<bool> GPUSkinDeform;

  KGPGPUManager();  // [ui; -]
  ~KGPGPUManager();
  KGPGPUManager(const KGPGPUManager&) = delete;
  KGPGPUManager& operator=(const KGPGPUManager&) = delete;
};

// The process's GPGPU manager; never null.
KHOST_API KGPGPUManager* KGPGPU_GetGPGPUManager();  // [any; returns borrowed]
