// The engine settings a tune searches, and writing a chosen configuration
// into the host's configuration files with the keys and value texts that
// start-up and the tool's "Reset To Default" read back.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "khost/base/config_files.h"
#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/setup/config_edit.h"
#include "khost/setup/host_settings.h"

namespace khost {

struct TunableSetting {
  std::string_view Caption;  // the editor's caption
  ConfigKey Key;             // where the files hold it
  // The texts for a check box's 0 and 1; empty for a drop-down, whose item
  // index is written as the integer the reader takes.
  std::string_view Off;
  std::string_view On;
  // The value index the files give now, as the host reads them.
  int (*Configured)(const ConfiguredSettings&);
};

// The searchable settings (kTunedSettings), with where the files hold them.
const std::vector<TunableSetting>& TunableSettings();
const TunableSetting* FindTunable(std::string_view caption);

// A setting's chosen value: its caption and the index of the value.
using TunedValue = std::pair<std::string, int>;

// The edits of both files that give `values`, leaving alone a key whose
// file already reads as wanted. Reads the files and checks that each can be
// replaced as it is (config_edit.h's rules) and that the two are two files,
// and that every line that defines one of the settings of `values` could
// be edited, whatever value it gets; writes nothing.
Result<std::vector<ConfigFileEdit>> PlanTunedConfig(const std::vector<TunedValue>& values);

// Replaces the files that change, both or neither (WriteConfigFileEdits),
// then prints their changed lines to `out` (or that nothing changed).
Status WriteTunedConfig(const std::vector<ConfigFileEdit>& plan, std::ostream& out);

}  // namespace khost
