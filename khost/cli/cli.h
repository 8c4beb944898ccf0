// khost's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/cli_values.h"
#include "khost/cli/run_plan.h"

namespace khost {

// Parses argv[1..argc-1] by the flag table (cli_flags.h) into the run's
// plan. --select, --click and --set accumulate in order; every other flag
// that takes a value may be given once. A refusal is an Error with ExitStatus::kBadInput whose
// message names the offending input.
Result<RunPlan> ParseCommandLine(int argc, const char* const* argv);

// The --help text, made from the flag table.
std::string UsageText(const char* programName);

}  // namespace khost
