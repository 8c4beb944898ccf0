// khost's application: start-up as a host, the frame loop, and shut-down.
#pragma once

#include <ostream>

#include "khost/cli/cli.h"

namespace khost {

// Runs the host as the parsed command line plans; returns the process exit
// status (0 done, 1 failure, 2 bad input). Messages go to `out` (settings,
// where files went) and `err` (problems).
int RunApplication(const RunPlan& plan, std::ostream& out, std::ostream& err);

}  // namespace khost
