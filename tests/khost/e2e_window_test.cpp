// End-to-end: the pictures khost writes and shows: the headless captures,
// the live window under Xvfb (and its display lost under a run), the
// viewport beside the tool and the tool's minimum size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "khost/base/stopwatch.h"
#include "khost/e2e_pictures.h"
#include "khost/e2e_support.h"
#include "khost/scene/scene.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

TEST(KhostHeadless, WithoutAScreenshotFlagWritesTheDefaultCapture) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult r = w.Run({"--frames", "2", "--config-dir", config.string()},
                            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::exists(w.Path("profiling-center.png")));
  EXPECT_NE(r.Out.find("profiling-center.png"), std::string::npos) << r.Out;
}

TEST(KhostHeadless, ManyScriptedActionsCostNoMoreMemoryThanOne) {
#if defined(__SANITIZE_THREAD__)
  // The race detector's shadow memory, not the heap, sets the peak there,
  // and 200 actions run for minutes under it.
  GTEST_SKIP() << "memory peaks are not the program's own under ThreadSanitizer";
#endif
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  std::vector<std::string> args = w.Headless(2, config);
  std::vector<std::string> one = args;
  one.insert(one.end(), {"--select", "Evaluation"});
  for (int i = 0; i < 100; ++i) {
    args.insert(args.end(), {"--select", i % 2 ? "Evaluation" : "Rendering", "--set",
                             "Buffer Size=" + std::to_string(30 + i)});
  }
  // AddressSanitizer keeps freed memory in quarantine, which would count
  // every allocation a run ever made; without it the peak is the live heap.
  std::map<std::string, std::string> env;
  if (const char* asan = std::getenv("ASAN_OPTIONS")) {
    env["ASAN_OPTIONS"] = std::string(asan) + ":quarantine_size_mb=0";
  }
  const RunResult single = w.Run(one, env);
  const RunResult many = w.Run(args, env);
  ASSERT_EQ(single.Status, 0) << single.Err;
  ASSERT_EQ(many.Status, 0) << many.Err;
  EXPECT_LT(many.PeakKb, single.PeakKb * 3 / 2)
      << "200 actions: " << many.PeakKb << " KiB, one: " << single.PeakKb << " KiB";
}

TEST(KhostHeadless, SizeFlagSetsTheCaptureSize) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path png = w.Path("small.png");
  const RunResult r = w.Run({"--headless", "--frames", "2", "--size", "900x400", "--config-dir",
                             config.string(), "--screenshot", png.string()});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const Image image = Load(png);
  EXPECT_EQ(image.Width, 900);
  EXPECT_EQ(image.Height, 400);
}

TEST(KhostLive, WindowUnderXvfbShowsTheSamePictureAsHeadless) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path live = w.Path("live.png");
  const fs::path headless = w.Path("headless.png");
  const RunResult a = w.Run({"--frames", "4", "--config-dir", config.string(), "--screenshot",
                             live.string(), "--select", "Devices"},
                            {{"DISPLAY", server.Display()}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_EQ(a.Status, 0) << a.Err;
  EXPECT_EQ(a.Err.find("headless"), std::string::npos) << "no window was opened: " << a.Err;
  const RunResult b = w.Run({"--headless", "--frames", "4", "--config-dir", config.string(),
                             "--screenshot", headless.string(), "--select", "Devices"});
  ASSERT_EQ(b.Status, 0) << b.Err;

  const Image x = Load(live);
  const Image y = Load(headless);
  ASSERT_EQ(x.Width, y.Width);
  ASSERT_EQ(x.Height, y.Height);
  // The same chart layout...
  EXPECT_EQ(SeparatorRows(x), SeparatorRows(y));
  ExpectSeparators(SeparatorRows(x), {90, 127, 147}, "live");
  // ...and the same left column of controls, pixel for pixel (nearly: the
  // numbers in the chart and header differ from run to run, the controls
  // do not).
  int differing = 0;
  int total = 0;
  for (int row = 0; row < x.Height; ++row) {
    for (int col = 0; col < kViewLeft - 6; ++col) {
      const unsigned char* p = x.At(col, row);
      const unsigned char* q = y.At(col, row);
      ++total;
      if (std::abs(p[0] - q[0]) > 8 || std::abs(p[1] - q[1]) > 8 || std::abs(p[2] - q[2]) > 8) {
        ++differing;
      }
    }
  }
  EXPECT_LT(differing, total / 200) << differing << " of " << total << " pixels differ";
}

// The X server ending under a live run ends it as a closed window does:
// every output finished from the frames measured so far, the display named.
TEST(KhostLive, LosingTheDisplayFinishesEveryOutputAndFails) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("r.csv");
  const fs::path trace = w.Path("t.json");
  const fs::path stats = w.Path("s.csv");
  const fs::path shot = w.Path("shot.png");
  const pid_t pid =
      w.Start({"--frames", "1000000", "--config-dir", config.string(), "--record", record.string(),
               "--trace", trace.string(), "--stats", stats.string(), "--screenshot", shot.string()},
              {{"DISPLAY", server.Display()}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_TRUE(WaitForGrowth(record, 4096));
  server.Stop();
  const RunResult r = w.Wait(pid, 30);
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("khost: the display " + server.Display() + " was lost"), std::string::npos)
      << r.Err;
  EXPECT_EQ(r.Err.find("headless"), std::string::npos) << "no window was opened: " << r.Err;
  // The trace is a whole document, the statistics are written.
  EXPECT_GT(nlohmann::json::parse(ReadAll(trace)).at("traceEvents").size(), 100u);
  EXPECT_EQ(ReadAll(stats).rfind("name,depth,", 0), 0u);
  // The recording ends with a whole frame: the same cycles as the one
  // before (but for Tool Paint, which only frames that repaint the tool
  // have).
  auto frames = RecordedFrames(ReadAll(record));
  ASSERT_GE(frames.size(), 2u);
  for (auto& frame : frames) std::erase(frame, "Tool Paint");
  EXPECT_EQ(frames.back(), frames[frames.size() - 2]);
  // The last frame's picture was never read: the screenshot is named as not
  // taken, and nothing is left at its path or beside it.
  EXPECT_NE(r.Err.find("--screenshot: "), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(shot));
  for (const std::string& name : FolderEntries(w.Path("."))) {
    EXPECT_EQ(name.rfind(".khost-", 0), std::string::npos) << name;
  }
}

// ---------------------------------------------------------------------------
// The viewport: left of the tool, 640 wide and the tool's 420 tall unless
// --viewport says otherwise.

constexpr int kViewportWidth = 640;
constexpr int kToolHeight = 420;

// The window pixels of the characters' chests (midway along the tube from
// the first to the second spine joint) that the scene's camera sees at
// frame `frame` of a headless run, projected as a viewport of
// width x height does; ones near the border are left out.
std::vector<std::pair<int, int>> VisibleChests(int characters, long long frame, int width,
                                               int height) {
  khost::Scene scene(characters);
  scene.SetCameraAspect(static_cast<float>(width) / static_cast<float>(height));
  const double seconds = static_cast<double>(frame) / khost::kFixedFrameRate;
  const khost::Camera& camera = scene.GetCamera();
  const khost::Vec3 f = khost::Normalize(camera.Forward);
  const khost::Vec3 s = khost::Normalize(khost::Cross(f, camera.Up));
  const khost::Vec3 u = khost::Cross(s, f);
  const float focal = 1.0f / std::tan(camera.VerticalFovRadians * 0.5f);
  std::vector<std::pair<int, int>> points;
  for (int i = 0; i < scene.GetCharacterCount(); ++i) {
    khost::Character& c = scene.GetCharacter(i);
    scene.Animate(c, seconds, 0);
    scene.SolveSkeleton(c, 0);
    scene.SolveConstraints(c, 0);
    const khost::Vec3 chest =
        (khost::GetTranslation(c.Poses[0].World[2]) + khost::GetTranslation(c.Poses[0].World[3])) *
        0.5f;
    const khost::Vec3 d = chest - camera.Position;
    const float z = khost::Dot(d, f);
    if (z <= camera.Near) continue;
    const float nx = khost::Dot(d, s) * focal / camera.Aspect / z;
    const float ny = khost::Dot(d, u) * focal / z;
    if (std::fabs(nx) > 0.95f || std::fabs(ny) > 0.95f) continue;
    points.emplace_back(static_cast<int>((nx + 1.0f) * 0.5f * static_cast<float>(width)),
                        static_cast<int>((1.0f - ny) * 0.5f * static_cast<float>(height)));
  }
  return points;
}

bool IsColour(const unsigned char* p, int r, int g, int b, int tolerance = 10) {
  return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
         std::abs(p[2] - b) <= tolerance;
}
// The viewport's sky, ground and grid line colours.
bool IsBackdrop(const unsigned char* p) {
  return IsColour(p, 158, 184, 219) || IsColour(p, 102, 115, 102) || IsColour(p, 71, 82, 71);
}

int DifferingViewportPixels(const Image& a, const Image& b) {
  int differing = 0;
  for (int y = 0; y < a.Height; ++y) {
    for (int x = 0; x < kViewportWidth; ++x) {
      if (std::memcmp(a.At(x, y), b.At(x, y), 3) != 0) ++differing;
    }
  }
  return differing;
}

TEST(KhostViewport, WindowShowsTheCharactersWhereTheCameraSeesThemBesideTheTool) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, "[Scene]\nCharacters = 12\n");
  const auto run = [&](int frames, const std::string& name) {
    const RunResult r =
        w.Run({"--headless", "--scene", "builtin", "--frames", std::to_string(frames),
               "--config-dir", config.string(), "--window-screenshot", w.Path(name).string(),
               "--screenshot", w.Path("tool-" + name).string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    return Load(w.Path(name));
  };
  const Image at30 = run(31, "a30.png");
  const Image again = run(31, "b30.png");
  const Image at90 = run(91, "a90.png");
  ASSERT_EQ(at30.Width, kViewportWidth + 800);
  ASSERT_EQ(at30.Height, kToolHeight);

  // Every chest in view is drawn where the camera puts it: some pixel of a
  // small patch around it is neither sky, ground nor grid.
  const auto chests = VisibleChests(12, 30, kViewportWidth, kToolHeight);
  ASSERT_GE(chests.size(), 2u);
  for (const auto& [cx, cy] : chests) {
    bool drawn = false;
    for (int y = cy - 2; y <= cy + 2; ++y) {
      for (int x = cx - 2; x <= cx + 2; ++x) drawn = drawn || !IsBackdrop(at30.At(x, y));
    }
    EXPECT_TRUE(drawn) << "no character at " << cx << "," << cy;
  }
  // Sky above, ground below the characters.
  EXPECT_TRUE(IsColour(at30.At(5, 5), 158, 184, 219));
  EXPECT_TRUE(IsBackdrop(at30.At(kViewportWidth / 2, kToolHeight - 3)));

  // The same flags draw the same pose; sixty frames later the characters
  // have moved.
  EXPECT_EQ(DifferingViewportPixels(at30, again), 0);
  EXPECT_GT(DifferingViewportPixels(at30, at90), kViewportWidth * kToolHeight / 100);

  // The tool's part of the window is the tool screenshot, pixel for pixel.
  const Image tool = Load(w.Path("tool-a30.png"));
  ASSERT_EQ(tool.Width, 800);
  ASSERT_EQ(tool.Height, kToolHeight);
  int differing = 0;
  for (int y = 0; y < tool.Height; ++y) {
    for (int x = 0; x < tool.Width; ++x) {
      if (std::memcmp(tool.At(x, y), at30.At(kViewportWidth + x, y), 4) != 0) ++differing;
    }
  }
  EXPECT_EQ(differing, 0);
}

TEST(KhostViewport, ViewportFlagSizesOrRemovesIt) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult tall =
      w.Run({"--headless", "--frames", "2", "--config-dir", config.string(), "--viewport",
             "300x500", "--window-screenshot", w.Path("tall.png").string()});
  ASSERT_EQ(tall.Status, 0) << tall.Err;
  const Image t = Load(w.Path("tall.png"));
  EXPECT_EQ(t.Width, 300 + 800);
  EXPECT_EQ(t.Height, 500);
  // Below the tool, the window's background.
  EXPECT_TRUE(IsGrey(t.At(300 + 400, 480), 64, 2));
  const RunResult none =
      w.Run({"--headless", "--frames", "2", "--config-dir", config.string(), "--viewport", "0x0",
             "--window-screenshot", w.Path("none.png").string()});
  ASSERT_EQ(none.Status, 0) << none.Err;
  const Image n = Load(w.Path("none.png"));
  EXPECT_EQ(n.Width, 800);
  EXPECT_EQ(n.Height, kToolHeight);
}

// A window manager would hold the window to its size limits; with none (as
// under a bare Xvfb) the surface itself grows a smaller window back.
TEST(KhostLive, TheToolsMinimumSizeHoldsLiveAndOnTheCommandLine) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  Xvfb server;
  if (server.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::map<std::string, std::string> live = {{"DISPLAY", server.Display()},
                                                   {"WAYLAND_DISPLAY", ""}};
  const RunResult small =
      w.Run({"--frames", "2", "--config-dir", config.string(), "--size", "500x300"}, live);
  EXPECT_EQ(small.Status, 2) << small.Err;
  const std::string said = "below the tool's minimum size ";
  const std::size_t at = small.Err.find(said);
  ASSERT_NE(at, std::string::npos) << small.Err;
  int minWidth = 0, minHeight = 0;
  ASSERT_EQ(std::sscanf(small.Err.c_str() + at + said.size(), "%dx%d", &minWidth, &minHeight), 2);
  EXPECT_GT(minWidth, 500);
  EXPECT_GT(minHeight, 300);
  // Exactly the minimum is a size khost opens.
  const std::string exact = std::to_string(minWidth) + "x" + std::to_string(minHeight);
  const RunResult fits =
      w.Run({"--frames", "2", "--config-dir", config.string(), "--size", exact}, live);
  EXPECT_EQ(fits.Status, 0) << fits.Err;

  // A live window with that minimum cannot be made smaller.
  setenv("DISPLAY", server.Display().c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  std::string error;
  {
    auto window = KSurface_CreateWindow(minWidth, minHeight, "minimum", &error);
    ASSERT_NE(window, nullptr) << error;
    window->SetMinimumSize(minWidth, minHeight);
    ASSERT_TRUE(window->Resize(minWidth - 200, minHeight - 100, &error)) << error;
    for (int i = 0; i < 50; ++i) {
      window->PollEvents(nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(window->Width(), minWidth);
    EXPECT_GE(window->Height(), minHeight);
  }
  unsetenv("DISPLAY");
}

}  // namespace
