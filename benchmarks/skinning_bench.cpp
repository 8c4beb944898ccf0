// CPU skinning of the default crowd (24 instances of X/Testwuson.X), per
// vertex and influence, in CPU time: the reference kernel (SkinVertices,
// the vertex-at-a-time loop over four weight slots) and the layout's
// kernels at every SIMD level the processor runs, beside a memory copy of
// the bytes one pass touches timed in the same benchmark.
//
// Counters (CPU time of the benchmark's thread, so other processes on the
// machine do not inflate them):
//   ns_per_vertex_influence       one pass / the influences it blends
//   copy_ns_per_vertex_influence  memcpy of the pass's bytes (layout read
//                                 plus positions and normals written, per
//                                 instance) / the same influences
//   ratio_to_copy                 the two divided: 1 is memory speed
// Run with --benchmark_repetitions=5 on a shared machine and read medians.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "default_crowd.h"
#include "khost/runtime/skin_kernels.h"
#include "khost/runtime/skinning.h"
#include "khost/scene/scene.h"

namespace {

using namespace khost;

using namespace khost_bench;

// The crowd posed at 0.7 s, every instance skinned each pass by `pass`.
template <class Pass>
void SkinCrowd(benchmark::State& state, Pass pass) {
  const auto model = DefaultCharacter();
  if (!model) {
    state.SkipWithError("needs the assimp-testmodels package (X/Testwuson.X)");
    return;
  }
  Scene scene(model, kInstances);
  double influences = 0.0;
  std::size_t passBytes = 0;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    Character& c = scene.GetCharacter(i);
    scene.Animate(c, 0.7, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    influences += static_cast<double>(c.Skinning->InfluenceCount());
    passBytes += c.Skinning->PassBytes();
  }
  // The copy's buffers are the pass's size each, apart from the crowd's.
  std::vector<char> from(passBytes, 1);
  std::vector<char> to(passBytes, 0);
  double skinNs = 0.0;
  double copyNs = 0.0;
  for (auto _ : state) {
    const double t0 = ThreadCpuNs();
    for (int i = 0; i < scene.GetCharacterCount(); ++i) pass(scene.GetCharacter(i));
    benchmark::ClobberMemory();
    const double t1 = ThreadCpuNs();
    state.PauseTiming();
    const double t2 = ThreadCpuNs();
    std::memcpy(to.data(), from.data(), passBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    copyNs += ThreadCpuNs() - t2;
    state.ResumeTiming();
    skinNs += t1 - t0;
  }
  const double passes =
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.counters["ns_per_vertex_influence"] = skinNs / (passes * influences);
  state.counters["copy_ns_per_vertex_influence"] = copyNs / (passes * influences);
  state.counters["ratio_to_copy"] = copyNs > 0.0 ? skinNs / copyNs : 0.0;
  state.counters["influences_per_vertex"] =
      influences / static_cast<double>(scene.GetCharacter(0).Skinning->DeformedCount() *
                                       static_cast<std::size_t>(scene.GetCharacterCount()));
  state.counters["bytes_per_vertex"] =
      static_cast<double>(passBytes) /
      static_cast<double>(scene.GetCharacter(0).Skinning->DeformedCount() *
                          static_cast<std::size_t>(scene.GetCharacterCount()));
}

// The reference kernel on the file's vertices as they were laid out before
// (four weight slots each).
void BM_SkinReference(benchmark::State& state) {
  const auto model = DefaultCharacter();
  SkinCrowd(state, [&](Character& c) {
    SkinVertices(c.Poses[0].Skin.data(), model->Vertices.data(), 0, model->Vertices.size(),
                 c.DeformedPositions.data(), c.DeformedNormals.data());
  });
}

void BM_SkinLayout(benchmark::State& state) {
  const SimdLevel level = static_cast<SimdLevel>(state.range(0));
  if (!SimdLevelSupported(level)) {
    state.SkipWithError("the processor lacks this level");
    return;
  }
  state.SetLabel(SimdLevelName(level));
  SkinCrowd(state, [&](Character& c) {
    SkinLayoutRange(*c.Skinning, c.Poses[0].Columns.data(), 0, c.Skinning->DeformedCount(),
                    c.DeformedPositions.data(), c.DeformedNormals.data(), level);
  });
}

BENCHMARK(BM_SkinReference);
BENCHMARK(BM_SkinLayout)
    ->Arg(static_cast<int>(SimdLevel::Baseline))
    ->Arg(static_cast<int>(SimdLevel::Avx2Fma));

}  // namespace

int main(int argc, char** argv) {
  DefaultCharacter();  // forks: before any thread
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
