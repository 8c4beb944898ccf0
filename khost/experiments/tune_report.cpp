#include "khost/experiments/tune_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "khost/experiments/comparison_run.h"
#include "khost/frame/profiler_feed.h"

namespace khost {

namespace {

std::string Number(double value, int decimals) {
  if (std::isinf(value)) return "inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string IntervalText(const BlockComparison& stats) {
  return "[" + Number(stats.Low, 3) + ", " + Number(stats.High, 3) + "]";
}

// "FC" for "Frustum Culling": the capitals of each word, for column heads.
std::string Initials(const std::string& caption) {
  std::string initials;
  bool wordStart = true;
  for (char c : caption) {
    if (c == ' ') {
      wordStart = true;
    } else if (wordStart) {
      initials += c;
      wordStart = false;
    }
  }
  return initials;
}

std::string Role(const TuneReport& report, const TuneMeasured& measured) {
  std::string role;
  if (measured.Candidate == 0) role = "start";
  if (report.Answer.Decided && measured.Candidate == report.Answer.Best)
    role += role.empty() ? "best" : ", best";
  if (measured.Dropped) role += role.empty() ? "dropped" : ", dropped";
  return role;
}

std::string BestVerdict(const TuneAnswer& answer) {
  if (answer.Best == 0) return "the start is the best";
  return VerdictText(answer.VersusStart.Result);
}

}  // namespace

void PrintTuneReport(const TuneReport& report, std::ostream& out) {
  const TuneSearch& search = *report.Search;
  const TuneAnswer& answer = report.Answer;
  const TuneOptions& options = search.Options();
  const int counted = options.Block - kSettleFrames - 1;
  out << "Tuning \"" << report.Target << "\" over " << search.Settings().size() << " settings ("
      << search.Candidates().size() << " configurations): " << search.BlocksTaken() << " of "
      << search.BlockBudget() << " blocks of " << options.Block << " frames (" << counted
      << " counted)\n";
  if (const long long left = search.BlocksLeftOut(); left > 0) {
    out << left << (left == 1 ? " block" : " blocks")
        << " left out: a searched setting did not hold the value the search set (changed by "
           "another input during the block)\n";
  }
  out << "Times: " << ClockText(report.Clock) << " (--clock " << ClockName(report.Clock) << ")\n";
  if (report.CutShort) {
    out << "The run ended before the search did: this is the answer for the blocks measured.\n";
  }
  if (answer.Measured.empty()) {
    out << "Nothing was measured.\n";
  } else {
    if (answer.Decided) {
      out << "Best:  " << search.Describe(answer.Best);
      // The race's pick can lose to the start in the check's fresh blocks:
      // it is then no best at all, and the start is what stays set.
      if (answer.Best != 0 && answer.VersusStart.Result == Verdict::kSlower) {
        out << " (the race's pick; the check measured it slower than the start, which stays)";
      }
      out << "\n";
    } else {
      out << "Best:  not decided (" << answer.Undecided << ")\n";
    }
    out << "Start: " << search.Describe(0) << "\n";
    if (!answer.Decided) {
      // Nothing to set against the start.
    } else if (answer.Best != 0) {
      out << "Best / start " << Number(answer.VersusStart.Ratio, 3) << ", 95% interval "
          << IntervalText(answer.VersusStart) << ", " << BestVerdict(answer) << " (medians "
          << Number(answer.VersusStart.MedianB, 1) << " and "
          << Number(answer.VersusStart.MedianA, 1) << " us in the check's blocks)\n";
    } else {
      out << "The start is the best measured.\n";
    }
  }
  char line[512];
  if (!answer.Effects.empty()) {
    out << "Switching one setting from the best (ratio to the best, above 1 slower; the "
           "intervals hold together at 95%):\n";
    std::size_t width = 7;
    for (const TuneSetting& s : search.Settings()) width = std::max(width, s.Caption.size());
    std::snprintf(line, sizeof line, "  %-*s %-9s %12s %8s  %-19s %s\n", static_cast<int>(width),
                  "setting", "to", "median (us)", "ratio", "95% interval", "verdict");
    out << line;
    for (const TuneEffect& effect : answer.Effects) {
      const TuneSetting& s = search.Settings()[static_cast<std::size_t>(effect.Setting)];
      std::snprintf(line, sizeof line, "  %-*s %-9s %12s %8s  %-19s %s\n", static_cast<int>(width),
                    s.Caption.c_str(), s.Values[static_cast<std::size_t>(effect.Value)].c_str(),
                    Number(effect.Stats.MedianB, 1).c_str(), Number(effect.Stats.Ratio, 3).c_str(),
                    IntervalText(effect.Stats).c_str(), VerdictText(effect.Stats.Result));
      out << line;
    }
  }
  if (!answer.Measured.empty()) {
    out << "Configurations measured (race and check), fastest first:\n ";
    std::vector<std::size_t> widths;
    for (const TuneSetting& s : search.Settings()) {
      std::size_t w = Initials(s.Caption).size();
      for (const std::string& v : s.Values) w = std::max(w, v.size());
      widths.push_back(w);
      out << " " << Initials(s.Caption) << std::string(w - Initials(s.Caption).size(), ' ');
    }
    out << "  blocks  frames  median (us)\n";
    std::vector<TuneMeasured> measured = answer.Measured;
    std::stable_sort(
        measured.begin(), measured.end(),
        [](const TuneMeasured& a, const TuneMeasured& b) { return a.Median < b.Median; });
    for (const TuneMeasured& m : measured) {
      out << " ";
      const auto& values = search.Candidates()[static_cast<std::size_t>(m.Candidate)];
      for (std::size_t s = 0; s < values.size(); ++s) {
        const std::string& v = search.Settings()[s].Values[static_cast<std::size_t>(values[s])];
        out << " " << v << std::string(widths[s] - v.size(), ' ');
      }
      const std::string role = Role(report, m);
      std::snprintf(line, sizeof line, "  %6d  %6lld  %11s%s%s\n", m.Blocks, m.Samples,
                    Number(m.Median, 1).c_str(), role.empty() ? "" : "  ", role.c_str());
      out << line;
    }
    out << " ";
    for (std::size_t s = 0; s < search.Settings().size(); ++s) {
      out << (s ? ", " : " ") << Initials(search.Settings()[s].Caption) << " = "
          << search.Settings()[s].Caption;
    }
    out << "\n";
  }
  out << "Verdict: " << answer.Verdict << "\n";
}

void WriteTuneCsv(const TuneReport& report, std::ostream& out) {
  const TuneSearch& search = *report.Search;
  const TuneAnswer& answer = report.Answer;
  out << "kind,configuration,setting,value,blocks,frames,median_us,ratio,ci_low,ci_high,note\n";
  const auto stats = [&](const BlockComparison& s) {
    return Number(s.Ratio, 4) + "," + Number(s.Low, 4) + "," + Number(s.High, 4);
  };
  const TuneMeasured* best = nullptr;
  for (const TuneMeasured& m : answer.Measured) {
    if (m.Candidate == answer.Best) best = &m;
  }
  if (!answer.Decided) {
    out << "best,,,,,,,,,," << CsvField("not decided: " + answer.Undecided) << '\n';
  } else if (best) {
    out << "best," << CsvField(search.Describe(answer.Best)) << ",,," << best->Blocks << ','
        << best->Samples << ',' << Number(answer.VersusStart.MedianB, 3) << ','
        << stats(answer.VersusStart) << ',' << BestVerdict(answer) << '\n';
  }
  for (const TuneEffect& effect : answer.Effects) {
    const TuneSetting& s = search.Settings()[static_cast<std::size_t>(effect.Setting)];
    out << "effect," << CsvField(search.Describe(effect.Candidate)) << ',' << CsvField(s.Caption)
        << ',' << CsvField(s.Values[static_cast<std::size_t>(effect.Value)]) << ",,,"
        << Number(effect.Stats.MedianB, 3) << ',' << stats(effect.Stats) << ','
        << VerdictText(effect.Stats.Result) << '\n';
  }
  for (const TuneMeasured& m : answer.Measured) {
    out << "measured," << CsvField(search.Describe(m.Candidate)) << ",,," << m.Blocks << ','
        << m.Samples << ',' << Number(m.Median, 3) << ",,,," << CsvField(Role(report, m)) << '\n';
  }
  out << "verdict,,,,,,,,,," << CsvField(answer.Verdict) << '\n';
}

}  // namespace khost
