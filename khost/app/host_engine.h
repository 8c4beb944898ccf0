// The host's engine: the scene's workload on its thread pool, the profiler
// cycles it is measured in, and the scene's size kept in step with the node
// count the tool edits.
//
// Every call is made on the loop thread (thread tags: thread_pool.h); the
// engine owns the pool, whose workers run the frame's parallel passes and
// the pipelined evaluation until Drain or the next frame.
#pragma once

#include <memory>
#include <ostream>
#include <vector>

#include "khost/base/thread_pool.h"
#include "khost/frame/profiler_feed.h"
#include "khost/import/scene_source.h"
#include "khost/scene/workload.h"

namespace khost {

class HostEngine {
 public:
  // The chosen scene (an imported model's crowd or the procedural
  // characters) on a pool as large as the machine, its cycles in the
  // profiler's table and its node count written to the evaluation settings.
  // A crowd cut by its vertex limit or by the most nodes "Node Count" holds
  // is said in `err`. [loop thread] shares the imported model with `scene`.
  HostEngine(const SceneChoice& scene, std::ostream& err);
  // Waits for the last frame's work, then takes the cycles out of the
  // profiler's table. [loop thread]
  ~HostEngine();
  HostEngine(const HostEngine&) = delete;
  HostEngine& operator=(const HostEngine&) = delete;

  // Brings the scene in step with the settings before a frame, and returns
  // the engine settings the frame runs with. A node count edited in the
  // tool rebuilds the scene to about that many nodes, rounded in the
  // direction of the edit (see Scene::CountForNodeCount); the count is then
  // written back as the scene has it. [loop thread], before a frame.
  EngineSettings Update();
  // Runs frame `frame` at scene time `seconds`. [loop thread] The timings
  // are the workload's, valid until the next frame.
  const FrameTimings& RunFrame(long long frame, double seconds, const EngineSettings& settings) {
    return mWorkload->RunFrame(frame, seconds, settings);
  }
  // Records a measured frame in the profiler's cycles. [loop thread]
  void Publish(const MeasuredFrame& frame) { mFeed.Publish(frame); }
  // The chart's rows as the profiler holds them (see ProfilerFeed).
  // [loop thread]
  std::vector<ChartRow> ChartRows(int displayed) const { return mFeed.ChartRows(displayed); }

  // Where the frames draw (null: nowhere), and the camera's width over
  // height. [loop thread] borrows `renderer`, which outlives the frames
  // that draw to it.
  void SetRenderer(FrameRenderer* renderer) { mWorkload->SetRenderer(renderer); }
  void SetCameraAspect(float aspect) { mWorkload->SetCameraAspect(aspect); }
  // The workload, for input that moves its camera; the scene it runs.
  // [loop thread] both owned by the engine; the scene is replaced when the
  // node count changes it.
  Workload& GetWorkload() { return *mWorkload; }
  const Scene& GetScene() const { return mWorkload->GetScene(); }
  // Waits for work still running on the pool from the last frame.
  // [loop thread]
  void Drain() { mWorkload->Drain(); }

 private:
  ThreadPool mPool;
  std::unique_ptr<Workload> mWorkload;
  ProfilerFeed mFeed;
  // Writes the scene's node count to the editor and keeps what it shows.
  void WriteNodeCount();

  int mWrittenNodeCount = -1;
};

}  // namespace khost
