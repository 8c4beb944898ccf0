#include "khost/app/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "khost/base/status.h"
#include "khost/outputs/temporary_names.h"

namespace khost {

namespace {

// Any thread may take the signal: the flag is a lock-free atomic, which a
// handler may touch.
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int signal) {
  int none = 0;
  if (gSignal.compare_exchange_strong(none, signal)) return;
  // Asked twice: stop now. Unnamed temporaries go with the process; the
  // named ones are removed here.
  RemoveNamedTemporaries();
  static const char kMessage[] = "khost: interrupted again; stopped at once\n";
  if (::write(2, kMessage, sizeof kMessage - 1) < 0) {
    // Nothing more can be said.
  }
  ::_exit(SignalExitCode(signal));
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // The loop polls the flag, so nothing needs to see EINTR.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int InterruptSignal() {
  return gSignal.load();
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default: {
      static char text[32];
      std::snprintf(text, sizeof text, "signal %d", signal);
      return text;
    }
  }
}

}  // namespace khost
