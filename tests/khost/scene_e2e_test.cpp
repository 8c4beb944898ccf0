// khost run on real scene files: the default character drawn by CPU and GPU
// skinning, the crowd sized by the node count, and the malformed files of
// the test-model package, none of which may take khost down.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "khost/e2e_pictures.h"
#include "ksurface.h"

namespace {

namespace fs = std::filesystem;

const std::string kModels = "/usr/share/assimp/models/";
const std::string kCharacter = kModels + "X/Testwuson.X";

#define REQUIRE_MODELS()       \
  if (!fs::exists(kCharacter)) \
  GTEST_SKIP() << "needs the assimp-testmodels package (" << kCharacter << " is missing)"

struct KhostRun {
  int Status = -1;  // 128 + signal when a signal ended it
  bool TimedOut = false;
  std::string Err;
  std::string Out;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Folder {
 public:
  Folder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    mRoot = fs::temp_directory_path() /
            ("khost_scene_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(mRoot);
    fs::create_directories(mRoot);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(mRoot, ec);
  }
  fs::path Path(const std::string& name) const { return mRoot / name; }
  fs::path Config(const std::string& application) {
    const fs::path dir = mRoot / ("config" + std::to_string(mConfigs++));
    fs::create_directories(dir);
    std::ofstream(dir / "Application.txt") << application;
    std::ofstream(dir / "Task.txt") << "";
    return dir;
  }

  // khost with `args`, in this folder, killed after `seconds`. `tag` names
  // its output files (runs may go in parallel).
  KhostRun Khost(const std::vector<std::string>& args, const std::string& tag,
                 int seconds = 60) const {
    KhostRun result;
    const fs::path out = Path(tag + ".out");
    const fs::path err = Path(tag + ".err");
    std::vector<std::string> all = {KHOST_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      if (chdir(mRoot.c_str()) != 0) _exit(126);
      unsetenv("KHOST_CONFIG_DIR");
      execv(KHOST_EXE, argv.data());
      _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        result.TimedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadAll(out);
    result.Err = ReadAll(err);
    return result;
  }

 private:
  fs::path mRoot;
  int mConfigs = 0;
};

using khost_e2e::Image;
using khost_e2e::Load;

// The share of the viewport's pixels (the window's left `width` columns)
// where the two pictures differ by more than `tolerance` in a channel.
double Differing(const Image& a, const Image& b, int width, int tolerance) {
  if (a.Width != b.Width || a.Height != b.Height || a.Rgba.empty()) return 1.0;
  long differing = 0;
  for (int y = 0; y < a.Height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * a.Width + x) * 4;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(a.Rgba[i + c] - b.Rgba[i + c]) > tolerance) {
          ++differing;
          break;
        }
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(width) * a.Height);
}

constexpr int kViewport = 640;

std::string Application(bool gpu, int instances, int depth = 0) {
  return "[Display]\nUseGPUSkinDeform = " + std::string(gpu ? "Yes" : "No") +
         "\n[Benchmark]\nEvaluationDepth = " + std::to_string(depth) +
         "\n[Scene]\nFile = " + kCharacter + "\nInstances = " + std::to_string(instances) + "\n";
}

TEST(KhostScene, TheDefaultCharacterAnimatesAndCpuAndGpuSkinningDrawItAlike) {
  REQUIRE_MODELS();
  Folder f;
  const fs::path cpu = f.Config(Application(false, 6));
  const fs::path gpu = f.Config(Application(true, 6));
  const auto picture = [&](const fs::path& config, int frames, const std::string& name) {
    const KhostRun r =
        f.Khost({"--headless", "--config-dir", config.string(), "--frames", std::to_string(frames),
                 "--window-screenshot", f.Path(name).string()},
                name);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return Load(f.Path(name));
  };
  const Image cpu30 = picture(cpu, 31, "cpu30.png");
  const Image gpu30 = picture(gpu, 31, "gpu30.png");
  const Image cpu90 = picture(cpu, 91, "cpu90.png");
  ASSERT_GE(cpu30.Width, kViewport);
  // The same picture but for rounding at the edges of triangles.
  // (They measure alike to the pixel here.)
  EXPECT_LT(Differing(cpu30, gpu30, kViewport, 24), 0.001);
  // The crowd moves: a second later the legs and headings have changed
  // (close to 1 % of the view, which the six characters fill a tenth of).
  EXPECT_GT(Differing(cpu30, cpu90, kViewport, 24), 0.003);
  // And there is a crowd to see: much of the view is neither sky nor ground
  // colour... at least some of it is the characters' grey.
  long character = 0;
  for (std::size_t i = 0; i < cpu30.Rgba.size(); i += 4) {
    const int r = cpu30.Rgba[i], g = cpu30.Rgba[i + 1], b = cpu30.Rgba[i + 2];
    if (std::abs(r - g) < 6 && std::abs(g - b) < 6 && r > 20 && r < 150) ++character;
  }
  EXPECT_GT(character, 2000);
}

// The "Character N" rows of a --stats file.
int CharacterRows(const std::string& csv) {
  int rows = 0;
  std::istringstream in(csv);
  for (std::string line; std::getline(in, line);) rows += line.rfind("Character ", 0) == 0;
  return rows;
}

// A model of more rigid meshes than the bone block holds bones (1400, each
// a triangle on its own node): the rigid meshes are placed by their nodes'
// matrices, not by bones, so GPU skinning draws it as the CPU does and
// nothing is refused whichever way it is skinned.
TEST(KhostScene, ManyRigidMeshesNeedNoBonesAndDrawAlikeOnCpuAndGpu) {
  Folder f;
  constexpr int kNodes = 1400;
  const float triangle[9] = {0, 0, 0, 0.05f, 0, 0, 0, 0.05f, 0};
  std::ofstream(f.Path("triangle.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(triangle), sizeof triangle);
  std::string nodes;
  std::string roots;
  for (int i = 0; i < kNodes; ++i) {
    nodes += std::string(i ? "," : "") + "{\"mesh\":0,\"translation\":[" +
             std::to_string((i % 40) * 0.05) + "," + std::to_string((i / 40) * 0.05) + ",0]}";
    roots += std::string(i ? "," : "") + std::to_string(i);
  }
  std::ofstream(f.Path("many.gltf"))
      << "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[" << roots
      << "]}],\"nodes\":[" << nodes
      << "],\"materials\":[{\"doubleSided\":true}],\"meshes\":[{\"primitives\":[{"
         "\"attributes\":{\"POSITION\":0},\"material\":0}]}],\"buffers\":[{\"byteLength\":36,"
         "\"uri\":\"triangle.bin\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":36}],"
         "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":"
         "\"VEC3\",\"min\":[0,0,0],\"max\":[0.05,0.05,0]}]}";
  const auto picture = [&](bool gpu) {
    const std::string name = gpu ? "gpu.png" : "cpu.png";
    const fs::path config =
        f.Config("[Display]\nUseGPUSkinDeform = " + std::string(gpu ? "Yes" : "No") +
                 "\n[Scene]\nInstances = 2\n");
    const KhostRun r = f.Khost(
        {"--headless", "--config-dir", config.string(), "--scene", f.Path("many.gltf").string(),
         "--frames", "3", "--window-screenshot", f.Path(name).string()},
        name);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return Load(f.Path(name));
  };
  const Image cpu = picture(false);
  const Image gpu = picture(true);
  ASSERT_GE(cpu.Width, kViewport);
  EXPECT_LT(Differing(cpu, gpu, kViewport, 24), 0.001);
  // The triangles are there: the default material's light grey covers a
  // good part of the view.
  long drawn = 0;
  for (std::size_t i = 0; i < cpu.Rgba.size(); i += 4) {
    const int r = cpu.Rgba[i], g = cpu.Rgba[i + 1], b = cpu.Rgba[i + 2];
    if (std::abs(r - g) < 6 && std::abs(g - b) < 6 && r > 150) ++drawn;
  }
  EXPECT_GT(drawn, 2000);
}

TEST(KhostScene, NodeCountSetsTheCrowdInWholeInstances) {
  REQUIRE_MODELS();
  Folder f;
  const fs::path config = f.Config(Application(false, 2, 1));
  const auto run = [&](const std::vector<std::string>& more, int& nodes, int& characters) {
    std::vector<std::string> args = {
        "--headless", "--config-dir", config.string(),    "--frames", "3",
        "--select",   "Evaluation",   "--print-settings", "--stats",  f.Path("stats.csv").string()};
    args.insert(args.end(), more.begin(), more.end());
    const KhostRun r = f.Khost(args, "nodes");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::size_t at = r.Out.find("NodeCount=");
    ASSERT_NE(at, std::string::npos) << r.Out;
    nodes = std::atoi(r.Out.c_str() + at + 10);
    characters = CharacterRows(ReadAll(f.Path("stats.csv")));
  };
  int nodes = 0;
  int characters = 0;
  run({}, nodes, characters);
  EXPECT_EQ(characters, 2);
  ASSERT_GT(nodes, 0);
  ASSERT_EQ(nodes % 2, 0);
  const int per = nodes / 2;
  // Up: the fewest instances reaching the count; down: the most within it.
  run({"--set", "Node Count=" + std::to_string(4 * per + 1)}, nodes, characters);
  EXPECT_EQ(nodes, 5 * per);
  EXPECT_EQ(characters, 5);
  run({"--set", "Node Count=" + std::to_string(2 * per - 1)}, nodes, characters);
  EXPECT_EQ(nodes, per);
  EXPECT_EQ(characters, 1);
}

// A model of 10,001 nodes, one of them a triangle: 24 instances would be
// more nodes than "Node Count" holds, so the crowd is cut to the 9 it can
// show, and says so; an edit to the editor's maximum stays within it.
TEST(KhostScene, ACrowdCutByTheNodeCountsMaximumSaysSo) {
  Folder f;
  const fs::path model = f.Path("many.gltf");
  {
    std::ofstream out(model);
    out << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
        << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
        << R"("buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,)"
        << R"(AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],)"
        << R"("bufferViews":[{"buffer":0,"byteLength":36}],)"
        << R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
        << R"("min":[0,0,0],"max":[1,1,0]}],)"
        << R"("nodes":[{"name":"root","mesh":0,"children":[)";
    for (int i = 1; i <= 10000; ++i) out << (i > 1 ? "," : "") << i;
    out << "]}";
    for (int i = 1; i <= 10000; ++i) out << R"(,{"name":"n)" << i << R"(","translation":[0,1,0]})";
    out << "]}";
  }
  for (const std::string& edit : {std::string(), std::string("Node Count=100000")}) {
    std::vector<std::string> args = {"--headless", "--scene", model.string(),
                                     "--frames",   "3",       "--print-settings"};
    if (!edit.empty()) args.insert(args.end(), {"--set", edit});
    const fs::path config = f.Config("[Scene]\nFile = builtin\nInstances = 24\n");
    args.insert(args.end(), {"--config-dir", config.string()});
    const KhostRun r = f.Khost(args, "cut");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::size_t at = r.Out.find("NodeCount=");
    ASSERT_NE(at, std::string::npos) << r.Out;
    const int nodes = std::atoi(r.Out.c_str() + at + 10);
    EXPECT_EQ(nodes, 9 * 10001);
    EXPECT_NE(r.Err.find("the crowd is cut to 9 instances (" + std::to_string(nodes) +
                         " nodes) where 24 were asked for: \"Node Count\" holds at most 100000 "
                         "nodes"),
              std::string::npos)
        << r.Err;
  }
}

TEST(KhostScene, UnusableScenesAreRefusedBeforeAnyOutputIsWritten) {
  Folder f;
  const fs::path config = f.Config(Application(false, 2));
  const fs::path png = f.Path("never.png");
  const auto refused = [&](const std::string& scene, int status, const std::string& named) {
    const KhostRun r = f.Khost({"--headless", "--config-dir", config.string(), "--frames", "2",
                                "--screenshot", png.string(), "--scene", scene},
                               "refused");
    EXPECT_EQ(r.Status, status) << scene << ": " << r.Err;
    EXPECT_NE(r.Err.find(named), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(png)) << scene;
  };
  refused(f.Path("missing.gltf").string(), 2, "missing.gltf");
  refused(f.Path("").string(), 2, "folder");
  const fs::path locked = f.Path("locked.gltf");
  std::ofstream(locked) << "{}";
  fs::permissions(locked, fs::perms::none);
  if (access(locked.c_str(), R_OK) != 0) refused(locked.string(), 1, "locked.gltf");
  const fs::path text = f.Path("notes.txt");
  std::ofstream(text) << "not a scene\n";
  refused(text.string(), 1, "notes.txt");

  // A configured default that is missing: said on stderr, and the
  // procedural characters run.
  const fs::path gone = f.Config("[Scene]\nFile = " + f.Path("gone.X").string() + "\n");
  const KhostRun r = f.Khost({"--headless", "--config-dir", gone.string(), "--frames", "2",
                              "--screenshot", png.string(), "--print-settings"},
                             "gone");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("gone.X"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("built-in"), std::string::npos) << r.Err;
}

// The package's malformed, empty and unusual files (the ones its own
// library tests read). Each run ends by itself with 0, 1 or 2, and says why
// when not 0.
TEST(KhostScene, MalformedAndUnusualFilesNeverTakeKhostDown) {
  REQUIRE_MODELS();
  std::vector<std::string> files;
  for (const char* folder :
       {"invalid", "glTF2/wrongTypes", "glTF2/RecursiveNodes", "glTF2/IndexOutOfRange",
        "glTF2/BoxWithInfinites-glTF-Binary", "glTF2/MissingBin", "glTF2/IncorrectVertexArrays",
        "glTF2/SchemaFailures", "glTF2/TestNoRootNode", "glTF2/issue_3269",
        "glTF2/BoxBadNormals-glTF-Binary"}) {
    if (!fs::is_directory(kModels + folder)) continue;
    for (const auto& entry : fs::directory_iterator(kModels + folder)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && ext != ".txt" && ext != ".bin" && ext != ".png")
        files.push_back(entry.path().string());
    }
  }
  for (const char* file : {"OFF/invalid.off", "Collada/cube_emptyTags.dae",
                           "STL/triangle_with_empty_solid.stl", "BVH/01_01.bvh"}) {
    if (fs::exists(kModels + file)) files.push_back(kModels + file);
  }
  ASSERT_GE(files.size(), 20u);
  Folder f;
  const fs::path config = f.Config(Application(false, 2));
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  std::vector<std::string> problems;
  const auto worker = [&](int id) {
    for (std::size_t i; (i = next++) < files.size();) {
      const std::string tag = "sweep" + std::to_string(id);
      // The import's own limit is 20 s; the run as a whole gets 45.
      const KhostRun r =
          f.Khost({"--headless", "--config-dir", config.string(), "--frames", "2", "--viewport",
                   "64x48", "--screenshot", f.Path(tag + ".png").string(), "--scene", files[i]},
                  tag, 45);
      std::string problem;
      if (r.TimedOut) {
        problem = "ran past 45 s";
      } else if (r.Status < 0 || r.Status > 2) {
        problem = "ended with " + std::to_string(r.Status);
      } else if (r.Status != 0 && r.Err.find("khost: ") == std::string::npos) {
        problem = "failed without a message";
      }
      if (!problem.empty()) {
        std::lock_guard<std::mutex> guard(lock);
        problems.push_back(files[i] + ": " + problem + "\n" + r.Err);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) threads.emplace_back(worker, t);
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

}  // namespace
