// Whether "Tool Paint" is the tool's own work: khost runs headless on the
// shipped scene with the tool repainted every frame, once with its viewport
// and once without (--viewport 0x0), alternately, and the mean Tool Paint
// per repaint of the two runs is compared. The viewport's rasterisation is
// billed to Present, so the ratio with / without stays near 1 (a paint that
// waited for the viewport's drawing would make it several times larger).
//
// Counters per iteration (one pair of runs): paint_with_us and
// paint_without_us (mean Tool Paint per repaint), with_over_without (their
// ratio) and present_with_us (mean Present with the viewport).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 120;

struct Means {
  double Paint = 0.0;
  double Present = 0.0;
};

// Runs khost with `more` and returns the recording's means, skipping the
// first frames (start-up).
Means RunKhost(const std::vector<std::string>& more, const fs::path& record) {
  std::vector<std::string> args = {
      KHOST_EXE,      "--headless", "--frames",     std::to_string(kFrames),
      "--ui-rate",    "0",          "--config-dir", KHOST_SHIPPED_CONFIG,
      "--screenshot", "/dev/null",  "--record",     record.string()};
  args.insert(args.end(), more.begin(), more.end());
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
    execv(KHOST_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Means means;
  int paints = 0;
  int presents = 0;
  std::ifstream in(record);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    if (f.size() < 6 || std::stol(f[0]) < 10) continue;
    if (f[2] == "Tool Paint") {
      means.Paint += std::stod(f[4]);
      ++paints;
    } else if (f[2] == "Present") {
      means.Present += std::stod(f[4]);
      ++presents;
    }
  }
  if (paints > 0) means.Paint /= paints;
  if (presents > 0) means.Present /= presents;
  return means;
}

void BM_ToolPaintWithAndWithoutViewport(benchmark::State& state) {
  const fs::path folder =
      fs::temp_directory_path() / ("tool_paint_bench_" + std::to_string(getpid()));
  fs::create_directories(folder);
  double with = 0.0;
  double without = 0.0;
  double present = 0.0;
  for (auto _ : state) {
    const Means a = RunKhost({}, folder / "with.csv");
    const Means b = RunKhost({"--viewport", "0x0"}, folder / "without.csv");
    with += a.Paint;
    without += b.Paint;
    present += a.Present;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["paint_with_us"] = with / n;
  state.counters["paint_without_us"] = without / n;
  state.counters["with_over_without"] = without > 0.0 ? with / without : 0.0;
  state.counters["present_with_us"] = present / n;
  std::error_code ec;
  fs::remove_all(folder, ec);
}
BENCHMARK(BM_ToolPaintWithAndWithoutViewport)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
