// The HTML report (--report) end to end: the built khost writes it after a
// recorded run and after a comparison, headless Chromium draws it from the
// file (no network) and the screenshot is looked at where each chart is:
// the frame period's line above the histogram's bars above the forest
// plot's intervals, the comparison's A and B blocks shaded. The page's
// text is checked too: what came from outside escaped, nothing fetched, the
// comparison's ratios those of its CSV table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "khost/e2e_pictures.h"
#include "khost/e2e_support.h"
#include "khost/outputs/report_charts.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

struct Rgb {
  int R = 0;
  int G = 0;
  int B = 0;
};

Rgb Colour(const char* hex) {
  const long value = std::strtol(hex + 1, nullptr, 16);
  return {static_cast<int>((value >> 16) & 0xff), static_cast<int>((value >> 8) & 0xff),
          static_cast<int>(value & 0xff)};
}

// Where a colour is drawn in the screenshot: how many pixels, and the rows
// of the first and last.
struct Found {
  long Pixels = 0;
  int First = -1;
  int Last = -1;
};

Found Find(const Image& image, const char* hex) {
  const Rgb c = Colour(hex);
  Found found;
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) {
      const unsigned char* p = image.At(x, y);
      // Close to exact: antialiased edges blend into other colours, but a
      // stroke's or a fill's inside is drawn as given.
      if (std::abs(p[0] - c.R) <= 2 && std::abs(p[1] - c.G) <= 2 && std::abs(p[2] - c.B) <= 2) {
        ++found.Pixels;
        if (found.First < 0) found.First = y;
        found.Last = y;
      }
    }
  }
  return found;
}

// The page at `html` drawn by headless Chromium, as a 1200 x 1600
// screenshot.
Image Draw(const Workspace& w, const fs::path& html, const std::string& name) {
  const fs::path png = w.Path(name + ".png");
  const std::string command = "timeout 120 " + std::string(kChromium) +
                              " --headless=new --no-sandbox --disable-gpu --hide-scrollbars"
                              " --window-size=1200,1600 --user-data-dir=" +
                              w.Path(name + "-profile").string() + " --screenshot=" + png.string() +
                              " file://" + fs::absolute(html).string() + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return Load(png);
}

// The page needs nothing from elsewhere and shows no text unescaped.
void ExpectSelfContained(const std::string& page) {
  for (const char* outside : {"<script", "<link", "<img", "src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(KhostReport, ARecordedRunDrawsItsFramePeriodsAndTheirHistogram) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // A scene named with what HTML would take as markup.
  const fs::path scene = w.Path("a<b>&\"c'.X");
  fs::create_symlink("/usr/share/assimp/models/X/Testwuson.X", scene);
  const fs::path html = w.Path("r.html");
  const RunResult r = w.Run(w.Headless(120, config,
                                       {"--scene", scene.string(), "--record",
                                        w.Path("r.csv").string(), "--report", html.string()}),
                            {}, 120);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string page = ReadAll(html);
  ExpectSelfContained(page);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("a&lt;b&gt;&amp;&quot;c&#39;.X"), std::string::npos);
  EXPECT_NE(page.find("120 frames"), std::string::npos);
  EXPECT_EQ(page.find("id=\"forest\""), std::string::npos) << "no ratios without an experiment";

  const Image image = Draw(w, html, "r");
  ASSERT_EQ(image.Width, 1200);
  const Found line = Find(image, khost::kSeriesColour);
  const Found bars = Find(image, khost::kHistogramColour);
  EXPECT_GT(line.Pixels, 500);
  EXPECT_GT(bars.Pixels, 2000);
  // The chart over the run, then the histogram below it with every
  // percentile's line.
  EXPECT_LT(line.Last, bars.First);
  for (const char* mark :
       {khost::kMedianColour, khost::kP95Colour, khost::kP99Colour, khost::kP999Colour}) {
    const Found found = Find(image, mark);
    EXPECT_GT(found.Pixels, 40) << mark;
    EXPECT_GT(found.Last, bars.First) << mark << " reaches the bars";
  }
  EXPECT_EQ(Find(image, khost::kIntervalColour).Pixels, 0);
}

TEST(KhostReport, AComparisonShadesItsBlocksAndPlotsTheTablesRatios) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path html = w.Path("c.html");
  const fs::path csv = w.Path("c.csv");
  const RunResult r = w.Run(w.Headless(241, config,
                                       {"--compare", "Frustum Culling=0,1", "--compare-csv",
                                        csv.string(), "--report", html.string()}),
                            {}, 300);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string page = ReadAll(html);
  ExpectSelfContained(page);
  EXPECT_NE(page.find("A: Frustum Culling = 0"), std::string::npos);
  EXPECT_NE(page.find("B: Frustum Culling = 1"), std::string::npos);
  // Every row of the table, with its ratio and interval as the CSV has
  // them (the report shows three decimals, the CSV four).
  const std::vector<std::vector<std::string>> rows = ReadCsv(csv);
  ASSERT_GT(rows.size(), 3u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 8u);
    const std::size_t name = page.find(">" + rows[i][0] + "</text>");
    ASSERT_NE(name, std::string::npos) << rows[i][0];
    const std::size_t numbers = page.find("monospace\">", name);
    ASSERT_NE(numbers, std::string::npos) << rows[i][0];
    double shown[3] = {0, 0, 0};
    ASSERT_EQ(
        std::sscanf(page.c_str() + numbers + 11, "%lf [%lf, %lf]", &shown[0], &shown[1], &shown[2]),
        3)
        << rows[i][0];
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(shown[k], std::stod(rows[i][4 + static_cast<std::size_t>(k)]), 0.0011)
          << rows[i][0] << " column " << 4 + k;
    }
    EXPECT_LT(page.find(">" + rows[i][7] + "</text>", name), numbers) << rows[i][0];
  }

  const Image image = Draw(w, html, "c");
  const Found a = Find(image, khost::SpanColour(0));
  const Found b = Find(image, khost::SpanColour(1));
  const Found line = Find(image, khost::kSeriesColour);
  const Found bars = Find(image, khost::kHistogramColour);
  const Found intervals = Find(image, khost::kIntervalColour);
  // Four blocks of each, most of the chart's height: tens of thousands of
  // pixels each, in the chart's band with the line.
  EXPECT_GT(a.Pixels, 20000);
  EXPECT_GT(b.Pixels, 20000);
  EXPECT_GT(line.Pixels, 500);
  EXPECT_LT(a.First, line.Last);
  EXPECT_LT(a.Last, bars.First);
  EXPECT_GT(bars.Pixels, 2000);
  // The forest plot below the histogram: an interval per row.
  EXPECT_GT(intervals.Pixels, 200 * static_cast<long>(rows.size() - 1) / 4);
  EXPECT_GT(intervals.First, bars.Last);
}

TEST(KhostReport, IsRefusedWithoutFramesToReportAndReplacesNothing) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path html = w.Path("keep.html");
  { std::ofstream(html) << "old"; }
  const RunResult alone = w.Run(w.Headless(5, config, {"--report", html.string()}));
  EXPECT_EQ(alone.Status, 2);
  EXPECT_NE(alone.Err.find("--report needs --record, --compare, --tune or --compare-recordings"),
            std::string::npos)
      << alone.Err;
  // The same file as the recording: refused before either is opened.
  const RunResult same =
      w.Run(w.Headless(5, config, {"--record", html.string(), "--report", html.string()}));
  EXPECT_EQ(same.Status, 2);
  EXPECT_NE(same.Err.find("--report"), std::string::npos) << same.Err;
  EXPECT_EQ(ReadAll(html), "old");
  const fs::path none = w.Path("none.html");
  EXPECT_EQ(w.Run(w.Headless(5, config, {"--report", none.string()})).Status, 2);
  EXPECT_FALSE(fs::exists(none));
}

}  // namespace
