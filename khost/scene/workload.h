// One frame of the host's work on its scene: animation and evaluation,
// early culling, deformation, upload and submission, each timed with the
// steady clock and the running thread's CPU clock (stopwatch.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "khost/base/stopwatch.h"
#include "khost/base/thread_pool.h"
#include "khost/scene/scene.h"

namespace khost {

// The engine settings a frame runs with (read from the host's settings at
// the start of the frame).
struct EngineSettings {
  bool FrustumCulling = true;
  bool ParallelPipeline = false;
  bool ParallelEvaluation = false;
  bool ParallelDeformation = false;
  bool GPUSkinning = false;
};

// A stretch of work: where it began, how long it took (microseconds) and
// the thread it ran on (ThreadPool::CurrentWorker: 0 the host's loop).
struct WorkSpan {
  TimePoint Start{};
  double Duration = 0.0;
  int Thread = 0;
};

// One character's evaluation: the skeleton is solved from Start, the
// constraints right after it. Steady-clock times only: a character's work
// takes a few tenths of a microsecond, and reading a thread's CPU clock
// (a system call) takes longer than that, so it would be most of what it
// measured.
struct CharacterTimings {
  double Total = 0.0;  // microseconds
  double Skeleton = 0.0;
  double Constraints = 0.0;
  TimePoint Start{};
  int Thread = 0;
};

// Microseconds spent in each stage of one frame, on the steady clock and
// (the *Cpu members) on the CPU clock of the thread that ran the stage.
// Evaluation and Animation are wall-clock times of the whole pass;
// per-character times are each character's own (with parallel evaluation
// they overlap, so their sum exceeds the pass). Each stage also keeps where it began; animation and
// evaluation run on EvaluationThread (a worker when pipelined). The work
// lists hold one span per thread that took part in a parallel pass.
struct FrameTimings {
  double Animation = 0.0;
  double Evaluation = 0.0;
  std::vector<CharacterTimings> Characters;
  double Culling = 0.0;
  double Deformation = 0.0;
  double Upload = 0.0;
  double Submission = 0.0;
  TimePoint AnimationStart{};
  TimePoint EvaluationStart{};
  int EvaluationThread = 0;
  TimePoint CullingStart{};
  TimePoint DeformationStart{};
  TimePoint UploadStart{};
  TimePoint SubmissionStart{};
  std::vector<WorkSpan> AnimationWork;
  std::vector<WorkSpan> DeformationWork;
  int VisibleCharacters = 0;
  std::size_t DeformedVertices = 0;
  int DrawItems = 0;
  double AnimationCpu = 0.0, EvaluationCpu = 0.0, CullingCpu = 0.0;
  double DeformationCpu = 0.0, UploadCpu = 0.0, SubmissionCpu = 0.0;
};

struct DrawItem {
  int Character = 0;
  float Depth = 0.0f;  // distance along the camera's view direction
  int Lod = 0;         // 0 the finest
};

// Where a frame's characters go on the GPU. Workload calls it on the thread
// that runs RunFrame (the one that owns the GL context), inside the stages
// it times: Upload in "Upload", Draw in "Submission".
class FrameRenderer {
 public:
  virtual ~FrameRenderer() = default;
  // Sends what the visible characters of pose buffer `buffer` need to the
  // GPU: their deformed vertices, or with GPU skinning their skin matrices.
  // Returns the bytes sent.
  virtual std::size_t Upload(Scene& scene, int buffer, bool gpuSkinning) = 0;
  // Draws the draw list, one draw call per item, from what Upload sent.
  virtual void Draw(Scene& scene, const std::vector<DrawItem>& drawList, bool gpuSkinning) = 0;
};

class Workload {
 public:
  Workload(ThreadPool& pool, int characterCount);
  // A crowd of `instanceCount` instances of an imported model (null: the
  // procedural characters).
  Workload(ThreadPool& pool, std::shared_ptr<const Model> model, int instanceCount);
  // Waits for a pipelined evaluation still running.
  ~Workload();
  Workload(const Workload&) = delete;
  Workload& operator=(const Workload&) = delete;

  // Runs frame `frameIndex` at animation time frameIndex / 60 s with the
  // given settings and reports its timings.
  void RunFrame(long long frameIndex, const EngineSettings& settings, FrameTimings& timings);
  // The same at animation time `seconds`. With the parallel pipeline the
  // next frame is evaluated ahead at `seconds` plus this frame's step
  // (1/60 s for the first frame).
  void RunFrame(long long frameIndex, double seconds, const EngineSettings& settings,
                FrameTimings& timings);

  // The renderer the frame's upload and draw calls go to (borrowed; null:
  // the vertices go to a CPU staging buffer and nothing is drawn).
  void SetRenderer(FrameRenderer* renderer) { mRenderer = renderer; }
  // The camera's width / height, kept across rebuilds.
  void SetCameraAspect(float aspect);

  // Replaces the scene with `characterCount` characters or instances of the
  // same model (waits for any pipelined evaluation first). Returns the new
  // node count.
  int Rebuild(int characterCount);

  // Finishes a pipelined evaluation, if one is running.
  void Drain();

  const Scene& GetScene() const { return *mScene; }
  // The scene for camera moves (waits for a pipelined evaluation first).
  Scene& EditScene() {
    Drain();
    return *mScene;
  }
  const std::vector<DrawItem>& GetDrawList() const { return mDrawList; }
  std::size_t GetUploadBytes() const { return mUploadBytes; }

 private:
  struct EvalResult {
    double Animation = 0.0;
    double Evaluation = 0.0;
    double AnimationCpu = 0.0;
    double EvaluationCpu = 0.0;
    std::vector<CharacterTimings> Characters;
    TimePoint AnimationStart{};
    TimePoint EvaluationStart{};
    int Thread = 0;
    std::vector<WorkSpan> AnimationItems;  // one per character
    std::vector<WorkSpan> AnimationWork;
  };
  void Evaluate(long long frameIndex, double seconds, bool parallel, EvalResult& out);
  void Cull(int buffer, bool enabled);
  void Deform(int buffer, bool parallel, bool gpu, FrameTimings& timings);
  void Upload(int buffer, bool gpu);
  void Submit(int buffer, bool gpu);

  ThreadPool& mPool;
  std::unique_ptr<Scene> mScene;
  FrameRenderer* mRenderer = nullptr;
  float mAspect = 0.0f;  // 0: the camera's own
  double mPreviousSeconds = -1.0;
  // A pipelined evaluation of frame mPendingFrame, or none.
  ThreadPool::Task mPending;
  long long mPendingFrame = -1;
  EvalResult mPendingResult;
  EvalResult mResult;

  struct DeformChunk {
    int Character;
    std::size_t Begin;
    std::size_t End;
  };
  std::vector<DeformChunk> mChunks;
  std::vector<WorkSpan> mChunkSpans;  // one per chunk
  std::vector<float> mStaging;        // the upload buffer
  std::size_t mUploadBytes = 0;
  std::vector<DrawItem> mDrawList;
};

}  // namespace khost
