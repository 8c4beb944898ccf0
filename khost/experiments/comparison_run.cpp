#include "khost/experiments/comparison_run.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>

#include "khost/cli/cli_values.h"
#include "khost/experiments/slower_gate.h"
#include "khost/frame/profiler_feed.h"

namespace khost {

namespace {

// Whether two values of one setting are the same: the same text, or the
// same number however it is written ("05" and "5").
bool SameValue(const std::string& a, const std::string& b) {
  if (a == b) return true;
  int x = 0;
  int y = 0;
  return ReadNumber(a, INT_MIN, INT_MAX, x) == ValueRead::kOk &&
         ReadNumber(b, INT_MIN, INT_MAX, y) == ValueRead::kOk && x == y;
}

// The same text but for the case of ASCII letters.
bool SameText(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string VerdictOf(const ComparisonRow& row) {
  if (!row.HasA) return "only in B";
  if (!row.HasB) return "only in A";
  return VerdictText(row.Stats.Result);
}

}  // namespace

Result<std::unique_ptr<ComparisonRun>> ComparisonRun::Prepare(const CompareRequest& request,
                                                              const CompareTableRequest& table,
                                                              MeasureClock clock, long long frames,
                                                              UiDriver& driver) {
  for (const std::string& value : {request.ValueA, request.ValueB}) {
    const Status checked = driver.Check({UiAction::kSet, request.Caption, value});
    if (!checked) return Prefixed("--compare: ", checked).GetError();
  }
  if (SameValue(request.ValueA, request.ValueB)) {
    return BadInput("--compare: A and B are the same value (" + QuoteArgument(request.ValueA) +
                    "); a comparison needs two different values");
  }
  if (frames < MinimumFrames(request.Block)) {
    return BadInput("--compare: " + std::to_string(frames) + " frames are too few for " +
                    std::to_string(request.Block) + "-frame blocks (at least " +
                    std::to_string(MinimumFrames(request.Block)) + ")");
  }
  auto run = std::make_unique<ComparisonRun>(request, table, clock, frames);
  if (Status watched = run->mWatch.Add(request.Caption, driver); !watched) {
    return Prefixed("--compare: ", watched).GetError();
  }
  run->mWanted[0] = request.ValueA;
  run->mWanted[1] = request.ValueB;
  if (run->mWatch.Exact(0)) {
    const Result<EditorChoices> choices = driver.ReadChoices(request.Caption);
    if (!choices) return Prefixed("--compare: ", choices.AsStatus()).GetError();
    for (std::string& wanted : run->mWanted) {
      for (const std::string& item : choices->Values) {
        if (SameText(item, wanted)) wanted = item;
      }
    }
  }
  return run;
}

std::vector<UiAction> ComparisonRun::StartActions() const {
  // Both values were checked before the run; B is set once before the
  // first block, so an editor that does not take it stops the run at once.
  return {{UiAction::kSet, mRequest.Caption, mRequest.ValueB}};
}

Status ComparisonRun::After(long long frameIndex, UiDriver& driver, bool& changed) {
  changed = false;
  // What the frame just run held, before the next block's value is set.
  if (frameIndex >= 1) {
    const long long block = (frameIndex - 1) / mRequest.Block;
    mWatch.After(frameIndex, mRequest.Block, {mWanted[block % 2]});
    mRan[0].reset();
    mRan[1].reset();
  }
  const std::optional<std::string> value = SwitchAfter(frameIndex);
  if (!value) return {};
  if (Status done = driver.Run({UiAction::kSet, mRequest.Caption, *value}); !done) {
    return Prefixed("--compare: ", done);
  }
  changed = true;
  return {};
}

Status ComparisonRun::Write(std::ostream& notes, std::ostream* csv) {
  if (BlockCount(0) < 2 || BlockCount(1) < 2 || !mCycles) {
    if (LeftOut() > 0) {
      return Failure("--compare: fewer than two blocks of each value ran undisturbed (" +
                     std::to_string(LeftOut()) + " left out: " + QuoteArgument(mRequest.Caption) +
                     " did not hold the value the comparison set)");
    }
    return Failure("--compare: the run ended before two blocks of each value were measured");
  }
  if (RanValue(0) == RanValue(1)) {
    // The host made both values into one (a node count rounded to whole
    // characters): a table would compare a setting with itself.
    return Failure("--compare: A and B both ran " + QuoteArgument(mRequest.Caption) + " = " +
                   EscapeControls(RanValue(0)) + " (asked " + EscapeControls(mRequest.ValueA) +
                   " and " + EscapeControls(mRequest.ValueB) +
                   "); there is nothing to compare: choose values further apart");
  }
  const std::vector<ComparisonRow> rows = Results(*mCycles);
  PrintTable(rows, notes);
  if (csv) {
    // What went to standard output so far comes first when the table goes
    // there too.
    notes.flush();
    WriteCsv(rows, *csv);
  }
  return {};
}

Status ComparisonRun::Apply(std::ostream&) {
  if (mTable.FailIfSlower == kNoSlowerGate || !mCycles || RanValue(0) == RanValue(1)) return {};
  return SlowerThan(Results(*mCycles), mTable.FailIfSlower);
}

Status ComparisonRun::SlowerThan(const std::vector<ComparisonRow>& rows, int percent) {
  std::vector<GatedRatio> ratios;
  for (const ComparisonRow& row : rows) {
    if (row.HasA && row.HasB) {
      ratios.push_back({row.Cycle.Path, row.Stats.Ratio, row.Stats.Low, row.Stats.High});
    }
  }
  return khost::SlowerThan(ratios, percent);
}

void ComparisonRun::Describe(ReportData& data) const {
  const int counted = mRequest.Block - kSettleFrames - 1;
  data.Title =
      "Comparison of " + mRequest.Caption + ": A = " + RanValue(0) + ", B = " + RanValue(1);
  data.Subtitles.push_back(
      std::to_string(BlockCount(0)) + " blocks of A and " + std::to_string(BlockCount(1)) +
      " of B, " + std::to_string(mRequest.Block) + " frames each (" + std::to_string(counted) +
      " counted: not the first " + std::to_string(kSettleFrames) +
      " after a switch nor the one that carries the next), " + std::to_string(CountedFrames(0)) +
      " + " + std::to_string(CountedFrames(1)) + " frames counted");
  if (const int left = LeftOut(); left > 0) {
    data.Subtitles.push_back(std::to_string(left) + (left == 1 ? " block" : " blocks") +
                             " left out: the setting did not hold the value the comparison set");
  }
  data.Labels = {"A: " + mRequest.Caption + " = " + RanValue(0),
                 "B: " + mRequest.Caption + " = " + RanValue(1)};
  // Block b is frames b * Block + 1 to (b + 1) * Block; frame 0 ran before
  // the first.
  const long long frames = std::min(mFrames, data.Series.Frames);
  for (long long first = 1, b = 0; first < frames; first += mRequest.Block, ++b) {
    data.Spans.push_back(
        {first, std::min<long long>(mRequest.Block, frames - first), static_cast<int>(b % 2)});
  }
  data.RatioTitle = "Each cycle, B against A: ratio of the medians with its 95% interval";
  data.RatioCaption = "median of B / median of A (below 1: B is faster)";
  if (BlockCount(0) < 2 || BlockCount(1) < 2 || !mCycles) {
    data.NoRatios = "The run ended before two blocks of each value were measured: no ratios.";
    return;
  }
  for (const ComparisonRow& row : Results(*mCycles)) {
    data.Ratios.push_back({row.Cycle.Name, row.Cycle.Depth, row.HasA && row.HasB, row.Stats.Ratio,
                           row.Stats.Low, row.Stats.High, VerdictOf(row)});
  }
}

ComparisonRun::ComparisonRun(CompareRequest request, CompareTableRequest table, MeasureClock clock,
                             long long frames)
    : mRequest(std::move(request)), mTable(table), mClock(clock), mFrames(frames) {}

std::optional<std::string> ComparisonRun::SwitchAfter(long long frameIndex) const {
  if (frameIndex < 0 || frameIndex + 1 >= mFrames || frameIndex % mRequest.Block != 0) {
    return std::nullopt;
  }
  const long long block = frameIndex / mRequest.Block;
  return block % 2 == 0 ? mRequest.ValueA : mRequest.ValueB;
}

bool ComparisonRun::CountedInBlock(long long frameIndex, int block, long long& index) {
  if (frameIndex < 1 || block < 1) return false;
  index = (frameIndex - 1) / block;
  const long long offset = (frameIndex - 1) % block;
  return offset >= kSettleFrames && offset <= block - 2;
}

bool ComparisonRun::Counted(long long frameIndex, int& side, long long& block) const {
  if (frameIndex + 1 >= mFrames || !CountedInBlock(frameIndex, mRequest.Block, block)) return false;
  side = static_cast<int>(block % 2);
  return true;
}

void ComparisonRun::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  mCycles = &cycles;
  int side = 0;
  long long block = 0;
  if (!Counted(frame.Index, side, block)) return;
  const std::size_t b = static_cast<std::size_t>(block);
  if (mValues.size() < cycles.size()) mValues.resize(cycles.size());
  for (const CycleSample& c : frame.Cycles) {
    if (cycles[static_cast<std::size_t>(c.Cycle)].Depth > mTable.Depth) continue;
    auto& blocks = mValues[static_cast<std::size_t>(c.Cycle)];
    if (blocks.size() <= b) blocks.resize(b + 1);
    const double value = mClock == MeasureClock::kCpu ? c.CpuMicros : c.Micros;
    if (value >= 0.0) blocks[b].push_back(value);
  }
  if (mBlockFrames.size() <= b) mBlockFrames.resize(b + 1, 0);
  ++mBlockFrames[b];
}

bool ComparisonRun::Whole(std::size_t block) const {
  return block < mBlockFrames.size() && mBlockFrames[block] == mRequest.Block - kSettleFrames - 1;
}

bool ComparisonRun::Asked(int side, const std::string& value) const {
  return value == mWanted[side] || SameValue(value, mWanted[side]);
}

std::string ComparisonRun::RanValue(int side) const {
  if (mRan[side]) return *mRan[side];
  // The value most of the side's whole, undisturbed blocks held; the
  // earliest of equally many.
  std::map<std::string, int> votes;
  std::string ran;
  int most = 0;
  for (std::size_t b = static_cast<std::size_t>(side); b < mBlockFrames.size(); b += 2) {
    if (!Whole(b) || mWatch.Disturbed(static_cast<long long>(b))) continue;
    const std::vector<std::string> held = mWatch.Held(static_cast<long long>(b));
    if (held.empty()) continue;
    if (const int n = ++votes[held[0]]; n > most) {
      most = n;
      ran = held[0];
    }
  }
  mRan[side] = most > 0 ? ran : mWanted[side];
  return *mRan[side];
}

bool ComparisonRun::Kept(std::size_t block) const {
  if (!Whole(block) || mWatch.Disturbed(static_cast<long long>(block))) return false;
  const std::vector<std::string> held = mWatch.Held(static_cast<long long>(block));
  return held.empty() || held[0] == RanValue(static_cast<int>(block % 2));
}

int ComparisonRun::LeftOut() const {
  int count = 0;
  for (std::size_t b = 0; b < mBlockFrames.size(); ++b) count += Whole(b) && !Kept(b) ? 1 : 0;
  return count;
}

int ComparisonRun::BlockCount(int side) const {
  int count = 0;
  for (std::size_t b = static_cast<std::size_t>(side); b < mBlockFrames.size(); b += 2) {
    count += Kept(b) ? 1 : 0;
  }
  return count;
}

int ComparisonRun::CountedFrames(int side) const {
  int count = 0;
  for (std::size_t b = static_cast<std::size_t>(side); b < mBlockFrames.size(); b += 2) {
    count += Kept(b) ? mBlockFrames[b] : 0;
  }
  return count;
}

std::vector<ComparisonRow> ComparisonRun::Results(const std::vector<CapturedCycle>& cycles) const {
  std::vector<ComparisonRow> rows;
  for (std::size_t id = 0; id < cycles.size() && id < mValues.size(); ++id) {
    if (cycles[id].Depth > mTable.Depth) continue;
    std::vector<std::vector<double>> sides[2];
    for (std::size_t b = 0; b < mValues[id].size(); ++b) {
      if (Kept(b) && !mValues[id][b].empty()) sides[b % 2].push_back(mValues[id][b]);
    }
    if (sides[0].empty() && sides[1].empty()) continue;
    ComparisonRow row;
    row.Cycle = cycles[id];
    row.HasA = !sides[0].empty();
    row.HasB = !sides[1].empty();
    if (row.HasA && row.HasB) {
      row.Stats = CompareBlocks(sides[0], sides[1], SeedOf(cycles[id].Path));
    } else {
      // Measured on one side only: that side's median stands alone.
      std::vector<double> pooled;
      for (const std::vector<double>& block : sides[row.HasA ? 0 : 1]) {
        pooled.insert(pooled.end(), block.begin(), block.end());
      }
      (row.HasA ? row.Stats.MedianA : row.Stats.MedianB) = MedianInPlace(pooled);
    }
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const ComparisonRow& x, const ComparisonRow& y) {
    return std::lexicographical_compare(x.Cycle.Order, x.Cycle.Order + 3, y.Cycle.Order,
                                        y.Cycle.Order + 3);
  });
  return rows;
}

void ComparisonRun::PrintTable(const std::vector<ComparisonRow>& rows, std::ostream& out) const {
  const int counted = mRequest.Block - kSettleFrames - 1;
  // The values the blocks ran, as the setting held them, with the asked
  // one where the host made another of it.
  std::string values[2];
  for (int side = 0; side < 2; ++side) {
    const std::string ran = RanValue(side);
    const std::string& asked = side == 0 ? mRequest.ValueA : mRequest.ValueB;
    values[side] = EscapeControls(ran);
    if (!Asked(side, ran)) values[side] += " (asked " + EscapeControls(asked) + ")";
  }
  out << "Comparison of \"" << EscapeControls(mRequest.Caption) << "\": A = " << values[0]
      << ", B = " << values[1] << "; " << BlockCount(0) << " blocks of A and " << BlockCount(1)
      << " of B, " << mRequest.Block << " frames each (" << counted << " counted), "
      << CountedFrames(0) << " + " << CountedFrames(1) << " frames; ";
  if (const int left = LeftOut(); left > 0) {
    out << left << (left == 1 ? " block" : " blocks")
        << " left out (the setting did not hold the value the comparison set: changed by "
           "another input, or rounded otherwise); ";
  }
  out << ClockText(mClock) << " (--clock " << ClockName(mClock) << ")\n";
  std::size_t width = 5;
  for (const ComparisonRow& row : rows) {
    width = std::max(width, row.Cycle.Name.size() + 2 * static_cast<std::size_t>(row.Cycle.Depth));
  }
  char line[256];
  std::snprintf(line, sizeof(line), "%-*s %13s %13s %8s  %-19s %s\n", static_cast<int>(width),
                "cycle", "median A (us)", "median B (us)", "B/A", "95% interval", "verdict");
  out << line;
  for (const ComparisonRow& row : rows) {
    const std::string name =
        std::string(2 * static_cast<std::size_t>(row.Cycle.Depth), ' ') + row.Cycle.Name;
    const std::string a = row.HasA ? RatioText(row.Stats.MedianA, 1) : "-";
    const std::string b = row.HasB ? RatioText(row.Stats.MedianB, 1) : "-";
    std::string ratio = "-";
    std::string interval = "-";
    if (row.HasA && row.HasB) {
      ratio = RatioText(row.Stats.Ratio, 3);
      interval = "[" + RatioText(row.Stats.Low, 3) + ", " + RatioText(row.Stats.High, 3) + "]";
    }
    std::snprintf(line, sizeof(line), "%-*s %13s %13s %8s  %-19s %s\n", static_cast<int>(width),
                  name.c_str(), a.c_str(), b.c_str(), ratio.c_str(), interval.c_str(),
                  VerdictOf(row).c_str());
    out << line;
  }
}

void ComparisonRun::WriteCsv(const std::vector<ComparisonRow>& rows, std::ostream& out) {
  out << "cycle,depth,median_a_us,median_b_us,ratio,ci_low,ci_high,verdict\n";
  for (const ComparisonRow& row : rows) {
    const bool both = row.HasA && row.HasB;
    out << CsvField(row.Cycle.Path) << ',' << row.Cycle.Depth << ','
        << (row.HasA ? RatioText(row.Stats.MedianA, 3) : "") << ','
        << (row.HasB ? RatioText(row.Stats.MedianB, 3) : "") << ','
        << (both ? RatioText(row.Stats.Ratio, 4) : "") << ','
        << (both ? RatioText(row.Stats.Low, 4) : "") << ','
        << (both ? RatioText(row.Stats.High, 4) : "") << ',' << VerdictOf(row) << '\n';
  }
}

}  // namespace khost
