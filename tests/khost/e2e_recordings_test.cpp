// Two recordings compared (--compare-recordings): runs of the same settings
// are not told apart, a real slowdown is called and stops a script, and a
// file that is not a whole recording is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/e2e_support.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

// The table's line for `cycle`, or empty.
std::string RowOf(const std::string& table, const std::string& cycle) {
  std::size_t at = 0;
  while ((at = table.find("\n" + cycle + " ", at)) != std::string::npos) {
    const std::size_t end = table.find('\n', at + 1);
    return table.substr(at + 1, end - at - 1);
  }
  return "";
}

// Headless runs of the procedural scene: two with the same settings, run at
// once so that the machine's load falls on both alike, then one with
// frustum culling off, which deforms every character instead of those in
// view.
TEST(KhostRecordings, SameSettingsAreNotToldApartAndCullingOffIsCalledSlower) {
  Workspace w;
  const auto record = [&](const std::string& name, std::vector<std::string> more) {
    more.insert(more.end(), {"--scene", "builtin", "--record", w.Path(name).string(),
                             "--screenshot", w.Path(name + ".png").string()});
    return w.Start(w.Headless(150, KHOST_SHIPPED_CONFIG, more));
  };
  // Each pair runs side by side, so that both of a pair share the machine's
  // load alike (a run alone beside one of a pair would look faster).
  const auto pair = [&](const std::string& x, const std::string& y,
                        const std::vector<std::string>& yMore) {
    const pid_t first = record(x, {});
    const pid_t second = record(y, yMore);
    for (const pid_t pid : {first, second}) ASSERT_EQ(w.Wait(pid, 180).Status, 0);
  };
  pair("a.csv", "b.csv", {});
  pair("d.csv", "c.csv", {"--set", "Frustum Culling=0"});

  const std::string a = w.Path("a.csv").string();
  const std::string b = w.Path("b.csv").string();
  const std::string c = w.Path("c.csv").string();
  const std::string d = w.Path("d.csv").string();
  const RunResult same = w.Run({"--compare-recordings", a, b, "--fail-if-slower", "10"});
  ASSERT_EQ(same.Status, 0) << same.Err;
  EXPECT_NE(same.Out.find("Comparison of recordings: before = " + a + ", after = " + b),
            std::string::npos)
      << same.Out;
  for (const char* cycle : {"Frame", "Devices", "Deformation", "Upload", "Rendering"}) {
    const std::string row = RowOf(same.Out, cycle);
    EXPECT_NE(row.find("no clear difference"), std::string::npos) << cycle << "\n" << same.Out;
  }
  EXPECT_EQ(same.Out.find(" slower\n"), std::string::npos) << same.Out;
  EXPECT_EQ(same.Out.find(" faster\n"), std::string::npos) << same.Out;

  const fs::path csv = w.Path("table.csv");
  const fs::path html = w.Path("report.html");
  const RunResult slower =
      w.Run({"--compare-recordings", d, c, "--fail-if-slower", "10", "--compare-csv", csv.string(),
             "--compare-depth", "1", "--report", html.string()});
  ASSERT_EQ(slower.Status, khost::ExitCode(khost::ExitStatus::kSlower)) << slower.Err;
  EXPECT_NE(RowOf(slower.Out, "Deformation").find(" slower"), std::string::npos) << slower.Out;
  EXPECT_NE(slower.Err.find("--fail-if-slower: slower than 1.10 times"), std::string::npos)
      << slower.Err;
  EXPECT_NE(slower.Err.find("\n  Deformation: ratio "), std::string::npos) << slower.Err;
  // The table's CSV is written before the gate fails the run, children
  // (depth 1) included.
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0].front(), "cycle");
  EXPECT_EQ(rows[0].back(), "verdict");
  bool deformation = false;
  bool child = false;
  for (const std::vector<std::string>& row : rows) {
    ASSERT_EQ(row.size(), rows[0].size());
    if (row[0] == "Deformation") deformation = row.back() == "slower";
    if (row[1] == "1") child = true;
  }
  EXPECT_TRUE(deformation);
  EXPECT_TRUE(child);
  // The report draws both recordings, one stretch each, and the ratios.
  const std::string page = ReadAll(html);
  EXPECT_NE(page.find("Comparison of recordings: before = "), std::string::npos);
  EXPECT_NE(page.find("after: " + c), std::string::npos);
  EXPECT_NE(page.find("Deformation"), std::string::npos);
  EXPECT_NE(page.find("slower"), std::string::npos);
}

// A recording cut off mid-line (a run killed while writing), another file's
// CSV and a file that is not there are refused with exit status 2, naming
// the file and the line, before the table's file is opened; so is a flag
// that would run a scene.
TEST(KhostRecordings, AFileThatIsNotAWholeRecordingIsRefusedNamingItsLine) {
  Workspace w;
  const std::string header = "frame,time_ms,cycle,depth,duration_us,cpu_us\n";
  const std::string good = header + "0,0.000,Frame,0,10.000,9.000\n0,0.000,Input,0,1.000,\n" +
                           "1,16.000,Frame,0,11.000,9.500\n1,16.000,Input,0,1.000,\n";
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(w.Path(name), std::ios::binary) << text;
    return w.Path(name).string();
  };
  const std::string whole = write("whole.csv", good);
  const fs::path csv = w.Path("table.csv");
  struct Case {
    std::string File;
    std::string Named;
  };
  const std::vector<Case> cases = {
      {write("cut.csv", good + "2,32.000,Fra"), "'" + w.Path("cut.csv").string() + "', line 6"},
      {write("foreign.csv", "name,depth,average\nFrame,0,1.0\n"),
       "'" + w.Path("foreign.csv").string() + "', line 1: not a recording"},
      {write("bad.csv", good + "2,32.000,Frame,0,fast,\n"), "line 6: malformed duration_us 'fast'"},
      {w.Path("missing.csv").string(), "missing.csv"},
  };
  for (const Case& c : cases) {
    for (const bool first : {true, false}) {
      const RunResult r = w.Run({"--compare-recordings", first ? c.File : whole,
                                 first ? whole : c.File, "--compare-csv", csv.string()});
      EXPECT_EQ(r.Status, 2) << c.File << "\n" << r.Err;
      EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
      EXPECT_TRUE(r.Out.empty()) << r.Out;
      EXPECT_FALSE(fs::exists(csv)) << c.File;
    }
  }
  // A flag that runs a scene has no place in the comparison of two files.
  const RunResult scene = w.Run({"--compare-recordings", whole, whole, "--frames", "10"});
  EXPECT_EQ(scene.Status, 2);
  EXPECT_NE(scene.Err.find("--frames cannot be given with --compare-recordings"), std::string::npos)
      << scene.Err;
  // A table would replace the recording it reads.
  const RunResult over = w.Run({"--compare-recordings", whole, whole, "--compare-csv", whole});
  EXPECT_EQ(over.Status, 2) << over.Err;
  EXPECT_EQ(ReadAll(whole), good);
}

}  // namespace
