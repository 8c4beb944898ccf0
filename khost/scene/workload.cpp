#include "khost/scene/workload.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "khost/runtime/skin_kernels.h"

namespace khost {

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

constexpr std::size_t kDeformChunk = 512;  // vertices per parallel work item

// The items of one parallel pass, one span per thread: a thread claims
// items until none is left, so its items run back to back.
void SpansPerThread(const std::vector<WorkSpan>& items, std::vector<WorkSpan>& threads) {
  threads.clear();
  std::vector<TimePoint> ends;
  for (const WorkSpan& item : items) {
    const TimePoint end =
        item.Start + std::chrono::round<Clock::duration>(
                         std::chrono::duration<double, std::micro>(item.Duration));
    std::size_t k = 0;
    while (k < threads.size() && threads[k].Thread != item.Thread) ++k;
    if (k == threads.size()) {
      threads.push_back({item.Start, 0.0, item.Thread});
      ends.push_back(end);
    } else {
      threads[k].Start = std::min(threads[k].Start, item.Start);
      ends[k] = std::max(ends[k], end);
    }
  }
  for (std::size_t k = 0; k < threads.size(); ++k)
    threads[k].Duration = Micros(threads[k].Start, ends[k]);
}

}  // namespace

Workload::Workload(ThreadPool& pool, int characterCount)
    : mPool(pool), mScene(std::make_unique<Scene>(characterCount)) {}

Workload::Workload(ThreadPool& pool, std::shared_ptr<const Model> model, int instanceCount)
    : mPool(pool),
      mScene(model ? std::make_unique<Scene>(std::move(model), instanceCount)
                   : std::make_unique<Scene>(instanceCount)) {}

Workload::~Workload() {
  try {
    Drain();
  } catch (...) {
    // An evaluation that failed while shutting down has nothing left to feed.
  }
}

void Workload::Drain() {
  if (mPending.Valid()) {
    mPendingFrame = -1;
    mPending.Wait();
  }
}

int Workload::Rebuild(int characterCount) {
  Drain();
  mScene = mScene->GetModel() ? std::make_unique<Scene>(mScene->SharedModel(), characterCount)
                              : std::make_unique<Scene>(characterCount);
  if (mAspect > 0.0f) mScene->SetCameraAspect(mAspect);
  return mScene->GetNodeCount();
}

void Workload::SetCameraAspect(float aspect) {
  if (!(aspect > 0.0f) || !std::isfinite(aspect)) return;
  Drain();
  mAspect = aspect;
  mScene->SetCameraAspect(aspect);
}

void Workload::Evaluate(long long frameIndex, double seconds, bool parallel, FrameTimings& out) {
  Scene& scene = *mScene;
  const int count = scene.GetCharacterCount();
  const int buffer = static_cast<int>(frameIndex & 1);
  const int thread = ThreadPool::CurrentWorker();
  out.Characters.resize(static_cast<std::size_t>(count));
  mAnimationItems.resize(parallel ? static_cast<std::size_t>(count) : 0);

  const auto animate = [&](std::size_t i) {
    const Clock::time_point t0 = Clock::now();
    scene.Animate(scene.GetCharacter(static_cast<int>(i)), seconds, buffer);
    mAnimationItems[i] = {t0, Micros(t0, Clock::now()), ThreadPool::CurrentWorker()};
  };
  const auto evaluate = [&](std::size_t i) {
    Character& c = scene.GetCharacter(static_cast<int>(i));
    const TimePoint start = Clock::now();
    scene.SolveSkeleton(c, buffer);
    const TimePoint solved = Clock::now();
    scene.SolveConstraints(c, buffer);
    const TimePoint end = Clock::now();
    out.Characters[i] = {
        {MicrosBetween(start, end), MicrosBetween(start, solved), MicrosBetween(solved, end)},
        start,
        ThreadPool::CurrentWorker()};
  };

  const Stretch animation = Measure([&] {
    if (parallel) {
      mPool.ParallelFor(static_cast<std::size_t>(count), animate);
    } else {
      // One thread does it all: no per-thread spans to show, so no clock
      // read per character.
      for (int i = 0; i < count; ++i) scene.Animate(scene.GetCharacter(i), seconds, buffer);
    }
  });
  const Stretch evaluation = Measure([&] {
    if (parallel) {
      mPool.ParallelFor(static_cast<std::size_t>(count), evaluate);
    } else {
      for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) evaluate(i);
    }
  });
  out.Stages[kStageAnimation] = {animation.Start, animation.Micros(), animation.CpuMicros, thread};
  out.Stages[kStageEvaluation] = {evaluation.Start, evaluation.Micros(), evaluation.CpuMicros,
                                  thread};
  SpansPerThread(mAnimationItems, out.Shares[kStageAnimation]);
}

void Workload::Cull(int buffer, bool enabled) {
  Scene& scene = *mScene;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    Character& c = scene.GetCharacter(i);
    const Pose& pose = c.Poses[buffer];
    c.Visible =
        !enabled || SphereInFrustum(scene.GetFrustum(), pose.BoundsCenter, pose.BoundsRadius);
  }
}

void Workload::Deform(int buffer, bool parallel, bool gpu, FrameTimings& timings) {
  Scene& scene = *mScene;
  timings.DeformedVertices = 0;
  timings.Shares[kStageDeformation].clear();
  // With GPU skinning the vertices are deformed by the GPU from the skin
  // matrices that Upload sends; nothing is deformed here.
  if (gpu) return;
  mChunks.clear();
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    const Character& c = scene.GetCharacter(i);
    if (!c.Visible) continue;
    const std::size_t vertices = c.Skinning->DeformedCount();
    for (std::size_t begin = 0; begin < vertices; begin += kDeformChunk) {
      mChunks.push_back({i, begin, std::min(vertices, begin + kDeformChunk)});
    }
    timings.DeformedVertices += vertices;
  }
  mChunkSpans.resize(mChunks.size());
  const auto deform = [&](std::size_t k) {
    const Clock::time_point t0 = Clock::now();
    const DeformChunk& chunk = mChunks[k];
    Character& c = scene.GetCharacter(chunk.Character);
    SkinLayoutRange(*c.Skinning, c.Poses[buffer].Columns.data(), chunk.Begin, chunk.End,
                    c.DeformedPositions.data(), c.DeformedNormals.data());
    mChunkSpans[k] = {t0, Micros(t0, Clock::now()), ThreadPool::CurrentWorker()};
  };
  if (parallel) {
    mPool.ParallelFor(mChunks.size(), deform);
  } else {
    for (std::size_t k = 0; k < mChunks.size(); ++k) deform(k);
  }
  SpansPerThread(mChunkSpans, timings.Shares[kStageDeformation]);
}

void Workload::Upload(int buffer, bool gpu) {
  // CPU skinning uploads the deformed vertices (position and normal); GPU
  // skinning uploads only the skin matrices, 12 floats per joint, and the
  // vertex shader blends. Without a renderer they go to a staging buffer
  // in the layout a renderer would map.
  Scene& scene = *mScene;
  if (mRenderer) {
    mUploadBytes = mRenderer->Upload(scene, buffer, gpu);
    return;
  }
  std::size_t floats = 0;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    const Character& c = scene.GetCharacter(i);
    if (!c.Visible) continue;
    floats += gpu ? c.Poses[buffer].Skin.size() * 12 : c.Vertices().size() * 6;
  }
  if (mStaging.size() < floats) mStaging.resize(floats);
  float* out = mStaging.data();
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    const Character& c = scene.GetCharacter(i);
    if (!c.Visible) continue;
    if (gpu) {
      for (const Mat34& m : c.Poses[buffer].Skin) {
        std::memcpy(out, &m.m[0][0], sizeof(float) * 12);
        out += 12;
      }
    } else {
      for (std::size_t k = 0; k < c.Vertices().size(); ++k) {
        const Vec3 p = c.DeformedPositions[k];
        const Vec3 n = c.DeformedNormals[k];
        out[0] = p.x;
        out[1] = p.y;
        out[2] = p.z;
        out[3] = n.x;
        out[4] = n.y;
        out[5] = n.z;
        out += 6;
      }
    }
  }
  mUploadBytes = floats * sizeof(float);
}

void Workload::Submit(int buffer, bool gpu) {
  // Builds the frame's draw list: a bounding box per visible character (from
  // its deformed vertices, or from its joints when the GPU deforms), its
  // depth and level of detail from the projected size, sorted front to back
  // by level.
  Scene& scene = *mScene;
  const Camera& camera = scene.GetCamera();
  const float focal = 1.0f / std::tan(camera.VerticalFovRadians * 0.5f);
  mDrawList.clear();
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    const Character& c = scene.GetCharacter(i);
    if (!c.Visible) continue;
    Vec3 lo{1e30f, 1e30f, 1e30f};
    Vec3 hi{-1e30f, -1e30f, -1e30f};
    const auto grow = [&](Vec3 p) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    };
    if (c.Source) {
      // An imported instance's posed bounds (rigid meshes are not deformed).
      const Pose& pose = c.Poses[buffer];
      const float r = pose.BoundsRadius;
      grow(pose.BoundsCenter - Vec3{r, r, r});
      grow(pose.BoundsCenter + Vec3{r, r, r});
    } else if (gpu) {
      const float r = c.MeshRadius;
      for (const Mat34& m : c.Poses[buffer].World) {
        const Vec3 p = GetTranslation(m);
        grow(p - Vec3{r, r, r});
        grow(p + Vec3{r, r, r});
      }
    } else {
      for (const Vec3& p : c.DeformedPositions) grow(p);
    }
    const Vec3 center = (lo + hi) * 0.5f;
    const float depth = Dot(center - camera.Position, camera.Forward);
    const float size = Length(hi - lo) * 0.5f;
    const float projected = depth > camera.Near ? size * focal / depth : 1.0f;
    const int lod = projected > 0.25f ? 0 : projected > 0.12f ? 1 : projected > 0.06f ? 2 : 3;
    mDrawList.push_back({i, depth, lod});
  }
  std::sort(mDrawList.begin(), mDrawList.end(), [](const DrawItem& a, const DrawItem& b) {
    return a.Lod != b.Lod ? a.Lod < b.Lod : a.Depth < b.Depth;
  });
  if (mRenderer) mRenderer->Draw(scene, mDrawList, gpu);
}

const FrameTimings& Workload::RunFrame(long long frameIndex, const EngineSettings& settings) {
  return RunFrame(frameIndex, static_cast<double>(frameIndex) / kFixedFrameRate, settings);
}

const FrameTimings& Workload::RunFrame(long long frameIndex, double seconds,
                                       const EngineSettings& settings) {
  const int buffer = static_cast<int>(frameIndex & 1);
  const double step = mPreviousSeconds >= 0.0 && seconds > mPreviousSeconds
                          ? seconds - mPreviousSeconds
                          : 1.0 / kFixedFrameRate;
  mPreviousSeconds = seconds;

  // Evaluation: the pipelined one evaluated this frame into the other
  // timings, which become this frame's; else it is evaluated now.
  if (mPending.Valid() && mPendingFrame == frameIndex) {
    mPending.Wait();
    mCurrent = 1 - mCurrent;
  } else {
    Drain();
    Evaluate(frameIndex, seconds, settings.ParallelEvaluation, mTimings[mCurrent]);
  }
  mPendingFrame = -1;
  FrameTimings& timings = mTimings[mCurrent];

  // The loop thread's stages, each measured as one stretch.
  const auto onLoop = [](const Stretch& s) {
    return StageTiming{s.Start, s.Micros(), s.CpuMicros, ThreadPool::CurrentWorker()};
  };
  timings.Stages[kStageCulling] = onLoop(Measure([&] { Cull(buffer, settings.FrustumCulling); }));
  timings.VisibleCharacters = 0;
  for (int i = 0; i < mScene->GetCharacterCount(); ++i) {
    timings.VisibleCharacters += mScene->GetCharacter(i).Visible ? 1 : 0;
  }
  // A renderer whose bone block cannot hold the scene's bones gets CPU
  // skinning instead.
  const bool gpu = settings.GPUSkinning && (!mRenderer || mRenderer->CanSkinOnGpu(*mScene));
  timings.Stages[kStageDeformation] =
      onLoop(Measure([&] { Deform(buffer, settings.ParallelDeformation, gpu, timings); }));
  timings.Stages[kStageUpload] = onLoop(Measure([&] { Upload(buffer, gpu); }));

  // With the parallel pipeline the next frame's evaluation runs on the pool
  // (into the other pose buffer and the other timings) while this frame is
  // submitted and drawn.
  if (settings.ParallelPipeline) {
    const long long next = frameIndex + 1;
    const double nextSeconds = seconds + step;
    const bool parallel = settings.ParallelEvaluation;
    FrameTimings& ahead = mTimings[1 - mCurrent];
    mPendingFrame = next;
    mPending = mPool.Submit([this, next, nextSeconds, parallel, &ahead] {
      Evaluate(next, nextSeconds, parallel, ahead);
    });
  }

  timings.Stages[kStageSubmission] = onLoop(Measure([&] { Submit(buffer, gpu); }));
  timings.DrawItems = static_cast<int>(mDrawList.size());
  return timings;
}

}  // namespace khost
