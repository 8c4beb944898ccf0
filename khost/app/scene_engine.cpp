#include "khost/app/scene_engine.h"

#include "host/bcore.h"
#include "khost/app/host_settings.h"

namespace khost {

SceneEngine::SceneEngine(int characters)
    : mPool(ThreadPool::DefaultWorkerCount()),
      mWorkload(std::make_unique<Workload>(mPool, characters)) {
  mFeed.SetCharacterCount(mWorkload->GetScene().GetCharacterCount());
  mFeed.Install();
  mWrittenNodeCount = mWorkload->GetScene().GetNodeCount();
  KEvaluateManager::TheOne()->NodeCount = mWrittenNodeCount;
}

SceneEngine::~SceneEngine() {
  mWorkload->Drain();
  mFeed.Uninstall();
}

EngineSettings SceneEngine::Update() {
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  const int requested = evaluation->NodeCount.Get();
  if (requested != mWrittenNodeCount) {
    const int characters = CharactersForNodeCount(requested, requested > mWrittenNodeCount);
    mWrittenNodeCount = mWorkload->Rebuild(characters);
    mFeed.SetCharacterCount(characters);
    evaluation->NodeCount = mWrittenNodeCount;
  }
  return CurrentEngineSettings();
}

const FrameTimings& SceneEngine::RunFrame(long long frame, double seconds,
                                          const EngineSettings& settings) {
  mWorkload->RunFrame(frame, seconds, settings, mTimings);
  return mTimings;
}

}  // namespace khost
