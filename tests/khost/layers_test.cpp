// khost's folders are layers: each may include only itself and the folders
// its library uses (the table khost/CMakeLists.txt writes), and no chain of
// includes leads from a folder back to itself. The check reads every source
// under khost/ as it stands, so a new include that breaks either rule fails
// here, naming the file, the line and the cycle it closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One include of another folder's header.
struct FolderInclude {
  std::string From;   // the including folder
  std::string To;     // the included folder
  std::string Where;  // "khost/FOLDER/FILE:LINE"
};

using LayerTable = std::map<std::string, std::set<std::string>>;  // folder -> folders it uses

LayerTable ReadLayerTable(const fs::path& file) {
  LayerTable table;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::set<std::string>& uses = table[line.substr(0, colon)];
    std::istringstream words(line.substr(colon + 1));
    for (std::string used; words >> used;) uses.insert(used);
  }
  return table;
}

// Every include of "khost/OTHER/..." in the sources below `root`/khost.
std::vector<FolderInclude> ReadIncludes(const fs::path& root) {
  std::vector<FolderInclude> includes;
  const std::string marker = "#include \"khost/";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root / "khost")) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext != ".h" && ext != ".cpp" && ext != ".inc") continue;
    const fs::path relative = fs::relative(entry.path(), root / "khost");
    if (relative.begin() == relative.end() || std::next(relative.begin()) == relative.end())
      continue;  // a file at khost/'s top has no folder
    const std::string from = relative.begin()->string();
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      const std::size_t at = line.find(marker);
      if (at == std::string::npos) continue;
      const std::size_t begin = at + marker.size();
      const std::size_t slash = line.find('/', begin);
      if (slash == std::string::npos) continue;
      const std::string to = line.substr(begin, slash - begin);
      if (to == from) continue;
      includes.push_back(
          {from, to, "khost/" + relative.generic_string() + ":" + std::to_string(number)});
    }
  }
  return includes;
}

// A cycle among the folders' includes, as "a -> b -> ... -> a", or "".
std::string FindCycle(const std::vector<FolderInclude>& includes) {
  std::map<std::string, std::set<std::string>> edges;
  for (const FolderInclude& include : includes) edges[include.From].insert(include.To);
  std::map<std::string, int> state;  // 0 unseen, 1 on the path, 2 done
  std::vector<std::string> path;
  std::string cycle;
  const auto visit = [&](const auto& self, const std::string& folder) -> bool {
    state[folder] = 1;
    path.push_back(folder);
    for (const std::string& next : edges[folder]) {
      if (state[next] == 1) {
        auto start = std::find(path.begin(), path.end(), next);
        for (auto it = start; it != path.end(); ++it) cycle += *it + " -> ";
        cycle += next;
        return true;
      }
      if (state[next] == 0 && self(self, next)) return true;
    }
    path.pop_back();
    state[folder] = 2;
    return false;
  };
  for (const auto& [folder, unused] : edges) {
    if (state[folder] == 0 && visit(visit, folder)) return cycle;
  }
  return "";
}

// Every include the table does not allow, one line each, then the cycle.
std::string LayerProblems(const LayerTable& table, const std::vector<FolderInclude>& includes) {
  std::string problems;
  for (const FolderInclude& include : includes) {
    const auto layer = table.find(include.From);
    if (layer == table.end()) {
      problems += include.Where + ": folder " + include.From + " is no layer\n";
    } else if (layer->second.count(include.To) == 0) {
      problems += include.Where + ": " + include.From + " includes " + include.To +
                  ", which it does not use\n";
    }
  }
  if (const std::string cycle = FindCycle(includes); !cycle.empty()) {
    problems += "include cycle between folders: " + cycle + "\n";
  }
  return problems;
}

TEST(KhostLayers, EveryIncludeIsAllowedAndNoFolderIncludesItselfBack) {
  const LayerTable table = ReadLayerTable(KHOST_LAYERS_FILE);
  ASSERT_GE(table.size(), 10u) << "no layer table at " << KHOST_LAYERS_FILE;
  const std::vector<FolderInclude> includes = ReadIncludes(KP_SOURCE_DIR);
  ASSERT_FALSE(includes.empty());
  EXPECT_EQ(LayerProblems(table, includes), "");
  // The table itself has no cycle: a folder's library never links back to it.
  std::vector<FolderInclude> uses;
  for (const auto& [folder, used] : table) {
    for (const std::string& to : used) uses.push_back({folder, to, "khost/CMakeLists.txt"});
  }
  EXPECT_EQ(FindCycle(uses), "");
}

TEST(KhostLayers, AnIncludeThatClosesACycleIsNamed) {
  // The real table, and the real includes with one more: a base header
  // including the application's, which every layer sits below.
  const LayerTable table = ReadLayerTable(KHOST_LAYERS_FILE);
  std::vector<FolderInclude> includes = ReadIncludes(KP_SOURCE_DIR);
  includes.push_back({"base", "app", "khost/base/status.h:1"});
  const std::string problems = LayerProblems(table, includes);
  EXPECT_NE(problems.find("khost/base/status.h:1: base includes app, which it does not use"),
            std::string::npos)
      << problems;
  EXPECT_NE(problems.find("include cycle between folders: "), std::string::npos) << problems;
  EXPECT_NE(problems.find("app -> "), std::string::npos) << problems;
  EXPECT_NE(problems.find("base -> app"), std::string::npos) << problems;
}

}  // namespace
