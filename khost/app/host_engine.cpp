#include "khost/app/host_engine.h"

#include <algorithm>

#include "host/bcore.h"
#include "khost/setup/host_settings.h"

namespace khost {

namespace {

// The most characters of `scene`'s kind whose nodes "Node Count" can show.
int MostShownCharacters(const Scene& scene) {
  return scene.CountForNodeCount(KEvaluateManager::TheOne()->NodeCount.GetMaximum(), false);
}

}  // namespace

HostEngine::HostEngine(const SceneChoice& scene, std::ostream& err)
    : mPool(ThreadPool::DefaultWorkerCount()),
      mWorkload(scene.Imported ? std::make_unique<Workload>(mPool, scene.Imported, scene.Count)
                               : std::make_unique<Workload>(mPool, scene.Count)) {
  // The crowd's limits cut a large model's crowd; each cut is said once
  // here, with the limit that made it, so a smaller crowd is never a
  // surprise in the numbers.
  const Scene& built = mWorkload->GetScene();
  if (scene.Imported && built.GetCharacterCount() < scene.Count) {
    err << "khost: the crowd is cut to " << built.GetCharacterCount() << " instance"
        << (built.GetCharacterCount() == 1 ? "" : "s") << " of "
        << built.GetVertexCount() / static_cast<std::size_t>(built.GetCharacterCount())
        << " vertices each where Instances asks for " << scene.Count << ": a crowd holds at most "
        << kMaxCrowdVertices << " vertices in all\n";
  }
  const int most = MostShownCharacters(built);
  if (built.GetCharacterCount() > most) {
    const int asked = built.GetCharacterCount();
    mWorkload->Rebuild(most);
    const Scene& cut = mWorkload->GetScene();
    err << "khost: the crowd is cut to " << cut.GetCharacterCount() << " instance"
        << (cut.GetCharacterCount() == 1 ? "" : "s") << " (" << cut.GetNodeCount()
        << " nodes) where " << asked << " were asked for: \"Node Count\" holds at most "
        << KEvaluateManager::TheOne()->NodeCount.GetMaximum() << " nodes\n";
  }
  mFeed.SetCharacterCount(mWorkload->GetScene().GetCharacterCount());
  mFeed.Install();
  WriteNodeCount();
}

void HostEngine::WriteNodeCount() {
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  evaluation->NodeCount = mWorkload->GetScene().GetNodeCount();
  // A single instance can have more nodes than the editor holds; what the
  // editor then shows is what the next frame compares against, so it does
  // not rebuild the scene frame after frame.
  mWrittenNodeCount = evaluation->NodeCount.Get();
}

HostEngine::~HostEngine() {
  mWorkload->Drain();
  mFeed.Uninstall();
}

EngineSettings HostEngine::Update() {
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  const int requested = evaluation->NodeCount.Get();
  if (requested != mWrittenNodeCount) {
    const Scene& scene = mWorkload->GetScene();
    // Rounding up near the editor's maximum would build more nodes than it
    // can show; the count stays within what it shows.
    const int characters =
        std::min(scene.CountForNodeCount(requested, requested > mWrittenNodeCount),
                 MostShownCharacters(scene));
    mWorkload->Rebuild(characters);
    mFeed.SetCharacterCount(mWorkload->GetScene().GetCharacterCount());
    WriteNodeCount();
  }
  return CurrentEngineSettings();
}

}  // namespace khost
