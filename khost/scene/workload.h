// One frame of the host's work on its scene: animation and evaluation,
// early culling, deformation, upload and submission, each timed with the
// steady clock and the running thread's CPU clock (stopwatch.h).
//
// Threads: the loop thread runs the frames. With the parallel pipeline a
// pool thread evaluates the next frame (its animation and evaluation, into
// the other pose buffer and the other frame's timings) while the loop
// thread deforms, uploads and submits this one; parallel passes spread a
// stage over the pool's threads. The notes say which thread calls what and
// who owns what.
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

// The stages of a frame, in the order they run.
enum WorkStage : int {
  kStageAnimation,    // every character's clip sampled
  kStageEvaluation,   // world matrices, skin matrices and posed bounds
  kStageCulling,      // the posed bounds against the frustum
  kStageDeformation,  // CPU skinning of the visible characters
  kStageUpload,       // what the GPU needs of them
  kStageSubmission,   // the draw list and its draw calls
  kStageCount
};

// One stage, measured as one stretch: where it began, its microseconds on
// the steady clock and on the CPU clock of the thread that ran it, and
// that thread (animation and evaluation run on a worker when pipelined).
struct StageTiming {
  TimePoint Start{};
  double Micros = 0.0;
  double CpuMicros = 0.0;
  int Thread = 0;
};

// A character's times: the whole evaluation, then its parts.
enum CharacterPart : int {
  kCharacterTotal,
  kCharacterSkeleton,     // the hierarchy, solved from Start
  kCharacterConstraints,  // skin matrices and bounds, right after it
  kCharacterPartCount
};

// One character's evaluation. Steady-clock times only: a character's work
// takes a few tenths of a microsecond, and reading a thread's CPU clock
// (a system call) takes longer than that, so it would be most of what it
// measured.
struct CharacterTimings {
  double Micros[kCharacterPartCount] = {};  // by CharacterPart
  TimePoint Start{};
  int Thread = 0;
};

// One frame's timings, by stage. Per-character times are each character's
// own (with parallel evaluation they overlap, so their sum exceeds the
// pass). Shares holds, per stage, one span per thread that took part in
// its parallel pass.
//
// [any thread: each stage's threads write their parts, the loop thread
// reads it once RunFrame returned; the workload owns it]
struct FrameTimings {
  StageTiming Stages[kStageCount];
  std::vector<WorkSpan> Shares[kStageCount];
  std::vector<CharacterTimings> Characters;
  int VisibleCharacters = 0;
  std::size_t DeformedVertices = 0;
  int DrawItems = 0;
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
  // Returns the bytes sent. [loop thread; -]
  virtual std::size_t Upload(Scene& scene, int buffer, bool gpuSkinning) = 0;
  // Draws the draw list, one draw call per item, from what Upload sent.
  // [loop thread; -]
  virtual void Draw(Scene& scene, const std::vector<DrawItem>& drawList, bool gpuSkinning) = 0;
  // Whether `scene` can be skinned on the GPU here; a frame whose settings
  // ask for GPU skinning skins on the CPU when not. [loop thread; -]
  virtual bool CanSkinOnGpu(const Scene& scene) = 0;
};

class Workload {
 public:
  // [loop thread; borrows the pool, owns the scene]
  Workload(ThreadPool& pool, int characterCount);
  // A crowd of `instanceCount` instances of an imported model (null: the
  // procedural characters). [loop thread; shares the model]
  Workload(ThreadPool& pool, std::shared_ptr<const Model> model, int instanceCount);
  // Waits for a pipelined evaluation still running. [loop thread; -]
  ~Workload();
  Workload(const Workload&) = delete;
  Workload& operator=(const Workload&) = delete;

  // Runs frame `frameIndex` at animation time frameIndex / kFixedFrameRate s with the
  // given settings and returns its timings. [loop thread; the workload owns
  // the timings: valid until the next RunFrame]
  const FrameTimings& RunFrame(long long frameIndex, const EngineSettings& settings);
  // The same at animation time `seconds`. With the parallel pipeline the
  // next frame is evaluated ahead, on a pool thread, at `seconds` plus this
  // frame's step (1 / kFixedFrameRate s for the first frame); that frame's RunFrame waits
  // for it. [loop thread; as above]
  const FrameTimings& RunFrame(long long frameIndex, double seconds,
                               const EngineSettings& settings);

  // The renderer the frame's upload and draw calls go to (null: the
  // vertices go to a CPU staging buffer and nothing is drawn).
  // [loop thread; borrows the renderer]
  void SetRenderer(FrameRenderer* renderer) { mRenderer = renderer; }
  // The camera's width / height, kept across rebuilds (waits for a
  // pipelined evaluation first). [loop thread; -]
  void SetCameraAspect(float aspect);

  // Replaces the scene with `characterCount` characters or instances of the
  // same model (waits for any pipelined evaluation first). Returns the new
  // node count. [loop thread; -]
  int Rebuild(int characterCount);

  // Finishes a pipelined evaluation, if one is running. [loop thread; -]
  void Drain();

  // The scene; while a pipelined evaluation runs, the pool thread writes
  // the characters' other pose buffer. [loop thread; the workload owns it]
  const Scene& GetScene() const { return *mScene; }
  // The scene for camera moves (waits for a pipelined evaluation first).
  // [loop thread; the workload owns it]
  Scene& EditScene() {
    Drain();
    return *mScene;
  }
  // The last frame's draw list and upload size. [loop thread; the workload
  // owns the list]
  const std::vector<DrawItem>& GetDrawList() const { return mDrawList; }
  std::size_t GetUploadBytes() const { return mUploadBytes; }

 private:
  // Animates and evaluates frame `frameIndex` into its pose buffer and
  // `out`'s animation, evaluation and characters. [loop thread, or a pool
  // thread when pipelined; writes `out`, one call at a time]
  void Evaluate(long long frameIndex, double seconds, bool parallel, FrameTimings& out);
  // The rest of the frame. [loop thread; -]
  void Cull(int buffer, bool enabled);
  void Deform(int buffer, bool parallel, bool gpu, FrameTimings& timings);
  void Upload(int buffer, bool gpu);
  void Submit(int buffer, bool gpu);

  ThreadPool& mPool;
  std::unique_ptr<Scene> mScene;
  FrameRenderer* mRenderer = nullptr;
  float mAspect = 0.0f;  // 0: the camera's own
  double mPreviousSeconds = -1.0;
  // The frames' timings: the current frame's, mTimings[mCurrent], and the
  // other, which a pipelined evaluation of the next frame writes while the
  // loop thread finishes this frame (it then becomes the current one).
  FrameTimings mTimings[2];
  int mCurrent = 0;
  // A pipelined evaluation of frame mPendingFrame, or none.
  ThreadPool::Task mPending;
  long long mPendingFrame = -1;
  // Evaluate's, one per character, each written by the thread that
  // animated it.
  std::vector<WorkSpan> mAnimationItems;

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
