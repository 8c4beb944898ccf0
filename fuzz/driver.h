// The stand-alone fuzz driver, for builds without a fuzzing engine. Every
// target's driver takes the flags libFuzzer takes for the same purposes:
//   -runs=N      inputs to run
//   -seed=S      seed of the input generator; the same seed repeats a run
//   -max_len=L   longest generated input in bytes (default 4096)
// and replays the files named on the command line instead, when there are
// any. A bad flag exits 2, an unreadable file 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace kp_fuzz {

// Makes one input of at most maxLength bytes (a guide: structured
// generators may go past it to reach a target's size limits).
using Generator = std::string (*)(std::mt19937_64& random, std::size_t maxLength);

struct DriverDefaults {
  const char* Name;  // in messages: "<name> fuzz: ..."
  unsigned long long Runs;
  unsigned long long Seed;
};

namespace detail {

inline bool Flag(const char* driver, const char* arg, const char* name, unsigned long long* value) {
  const size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0) return false;
  char* end = nullptr;
  *value = std::strtoull(arg + length, &end, 10);
  if (end == arg + length || *end != '\0') {
    std::fprintf(stderr, "%s fuzz: bad value in '%s'\n", driver, arg);
    std::exit(2);
  }
  return true;
}

inline bool ReadFile(const char* path, std::string& data) {
  std::FILE* in = std::fopen(path, "rb");
  if (!in) return false;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) data.append(buffer, got);
  const bool ok = std::ferror(in) == 0;
  std::fclose(in);
  return ok;
}

}  // namespace detail

// Runs the target on the named files, or on defaults.Runs generated inputs
// (KP_FUZZ_RUNS in the environment overrides that default).
inline int RunDriver(int argc, char** argv, const DriverDefaults& defaults, Generator generate) {
  unsigned long long runs = defaults.Runs;
  if (const char* text = std::getenv("KP_FUZZ_RUNS")) runs = std::strtoull(text, nullptr, 10);
  unsigned long long seed = defaults.Seed;
  unsigned long long maxLength = 4096;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (detail::Flag(defaults.Name, argv[i], "-runs=", &runs) ||
        detail::Flag(defaults.Name, argv[i], "-seed=", &seed) ||
        detail::Flag(defaults.Name, argv[i], "-max_len=", &maxLength)) {
      continue;
    }
    if (argv[i][0] == '-') {
      std::fprintf(stderr, "%s fuzz: unknown flag '%s' (-runs=N, -seed=S, -max_len=L)\n",
                   defaults.Name, argv[i]);
      return 2;
    }
    files.push_back(argv[i]);
  }
  if (!files.empty()) {
    for (const char* path : files) {
      std::string data;
      if (!detail::ReadFile(path, data)) {
        std::fprintf(stderr, "%s fuzz: cannot read '%s'\n", defaults.Name, path);
        return 1;
      }
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    std::printf("%s fuzz: %zu files passed\n", defaults.Name, files.size());
    return 0;
  }
  std::mt19937_64 random(seed);
  for (unsigned long long run = 0; run < runs; ++run) {
    const std::string input = generate(random, static_cast<std::size_t>(maxLength));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("%s fuzz: %llu generated inputs passed (seed %llu)\n", defaults.Name, runs, seed);
  return 0;
}

}  // namespace kp_fuzz
