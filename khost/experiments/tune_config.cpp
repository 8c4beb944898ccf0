#include "khost/experiments/tune_config.h"

#include "host/kbaselib.h"
#include "khost/base/quoting.h"
#include "standin/kbaselib/config.h"

namespace khost {

namespace {

Error TuneWrite(Error error) {
  error.Message = "--tune-write: " + error.Message;
  return error;
}

}  // namespace

const std::vector<TunableSetting>& TunableSettings() {
  static const std::vector<TunableSetting> settings = {
      {kFrustumCullingCaption, kFrustumCullingKey, kNoText, kYesText,
       [](const ConfiguredSettings& s) { return s.EarlyFrustumCulling ? 1 : 0; }},
      {kParallelPipelineCaption, kPipelineKey, kSerialText, kParallelText,
       [](const ConfiguredSettings& s) { return s.ParallelPipeline ? 1 : 0; }},
      {kParallelEvaluationCaption, kEvaluationKey, "", "",
       [](const ConfiguredSettings& s) { return s.ParallelEvaluation; }},
      {kParallelDeformationCaption, kDeformationKey, kSerialText, kParallelText,
       [](const ConfiguredSettings& s) { return s.ParallelDeformation ? 1 : 0; }},
      {kGpuSkinningCaption, kGpuSkinningKey, kNoText, kYesText,
       [](const ConfiguredSettings& s) { return s.GPUSkinDeform ? 1 : 0; }},
  };
  return settings;
}

const TunableSetting* FindTunable(std::string_view caption) {
  for (const TunableSetting& setting : TunableSettings()) {
    if (setting.Caption == caption) return &setting;
  }
  return nullptr;
}

Result<std::vector<ConfigFileEdit>> PlanTunedConfig(const std::vector<TunedValue>& values) {
  const ConfiguredSettings configured = ReadConfiguredSettings();
  std::vector<ConfigEdit> edits[2];  // the application's file, the task's
  // Every tuned key changed, whatever the search picks: a line the search
  // could have to edit is checked now, before the run.
  std::vector<ConfigEdit> anyPick[2];
  for (const auto& [caption, value] : values) {
    const TunableSetting* setting = FindTunable(caption);
    if (!setting) continue;
    const auto text = [&](int index) {
      if (setting->Off.empty()) return std::to_string(index);
      return std::string(index != 0 ? setting->On : setting->Off);
    };
    const int file = setting->Key.InTask() ? 1 : 0;
    const int current = setting->Configured(configured);
    anyPick[file].push_back({setting->Key.Section, setting->Key.Name, text(current == 0 ? 1 : 0)});
    if (current == value) continue;
    edits[file].push_back({setting->Key.Section, setting->Key.Name, text(value)});
  }
  std::vector<ConfigFileEdit> plan;
  for (int f = 0; f < 2; ++f) {
    const std::string path = KConfig_ResolvePath(f == 0 ? kApplicationConfig : kTaskConfig);
    if (Result<ConfigFileEdit> probe = PlanConfigFileEdit(path, anyPick[f]); !probe) {
      return TuneWrite(probe.GetError());
    }
    Result<ConfigFileEdit> edit = PlanConfigFileEdit(path, edits[f]);
    if (!edit) return TuneWrite(edit.GetError());
    plan.push_back(std::move(*edit));
  }
  // Two names of one file: the second write would undo the first.
  if (SameConfigFile(plan[0], plan[1])) {
    return BadInput("--tune-write: " + QuoteArgument(plan[0].Path) + " and " +
                    QuoteArgument(plan[1].Path) +
                    " are one file under two names (a link); each must be a file of its own");
  }
  return plan;
}

Status WriteTunedConfig(const std::vector<ConfigFileEdit>& plan, std::ostream& out) {
  if (Status written = WriteConfigFileEdits(plan); !written) {
    return TuneWrite(written.GetError());
  }
  bool changed = false;
  for (const ConfigFileEdit& file : plan) {
    for (const ConfigLineChange& line : file.Edit.Changes) {
      changed = true;
      // The lines come from the files: echoed escaped, as any outside text.
      out << "khost: --tune-write: " << QuoteArgument(file.Path) << " line " << line.Line << ": ";
      if (line.Added) {
        out << "added \"" << EchoText(line.New) << "\"\n";
      } else {
        out << "\"" << EchoText(line.Old) << "\" -> \"" << EchoText(line.New) << "\"\n";
      }
    }
  }
  if (!changed) {
    out << "khost: --tune-write: nothing changed (the configuration files already hold the "
           "recommended settings)\n";
  }
  return {};
}

}  // namespace khost
