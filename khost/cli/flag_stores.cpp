#include "khost/cli/flag_stores.h"

#include <climits>
#include <string>
#include <vector>

#include "khost/base/quoting.h"
#include "khost/cli/cli.h"
#include "khost/cli/cli_values.h"
#include "ksurface.h"

namespace khost::flag_stores {

Status AddTune(RunPlan& p, const FlagValue& /*value*/) {
  Tuning(p);
  return {};
}

Status SetUpAxis(RunPlan& p, const FlagValue& value) {
  const std::optional<UpAxis> axis = ParseUpAxis(value.Text);
  if (!axis) return BadInput("malformed " + QuoteArgument(value.Text) + " (expected y or z)");
  p.SceneUp = axis;
  return {};
}

Status SetTextures(RunPlan& p, const FlagValue& value) {
  if (value.Text != "on" && value.Text != "off")
    return BadInput("malformed " + QuoteArgument(value.Text) + " (expected off or on)");
  p.Textures = value.Text == "on";
  return {};
}

Status SetSize(RunPlan& p, const FlagValue& value) {
  p.ToolWidth = value.Width;
  p.ToolHeight = value.Height;
  return {};
}

Status SetViewport(RunPlan& p, const FlagValue& value) {
  p.ViewportWidth = value.Off ? 0 : value.Width;
  p.ViewportHeight = value.Off ? 0 : value.Height;
  return {};
}

Status AddSet(RunPlan& p, const FlagValue& value) {
  const std::string& text = value.Text;
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) {
    return BadInput("malformed " + QuoteArgument(text) + " (expected CAPTION=VALUE)");
  }
  const std::string caption = text.substr(0, eq);
  if (caption.empty()) return BadInput("empty caption in " + QuoteArgument(text));
  const std::string setting = text.substr(eq + 1);
  if (setting.empty()) return BadInput("empty value for " + QuoteArgument(caption));
  p.Actions.push_back({UiAction::kSet, caption, setting, p.ActionFrame});
  return {};
}

Status SetCompare(RunPlan& p, const FlagValue& value) {
  const std::string& text = value.Text;
  const std::size_t eq = text.find('=');
  const std::size_t comma = eq == std::string::npos ? eq : text.find(',', eq + 1);
  if (eq == std::string::npos || comma == std::string::npos) {
    return BadInput("malformed " + QuoteArgument(text) + " (expected CAPTION=A,B)");
  }
  const std::string caption = text.substr(0, eq);
  const std::string valueA = text.substr(eq + 1, comma - eq - 1);
  const std::string valueB = text.substr(comma + 1);
  if (caption.empty()) return BadInput("empty caption in " + QuoteArgument(text));
  if (valueA.empty() || valueB.empty()) return BadInput("empty value in " + QuoteArgument(text));
  CompareRequest& compare = Comparison(p);
  compare.Caption = caption;
  compare.ValueA = valueA;
  compare.ValueB = valueB;
  return {};
}

Status SetRecordings(RunPlan& p, const FlagValue& value) {
  p.Outputs.Measured.CompareRecordings = RecordingsRequest{value.Text, value.Second};
  return {};
}

// "A,B,C": the captions in order; none empty, none twice.
Status SetTuneSettings(RunPlan& p, const FlagValue& value) {
  std::vector<std::string> captions;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = value.Text.find(',', start);
    const std::string caption = value.Text.substr(start, comma - start);
    if (caption.empty()) {
      return BadInput("empty caption in " + QuoteArgument(value.Text) +
                      " (expected CAPTION,CAPTION,...)");
    }
    for (const std::string& earlier : captions) {
      if (earlier == caption) {
        return BadInput(QuoteArgument(caption) + " is named twice in " + QuoteArgument(value.Text));
      }
    }
    captions.push_back(caption);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  Tuning(p).Settings = std::move(captions);
  return {};
}

Status SetClock(RunPlan& p, const FlagValue& value) {
  if (!ReadClock(value.Text, p.Outputs.Measured.Clock)) {
    return BadInput("unknown clock " + QuoteArgument(value.Text) + " (expected wall or cpu)");
  }
  return {};
}

}  // namespace khost::flag_stores
