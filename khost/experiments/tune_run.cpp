#include "khost/experiments/tune_run.h"

#include "khost/cli/cli_values.h"
#include "khost/experiments/comparison_run.h"

namespace khost {

namespace {

// The cycles a recording names in a scene of `characters` characters, for
// the refusal of an unknown one: the catalogue's, in the chart's order,
// and the pattern of each character's.
std::string KnownCycles(const CycleCatalogue& catalogue, int characters) {
  std::string list;
  for (int row : catalogue.ChartOrder()) {
    list += (list.empty() ? "" : ", ") + QuoteArgument(catalogue.Named(row).Path);
  }
  const int parent = catalogue.CharacterParent();
  if (parent < 0) return list;
  list += ", " + QuoteArgument(catalogue.Named(parent).Path + "/" +
                               catalogue.CharacterRowAt(0).Name + "N");
  for (int part = 1; part < catalogue.CharacterRowCount(); ++part) {
    list += (part == 1 ? " and its " : " and ") +
            QuoteArgument("/" + std::string(catalogue.CharacterRowAt(part).Name));
  }
  return list + " for N from 1 to " + std::to_string(characters);
}

}  // namespace

Status CheckTuneTarget(const std::string& target, MeasureClock clock, int characters,
                       const CycleCatalogue& catalogue) {
  const std::optional<CapturedCycle> cycle = catalogue.Find(target, characters);
  if (!cycle) {
    return BadInput("--tune-target: unknown cycle " + QuoteArgument(target) +
                    " (cycles: " + KnownCycles(catalogue, characters) + ")");
  }
  if (clock == MeasureClock::kCpu && !cycle->Cpu) {
    return BadInput("--tune-target: " + QuoteArgument(target) +
                    " is measured on the steady clock only (a character's cycles are shorter "
                    "than a read of the CPU clock); use --clock wall");
  }
  return {};
}

Result<std::unique_ptr<TuneRun>> TuneRun::Prepare(const TuneRequest& request,
                                                  std::optional<long long> frames,
                                                  MeasureClock clock, UiDriver& driver,
                                                  int characters) {
  std::unique_ptr<TuneRun> run(new TuneRun());
  run->mRequest = request;
  run->mClock = clock;
  std::vector<std::string> captions = request.Settings;
  if (captions.empty()) {
    for (std::string_view caption : kTunedSettings) captions.emplace_back(caption);
  }
  for (const std::string& caption : captions) {
    const Result<EditorChoices> read = driver.ReadChoices(caption);
    if (!read && read.GetError().Message.rfind("unknown caption", 0) == 0) {
      return BadInput("--tune-settings: " + read.GetError().Message);
    }
    if (caption == kNodeCountCaption) {
      return BadInput("--tune-settings: " + QuoteArgument(kNodeCountCaption) +
                      " is never searched: it changes the scene, not how the engine runs it");
    }
    if (!FindTunable(caption)) {
      std::string tunable;
      for (std::string_view tuned : kTunedSettings) {
        tunable += (tunable.empty() ? "" : ", ") + QuoteArgument(tuned);
      }
      return BadInput("--tune-settings: " + QuoteArgument(caption) +
                      " is not an engine setting (the searched settings: " + tunable + ")");
    }
    if (!read) return BadInput("--tune-settings: " + read.GetError().Message);
    run->mSettings.push_back({caption, read->Values, read->Current});
    if (Status watched = run->mWatch.Add(caption, driver); !watched) {
      return Prefixed("--tune-settings: ", watched).GetError();
    }
  }
  if (Status target = CheckTuneTarget(request.Target, clock, characters); !target) {
    return target.GetError();
  }
  TuneOptions options;
  options.Block = request.Block;
  options.Frames = frames.value_or(TuneSearch::DefaultFrames(run->mSettings, request.Block));
  Result<TuneSearch> search = TuneSearch::Create(run->mSettings, options);
  if (!search) {
    return BadInput(
        (frames ? "--frames: " : "--tune: ") + search.GetError().Message + " (give --frames " +
        std::to_string(TuneSearch::MinimumFrames(run->mSettings, request.Block)) + " or more)");
  }
  run->mSearch = std::make_unique<TuneSearch>(std::move(*search));
  if (request.Write) {
    // Refused now rather than after the run: a file that cannot be read or
    // replaced.
    if (Result<std::vector<ConfigFileEdit>> plan = PlanTunedConfig(run->ValuesOf(0)); !plan) {
      return plan.GetError();
    }
  }
  return run;
}

std::vector<TunedValue> TuneRun::ValuesOf(int candidate) const {
  std::vector<TunedValue> values;
  const auto& chosen = mSearch->Candidates()[static_cast<std::size_t>(candidate)];
  for (std::size_t s = 0; s < mSettings.size(); ++s) {
    values.emplace_back(mSettings[s].Caption, chosen[s]);
  }
  return values;
}

std::vector<std::string> TuneRun::TextsOf(int candidate) const {
  std::vector<std::string> texts;
  const auto& chosen = mSearch->Candidates()[static_cast<std::size_t>(candidate)];
  for (std::size_t s = 0; s < mSettings.size(); ++s) {
    texts.push_back(mSettings[s].Values[static_cast<std::size_t>(chosen[s])]);
  }
  return texts;
}

Status TuneRun::SetCandidate(int candidate, UiDriver& driver) {
  const std::vector<std::string> wanted = TextsOf(candidate);
  for (std::size_t s = 0; s < mSettings.size(); ++s) {
    // What the setting holds, not what was last sent: something else may
    // have changed it since.
    if (mWatch.Now(s) == wanted[s]) continue;
    if (Status set = driver.Run({UiAction::kSet, mSettings[s].Caption, wanted[s]}); !set) {
      return Prefixed("--tune: ", set);
    }
  }
  return {};
}

Status TuneRun::Leave(UiDriver& driver) {
  mAnswer = mSearch->Answer();
  mFinished = true;
  return SetCandidate(mRequest.Apply ? mAnswer->Recommended : 0, driver);
}

Status TuneRun::After(long long frameIndex, UiDriver& driver) {
  if (mFinished) return {};
  if (mRunning >= 0) mWatch.After(frameIndex, mRequest.Block, TextsOf(mCandidate));
  if (frameIndex % mRequest.Block != 0) return {};
  if (frameIndex == 0) {
    // The start is what the window shows once the start-up actions ran.
    for (std::size_t s = 0; s < mSettings.size(); ++s) {
      const Result<EditorChoices> read = driver.ReadChoices(mSettings[s].Caption);
      if (!read) return Prefixed("--tune: ", read.AsStatus());
      mSettings[s].Current = read->Current;
    }
    Result<TuneSearch> search = TuneSearch::Create(mSettings, mSearch->Options());
    if (!search) return search.AsStatus();
    *mSearch = std::move(*search);
  } else if (mRunning == frameIndex / mRequest.Block - 1) {
    if (mWatch.Disturbed(mRunning)) {
      mSearch->DiscardBlock();
    } else {
      mSearch->AddBlock(std::move(mSamples));
    }
    mSamples.clear();
  }
  mRunning = -1;
  if (mSearch->Done()) return Leave(driver);
  mCandidate = mSearch->Next();
  if (Status set = SetCandidate(mCandidate, driver); !set) return set;
  mRunning = frameIndex / mRequest.Block;
  // One entry a block, for the report.
  mBlockCandidates.resize(static_cast<std::size_t>(mRunning) + 1, 0);
  mBlockCandidates.back() = mCandidate;
  return {};
}

Status TuneRun::End(UiDriver& driver) {
  if (mFinished) return {};
  mCutShort = true;
  return Leave(driver);
}

void TuneRun::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  long long block = 0;
  if (mRunning < 0 || !ComparisonRun::CountedInBlock(frame.Index, mRequest.Block, block) ||
      block != mRunning) {
    return;
  }
  if (mTargetId < 0) {
    for (std::size_t id = 0; id < cycles.size(); ++id) {
      if (cycles[id].Path == mRequest.Target) mTargetId = static_cast<int>(id);
    }
  }
  for (const CycleSample& sample : frame.Cycles) {
    if (sample.Cycle == mTargetId) {
      mSamples.push_back(mClock == MeasureClock::kCpu ? sample.CpuMicros : sample.Micros);
    }
  }
}

TuneReport TuneRun::Report() const {
  TuneReport report;
  report.Search = mSearch.get();
  report.Answer = mAnswer ? *mAnswer : mSearch->Answer();
  report.Target = mRequest.Target;
  report.Clock = mClock;
  report.CutShort = mCutShort;
  return report;
}

Status TuneRun::Write(std::ostream& notes, std::ostream* csv) {
  const TuneReport report = Report();
  PrintTuneReport(report, notes);
  if (csv) {
    notes.flush();
    WriteTuneCsv(report, *csv);
  }
  return {};
}

void TuneRun::Describe(ReportData& data) const {
  const TuneReport report = Report();
  const TuneAnswer& answer = report.Answer;
  std::string settings;
  for (const TuneSetting& setting : mSettings) {
    settings += (settings.empty() ? "" : ", ") + setting.Caption;
  }
  data.Title = "Tuning search of " + settings + " for the lowest median of " + mRequest.Target;
  data.Subtitles.push_back(std::to_string(mSearch->BlocksTaken()) + " of " +
                           std::to_string(mSearch->BlockBudget()) + " blocks of " +
                           std::to_string(mRequest.Block) + " frames, " +
                           std::to_string(mSearch->Candidates().size()) + " configurations" +
                           (mCutShort ? "; the run ended before the search did" : ""));
  if (!answer.Verdict.empty()) data.Subtitles.push_back("Verdict: " + answer.Verdict);
  const int best = answer.Decided ? answer.Best : -1;
  if (best > 0) data.Subtitles.push_back("Best: " + mSearch->Describe(best));
  data.Subtitles.push_back("Start: " + mSearch->Describe(0));

  // Three shadings: the start's blocks, the best's (when it is not the
  // start), every other one's.
  data.Labels = {best == 0 ? "the start (the best)" : "the start"};
  if (best > 0) data.Labels.push_back("the best");
  const int others = static_cast<int>(data.Labels.size());
  data.Labels.push_back("the other configurations");
  const long long frames = data.Series.Frames;
  for (std::size_t b = 0; b < mBlockCandidates.size(); ++b) {
    const long long first = static_cast<long long>(b) * mRequest.Block + 1;
    if (first >= frames) break;
    const int candidate = mBlockCandidates[b];
    const int label = candidate == 0 ? 0 : candidate == best ? 1 : others;
    data.Spans.push_back({first, std::min<long long>(mRequest.Block, frames - first), label});
  }

  data.RatioTitle =
      "The check's ratios of the median of " + mRequest.Target + ", with their 95% intervals";
  data.RatioNames = "configurations compared";
  data.RatioCaption = "ratio of the medians (below 1: the first is faster)";
  if (!answer.Decided) {
    data.NoRatios = "No answer: " + answer.Undecided;
    return;
  }
  data.Ratios.push_back(
      {"best / start", 0, true, answer.VersusStart.Ratio, answer.VersusStart.Low,
       answer.VersusStart.High,
       best == 0 ? "the start is the best" : VerdictText(answer.VersusStart.Result)});
  for (const TuneEffect& effect : answer.Effects) {
    const TuneSetting& setting = mSettings[static_cast<std::size_t>(effect.Setting)];
    data.Ratios.push_back({setting.Caption + " = " +
                               setting.Values[static_cast<std::size_t>(effect.Value)] + " / best",
                           0, true, effect.Stats.Ratio, effect.Stats.Low, effect.Stats.High,
                           VerdictText(effect.Stats.Result)});
  }
}

Status TuneRun::WriteConfig(std::ostream& out) const {
  if (!mRequest.Write) return {};
  const TuneReport report = Report();
  if (mCutShort) {
    out << "khost: --tune-write: the search was cut short; nothing written\n";
    return {};
  }
  if (!report.Answer.MeasurablyFaster) {
    out << "khost: --tune-write: nothing changed (no configuration is measurably faster than "
           "the current one)\n";
    return {};
  }
  Result<std::vector<ConfigFileEdit>> plan = PlanTunedConfig(ValuesOf(report.Answer.Recommended));
  if (!plan) return plan.AsStatus();
  return WriteTunedConfig(*plan, out);
}

}  // namespace khost
