// The crowd's animation runtime per character, in CPU time, on the default
// crowd (24 instances of X/Testwuson.X, each at its own time, a frame of
// 1/60 s per iteration, so playback runs forward and loops):
//   Sample*        the clips sampled into every node's translation, rotation
//                  and scale: the reference (the bind pose copied, then
//                  SampleClip's binary search and slerp per channel) and the
//                  clip tracks with their cursors and batched slerp;
//   LocalToWorld*  the hierarchy's world matrices: the reference (MatFromTRS
//                  and a product per node) and the SIMD chain;
//   Animate, Evaluate  what the host's Animation and Evaluation cycles run
//                  (Evaluation: the hierarchy, then skin matrices and bounds).
// The counter us_per_character is CPU time per character and frame. Run
// with --benchmark_repetitions=5 on a shared machine and read medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "default_crowd.h"
#include "khost/runtime/clip_tracks.h"
#include "khost/runtime/local_to_world.h"
#include "khost/scene/crowd.h"
#include "khost/scene/scene.h"

namespace {

using namespace khost;
using namespace khost_bench;

constexpr double kFrame = 1.0 / 60.0;

// us_per_character: the thread's CPU time since `startNs` per character and
// iteration.
void PerCharacter(benchmark::State& state, int characters, double startNs) {
  const double iterations =
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.counters["us_per_character"] =
      (ThreadCpuNs() - startNs) * 1e-3 / (iterations * static_cast<double>(characters));
}

// The crowd, posed once so every buffer holds a pose.
std::unique_ptr<Scene> Crowd(benchmark::State& state) {
  const auto model = DefaultCharacter();
  if (!model) {
    state.SkipWithError("needs the assimp-testmodels package (X/Testwuson.X)");
    return nullptr;
  }
  auto scene = std::make_unique<Scene>(model, kInstances);
  for (int i = 0; i < scene->GetCharacterCount(); ++i) {
    Character& c = scene->GetCharacter(i);
    scene->Animate(c, 0.0, 0);
    scene->SolveSkeleton(c, 0);
    scene->SolveConstraints(c, 0);
  }
  return scene;
}

double InstanceTime(const Character& c, double seconds) {
  return seconds * c.Speed + c.TimeOffset;
}

void BM_SampleReference(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  const Model& m = *scene->GetModel();
  double seconds = 0.0;
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    seconds += kFrame;
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Character& c = scene->GetCharacter(i);
      Pose& pose = c.Poses[0];
      for (std::size_t j = 0; j < m.Nodes.size(); ++j) {
        pose.Translation[j] = m.Nodes[j].Translation;
        pose.Local[j] = m.Nodes[j].Rotation;
        pose.Scale[j] = m.Nodes[j].Scale;
      }
      double ticks = 0.0;
      const int clip = ClipAt(m, InstanceTime(c, seconds), ticks);
      SampleClip(m.Clips[static_cast<std::size_t>(clip)], ticks, pose.Translation.data(),
                 pose.Local.data(), pose.Scale.data());
    }
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
}

void BM_SampleTracks(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  const Model& m = *scene->GetModel();
  std::vector<ClipTracks> tracks;
  for (const Clip& clip : m.Clips) tracks.emplace_back(clip, m.Nodes);
  std::vector<PlaybackCursor> cursors(static_cast<std::size_t>(scene->GetCharacterCount()));
  double seconds = 0.0;
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    seconds += kFrame;
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Character& c = scene->GetCharacter(i);
      Pose& pose = c.Poses[0];
      double ticks = 0.0;
      const int clip = ClipAt(m, InstanceTime(c, seconds), ticks);
      tracks[static_cast<std::size_t>(clip)].Sample(ticks, cursors[static_cast<std::size_t>(i)],
                                                    pose.Translation.data(), pose.Local.data(),
                                                    pose.Scale.data());
    }
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
  state.counters["tracks"] = static_cast<double>(tracks[0].AnimatedTracks());
}

void BM_LocalToWorldReference(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  const Model& m = *scene->GetModel();
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Pose& pose = scene->GetCharacter(i).Poses[0];
      for (std::size_t j = 0; j < m.Nodes.size(); ++j) {
        const Mat34 local = MatFromTRS(pose.Translation[j], pose.Local[j], pose.Scale[j]);
        const int parent = m.Nodes[j].Parent;
        pose.World[j] =
            (parent < 0 ? pose.Root : pose.World[static_cast<std::size_t>(parent)]) * local;
      }
    }
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
  state.counters["nodes"] = static_cast<double>(m.Nodes.size());
}

void BM_LocalToWorld(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  const Model& m = *scene->GetModel();
  std::vector<int> parents;
  for (const ModelNode& node : m.Nodes) parents.push_back(node.Parent);
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Pose& pose = scene->GetCharacter(i).Poses[0];
      LocalToWorld(parents.data(), parents.size(), pose.Translation.data(), pose.Local.data(),
                   pose.Scale.data(), pose.Root, pose.World.data());
    }
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
  state.counters["nodes"] = static_cast<double>(m.Nodes.size());
}

void BM_Animate(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  double seconds = 0.0;
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    seconds += kFrame;
    for (int i = 0; i < scene->GetCharacterCount(); ++i)
      scene->Animate(scene->GetCharacter(i), seconds, 0);
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
}

// Animate and Evaluate as the host's frame finds them: the frame's other
// work (skinning, rendering) has passed through the caches since the last
// pass, and the pose buffers alternate from frame to frame. Each iteration
// first writes a buffer larger than the last-level cache, then times the
// passes alone on the steady clock (a single thread that does not wait, so
// close to its CPU time).
void BM_AnimateAndEvaluateCold(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  std::vector<char> flush(64u << 20);
  long long frame = 0;
  double animation = 0.0;
  double evaluation = 0.0;
  char round = 0;
  for (auto _ : state) {
    std::fill(flush.begin(), flush.end(), ++round);
    benchmark::ClobberMemory();
    ++frame;
    const int buffer = static_cast<int>(frame & 1);
    const double seconds = static_cast<double>(frame) * kFrame;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < scene->GetCharacterCount(); ++i)
      scene->Animate(scene->GetCharacter(i), seconds, buffer);
    const auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Character& c = scene->GetCharacter(i);
      scene->SolveSkeleton(c, buffer);
      scene->SolveConstraints(c, buffer);
    }
    const auto t2 = std::chrono::steady_clock::now();
    benchmark::ClobberMemory();
    animation += std::chrono::duration<double, std::micro>(t1 - t0).count();
    evaluation += std::chrono::duration<double, std::micro>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
  }
  const double per =
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations())) *
      scene->GetCharacterCount();
  state.counters["animate_us_per_character"] = animation / per;
  state.counters["evaluate_us_per_character"] = evaluation / per;
}

void BM_Evaluate(benchmark::State& state) {
  auto scene = Crowd(state);
  if (!scene) return;
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
      Character& c = scene->GetCharacter(i);
      scene->SolveSkeleton(c, 0);
      scene->SolveConstraints(c, 0);
    }
    benchmark::ClobberMemory();
  }
  PerCharacter(state, scene->GetCharacterCount(), start);
}

BENCHMARK(BM_SampleReference);
BENCHMARK(BM_SampleTracks);
BENCHMARK(BM_LocalToWorldReference);
BENCHMARK(BM_LocalToWorld);
BENCHMARK(BM_Animate);
BENCHMARK(BM_Evaluate);
BENCHMARK(BM_AnimateAndEvaluateCold)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  DefaultCharacter();  // forks: before any thread
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
