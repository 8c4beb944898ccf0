// Stand-alone driver for the command-line fuzz target, for builds without a
// fuzzing engine: feeds it generated command lines (the real flags with
// good, bad, extreme and damaged values, and stray bytes), or the files
// named on the command line.
//
//   cli_fuzz [--runs N] [--seed S] [FILE...]
//
// N defaults to KP_FUZZ_RUNS or 3000; S to a fixed seed, so a run repeats.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string Pick(std::mt19937_64& random, const std::vector<std::string>& items) {
  return items[random() % items.size()];
}

std::string Number(std::mt19937_64& random) {
  static const std::vector<std::string> fixed = {
      "0",     "1",    "2",          "+5",         "-5",          "007",         "16384",
      "16385", "8192", "2147483647", "2147483648", "-2147483648", "99999999999", " 5",
      "5 ",    "0x10", "1e3",        "",           "\xd9\xa5",    "5\xc3\xa9"};
  if (random() % 3 == 0) return std::to_string(random() % 20000);
  return Pick(random, fixed);
}

std::string Text(std::mt19937_64& random) {
  static const std::vector<std::string> fixed = {"Buffer Size", "Reset To Default",
                                                 "Evaluation",  "a=b",
                                                 "=",           "==x",
                                                 "x=",          "",
                                                 "-",           "--headless",
                                                 "caf\xc3\xa9", "\xff\xfe",
                                                 " ",           "out.png",
                                                 "/dev/stdout"};
  switch (random() % 4) {
    case 0:
      return std::string(random() % 3 == 0 ? 100000 : 300, static_cast<char>('a' + random() % 26));
    case 1: {
      std::string bytes;
      const int count = static_cast<int>(random() % 12);
      for (int i = 0; i < count; ++i) bytes += static_cast<char>(1 + random() % 255);
      return bytes;
    }
    default:
      return Pick(random, fixed);
  }
}

std::string Value(std::mt19937_64& random, const std::string& flag) {
  if (flag == "--frames") return Number(random);
  if (flag == "--size") {
    const char* joins[] = {"x", "X", "*", "xx", ""};
    return Number(random) + joins[random() % 5] + Number(random);
  }
  if (flag == "--set" && random() % 2 == 0) return Text(random) + "=" + Text(random);
  return Text(random);
}

// NUL-separated arguments, as the target splits them.
std::string MakeInput(std::mt19937_64& random) {
  static const std::vector<std::string> flags = {
      "--help",       "-h",           "--headless", "--print-settings",
      "--module",     "--config-dir", "--size",     "--frames",
      "--screenshot", "--stats",      "--select",   "--click",
      "--set",        "--bogus",      "-",          "stray"};
  std::string input;
  const int count = static_cast<int>(random() % 12);
  for (int i = 0; i < count; ++i) {
    const std::string flag = Pick(random, flags);
    input += flag;
    // Most flags that take a value get one; some are left at the end.
    if (random() % 8 != 0) {
      input += '\0';
      input += Value(random, flag);
    }
    if (i + 1 < count) input += '\0';
  }
  if (random() % 6 == 0 && !input.empty()) input.resize(random() % input.size());
  return input;
}

bool ReadNumber(const char* text, unsigned long long& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return end && end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  const char* countText = std::getenv("KP_FUZZ_RUNS");
  unsigned long long runs = countText ? std::strtoull(countText, nullptr, 10) : 3000;
  unsigned long long seed = 20261208u;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--runs" || arg == "--seed") && i + 1 < argc) {
      unsigned long long value = 0;
      if (!ReadNumber(argv[++i], value)) {
        std::fprintf(stderr, "cli fuzz: %s takes a number\n", arg.c_str());
        return 2;
      }
      (arg == "--runs" ? runs : seed) = value;
    } else {
      files.push_back(arg);
    }
  }
  if (!files.empty()) {
    for (const std::string& name : files) {
      std::string data;
      if (std::FILE* in = std::fopen(name.c_str(), "rb")) {
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) data.append(buffer, got);
        std::fclose(in);
      }
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    return 0;
  }
  std::mt19937_64 random(seed);
  for (unsigned long long i = 0; i < runs; ++i) {
    const std::string input = MakeInput(random);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("cli fuzz: %llu generated command lines passed (seed %llu)\n", runs, seed);
  return 0;
}
