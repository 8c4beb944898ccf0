// Stopping a run from outside: SIGINT, SIGTERM and SIGHUP end it the way
// closing the window does. The first such signal only raises a flag that
// the loop polls between frames (the frame under way completes and every
// output is finished); a second one ends the process at once, with exit
// status 128 + its number, after removing the outputs' named temporaries.
// The handler runs on whichever thread takes the signal, and calls only
// what is tagged [signal handler] (thread tags: thread_pool.h).
#pragma once

namespace khost {

// Installs the handlers (sigaction, restarting interrupted calls).
// [loop thread], at start.
void InstallInterruptHandlers();
// The signal that asked the run to stop, or 0: a lock-free flag that the
// first signal's handler sets. [any thread]
int InterruptSignal();
// "SIGINT", "SIGTERM", "SIGHUP" or "signal N". [loop thread] The text is
// static; the next call may overwrite "signal N".
const char* SignalName(int signal);

}  // namespace khost
