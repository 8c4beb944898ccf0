// The GPGPU manager's settings.

#include "host/kgpgpu.h"

KGPGPUManager::KGPGPUManager() : GPUSkinDeform("GPUSkinDeform", &mGPUSkinDeform) {}

KGPGPUManager::~KGPGPUManager() = default;

KGPGPUManager* KGPGPU_GetGPGPUManager() {
  // Never destroyed, so that it outlives every user during process exit.
  static KGPGPUManager* manager = new KGPGPUManager;
  return manager;
}
