// Stand-alone driver for the configuration fuzz target, for builds without a
// fuzzing engine: feeds it generated inputs (INI-like text with damage mixed
// in), or the files named on the command line. Flags as libFuzzer's:
// -runs=N inputs (default 3000, or KP_FUZZ_RUNS), -seed=S of the generator
// (default 20240611): the same seed repeats a run, another explores further.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string Pick(std::mt19937& random, const std::vector<std::string>& items) {
  return items[random() % items.size()];
}

std::string MakeInput(std::mt19937& random) {
  static const std::vector<std::string> sections = {"Display", "benchmark", "Evaluation", "S",
                                                    "",        "  a  ",     "Fuzz",       "FUZZ"};
  static const std::vector<std::string> keys = {
      "EarlyFrustumCulling", "BufferSize", "Pipeline", "k", "a", "Value", " value ", "="};
  static const std::vector<std::string> values = {
      "Yes",    "\"Yes \"", "\"  32abc\"", "32abc",           "\"",         "\"\"", "\"a\"b\"", " ",
      "Serial", "-1",       "x=y",         "; not a comment", "caf\xc3\xa9"};
  std::string input = (random() % 6 == 0) ? "\xEF\xBB\xBF" : "";
  const int lines = static_cast<int>(random() % 24);
  for (int i = 0; i < lines; ++i) {
    switch (random() % 10) {
      case 0:
        input += "[" + Pick(random, sections) + "]";
        break;
      case 1:
        input += "[" + Pick(random, sections);
        break;  // unclosed
      case 2:
        input += "; comment";
        break;
      case 3: {  // raw bytes, NUL included
        const int count = static_cast<int>(random() % 16);
        for (int b = 0; b < count; ++b) input += static_cast<char>(random() % 256);
        break;
      }
      case 4:
        input += std::string(random() % 3 == 0 ? 70000 : 300, 'x');
        break;
      default:
        input += Pick(random, keys) + " = " + Pick(random, values);
        break;
    }
    input += (random() % 8 == 0) ? "\r\n" : "\n";
  }
  if (random() % 4 == 0 && !input.empty()) input.resize(random() % input.size());
  return input;
}

bool Flag(const char* arg, const char* name, unsigned long long* value) {
  const size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0) return false;
  char* end = nullptr;
  *value = std::strtoull(arg + length, &end, 10);
  if (end == arg + length || *end != '\0') {
    std::fprintf(stderr, "config fuzz: bad value in '%s'\n", arg);
    std::exit(2);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* countText = std::getenv("KP_FUZZ_RUNS");
  unsigned long long runs = countText ? std::strtoull(countText, nullptr, 10) : 3000;
  unsigned long long seed = 20240611u;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (Flag(argv[i], "-runs=", &runs) || Flag(argv[i], "-seed=", &seed)) continue;
    if (argv[i][0] == '-') {
      std::fprintf(stderr, "config fuzz: unknown flag '%s' (-runs=N, -seed=S)\n", argv[i]);
      return 2;
    }
    files.push_back(argv[i]);
  }
  if (!files.empty()) {
    for (const char* path : files) {
      std::string data;
      if (std::FILE* in = std::fopen(path, "rb")) {
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) data.append(buffer, got);
        std::fclose(in);
      }
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    return 0;
  }
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed ^ (seed >> 32)));
  for (unsigned long long i = 0; i < runs; ++i) {
    const std::string input = MakeInput(random);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("config fuzz: %llu generated inputs passed (seed %llu)\n", runs, seed);
  return 0;
}
