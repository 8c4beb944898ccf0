// Stand-alone driver for fuzz targets, for builds without a fuzzing engine.
// It takes the flags libFuzzer takes for the same purposes:
//   -runs=N      inputs to run (default 2000)
//   -seed=S      seed of the input generator (default 1); a run is repeatable
//   -max_len=L   longest input in bytes (default 4096)
// and runs the files named on the command line instead, when there are any.
// Inputs are random bytes: each target decodes its structure from them.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Flag(const char* arg, const char* name, unsigned long long* value) {
  const size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0) return false;
  char* end = nullptr;
  *value = std::strtoull(arg + length, &end, 10);
  if (end == arg + length || *end != '\0') {
    std::fprintf(stderr, "fuzz driver: bad value in '%s'\n", arg);
    std::exit(2);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long runs = 2000;
  unsigned long long seed = 1;
  unsigned long long maxLength = 4096;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (Flag(argv[i], "-runs=", &runs) || Flag(argv[i], "-seed=", &seed) ||
        Flag(argv[i], "-max_len=", &maxLength)) {
      continue;
    }
    if (argv[i][0] == '-') {
      std::fprintf(stderr, "fuzz driver: unknown flag '%s' (-runs=N, -seed=S, -max_len=L)\n",
                   argv[i]);
      return 2;
    }
    files.push_back(argv[i]);
  }
  if (!files.empty()) {
    for (const char* path : files) {
      std::string data;
      std::FILE* in = std::fopen(path, "rb");
      if (!in) {
        std::fprintf(stderr, "fuzz driver: cannot read '%s'\n", path);
        return 1;
      }
      char buffer[65536];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) data.append(buffer, got);
      std::fclose(in);
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    std::printf("%zu files passed\n", files.size());
    return 0;
  }
  std::mt19937_64 random(seed);
  std::vector<uint8_t> input;
  for (unsigned long long run = 0; run < runs; ++run) {
    // Short inputs often, long ones now and then.
    const unsigned long long bound = (random() % 4 == 0) ? maxLength : maxLength / 16 + 1;
    input.resize(static_cast<size_t>(random() % (bound + 1)));
    for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%llu generated inputs passed (seed %llu)\n", runs, seed);
  return 0;
}
