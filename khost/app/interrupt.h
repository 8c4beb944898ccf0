// Stopping a run from outside: SIGINT, SIGTERM and SIGHUP end it the way
// closing the window does. The first such signal only raises a flag that
// the loop polls between frames (the frame under way completes and every
// output is finished); a second one ends the process at once, with exit
// status 128 + its number, after removing the outputs' named temporaries.
#pragma once

namespace khost {

// Installs the handlers (sigaction, restarting interrupted calls).
void InstallInterruptHandlers();
// The signal that asked the run to stop, or 0.
int InterruptSignal();
// "SIGINT", "SIGTERM", "SIGHUP" or "signal N".
const char* SignalName(int signal);

}  // namespace khost
