// Standard output as khost writes it: the tables and notes of a run and the
// --help text (through std::cout), and the text outputs given as "-".
//
// Every text written there is checked. A write that fails (a full disk,
// /dev/full, a file past its size limit) is a failure of the run: a message
// and exit status 1. A reader that went away (`khost ... | head -1`) ends
// the run quietly with the status a command-line tool ended by SIGPIPE has,
// 128 + SIGPIPE, as SIGPIPE itself is ignored so that the run can finish
// its other outputs.
#pragma once

#include <signal.h>

#include <ostream>

#include "khost/base/status.h"

namespace khost {

// The name by which an output goes to standard output: a text output given
// as "-" reaches the run's plan as this, and it is written in place through
// the process's fd 1.
inline constexpr const char* kStandardOutputName = "/dev/stdout";

// Standard output's status when its reader went away: 128 + SIGPIPE.
// [any thread]
constexpr int ClosedPipeStatus() {
  return SignalExitCode(SIGPIPE);
}

// Records that a write to standard output found its reader gone.
// [any thread] [signal handler]
void NoteStandardOutputClosed();
// Whether standard output's reader has gone: noted by a write, or fd 1 is a
// pipe or socket whose other end is closed now. [any thread]
bool StandardOutputClosed();

// Makes std::cout write to fd 1 through a buffer that keeps why a write
// failed. [loop thread], at start, before anything is written.
void InstallStandardOutput();

// Ends what went to standard output through `out` (the process's std::cout):
// flushes it and gives the run's exit status from `status`, the status the
// run ended with. A closed reader turns success into ClosedPipeStatus()
// without a word; any other failure to write is named on `err` and turns
// success into 1. A run that already failed keeps its status.
// [loop thread], once, at the end; borrows `out` and `err`.
int FinishStandardOutput(std::ostream& out, int status, std::ostream& err);

}  // namespace khost
