// What the crowd benchmarks share: the default character (the crowd's model
// in the shipped configuration), imported once, and the thread's CPU clock
// they report in.
#pragma once

#include <filesystem>
#include <memory>
#include <utility>

#include "khost/base/stopwatch.h"
#include "khost/import/isolated_import.h"

namespace khost_bench {

inline const char* const kCharacter = "/usr/share/assimp/models/X/Testwuson.X";
inline constexpr int kInstances = 24;

// Imported once (the import forks: call it before the benchmarks start
// threads of their own); null without the assimp-testmodels package.
inline std::shared_ptr<const khost::Model> DefaultCharacter() {
  static const std::shared_ptr<const khost::Model> model =
      []() -> std::shared_ptr<const khost::Model> {
    if (!std::filesystem::exists(kCharacter)) return nullptr;
    khost::Result<khost::Model> m = khost::ImportIsolated(kCharacter);
    return m ? std::make_shared<const khost::Model>(std::move(*m)) : nullptr;
  }();
  return model;
}

// The calling thread's CPU time in nanoseconds.
inline double ThreadCpuNs() {
  return static_cast<double>(khost::ThreadCpuNanos());
}

}  // namespace khost_bench
