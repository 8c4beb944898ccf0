// CPU skinning of a whole crowd, per vertex and influence: the imported
// default character's crowd beside the procedural characters', in one run.
// The counter ns_per_vertex_influence is the wall time of one pass divided
// by the sum over vertices of their non-zero weights.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "khost/scene/isolated_import.h"
#include "khost/scene/scene.h"
#include "khost/scene/skinning.h"

namespace {

using namespace khost;

const char* const kCharacter = "/usr/share/assimp/models/X/Testwuson.X";

// Imported once, before the benchmarks start threads of their own.
std::shared_ptr<const Model> DefaultCharacter() {
  static const std::shared_ptr<const Model> model = []() -> std::shared_ptr<const Model> {
    if (!std::filesystem::exists(kCharacter)) return nullptr;
    Result<Model> m = ImportIsolated(kCharacter);
    return m ? std::make_shared<const Model>(std::move(*m)) : nullptr;
  }();
  return model;
}

void SkinCrowd(benchmark::State& state, Scene& scene) {
  double influences = 0.0;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    Character& c = scene.GetCharacter(i);
    scene.Animate(c, 0.7, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    for (const SkinVertex& v : c.Vertices())
      for (float w : v.Weights) influences += w > 0.0f ? 1.0 : 0.0;
  }
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (int i = 0; i < scene.GetCharacterCount(); ++i) {
      Character& c = scene.GetCharacter(i);
      const std::vector<SkinVertex>& vertices = c.Vertices();
      SkinVertices(c.Poses[0].Skin.data(), vertices.data(), 0, vertices.size(),
                   c.DeformedPositions.data(), c.DeformedNormals.data());
    }
    benchmark::ClobberMemory();
  }
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  const double passes =
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  state.counters["ns_per_vertex_influence"] = ns / (influences * passes);
  state.counters["vertices"] = static_cast<double>(scene.GetVertexCount());
  state.counters["influences_per_vertex"] =
      influences / static_cast<double>(std::max<std::size_t>(1, scene.GetVertexCount()));
}

void BM_SkinImportedCrowd(benchmark::State& state) {
  const auto model = DefaultCharacter();
  if (!model) {
    state.SkipWithError("needs the assimp-testmodels package (X/Testwuson.X)");
    return;
  }
  Scene scene(model, static_cast<int>(state.range(0)));
  SkinCrowd(state, scene);
}

void BM_SkinBuiltinCrowd(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)));
  SkinCrowd(state, scene);
}

BENCHMARK(BM_SkinImportedCrowd)->Arg(24);
BENCHMARK(BM_SkinBuiltinCrowd)->Arg(16);

}  // namespace

int main(int argc, char** argv) {
  DefaultCharacter();  // forks: before any thread
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
