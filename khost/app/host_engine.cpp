#include "khost/app/host_engine.h"

#include "host/bcore.h"
#include "khost/setup/host_settings.h"

namespace khost {

HostEngine::HostEngine(const SceneChoice& scene)
    : mPool(ThreadPool::DefaultWorkerCount()),
      mWorkload(scene.Imported ? std::make_unique<Workload>(mPool, scene.Imported, scene.Count)
                               : std::make_unique<Workload>(mPool, scene.Count)) {
  mFeed.SetCharacterCount(mWorkload->GetScene().GetCharacterCount());
  mFeed.Install();
  mWrittenNodeCount = mWorkload->GetScene().GetNodeCount();
  KEvaluateManager::TheOne()->NodeCount = mWrittenNodeCount;
}

HostEngine::~HostEngine() {
  mWorkload->Drain();
  mFeed.Uninstall();
}

EngineSettings HostEngine::Update() {
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  const int requested = evaluation->NodeCount.Get();
  if (requested != mWrittenNodeCount) {
    const int characters =
        mWorkload->GetScene().CountForNodeCount(requested, requested > mWrittenNodeCount);
    mWrittenNodeCount = mWorkload->Rebuild(characters);
    mFeed.SetCharacterCount(characters);
    evaluation->NodeCount = mWrittenNodeCount;
  }
  return CurrentEngineSettings();
}

}  // namespace khost
