// khost: the stand-in host application.
#include <csignal>
#include <iostream>

#include "khost/app/app.h"
#include "khost/app/interrupt.h"
#include "khost/app/status.h"
#include "khost/cli/cli.h"

int main(int argc, char** argv) {
  // A reader of an output that goes away makes the write fail with a
  // message instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  const khost::Result<khost::Options> parsed = khost::ParseCommandLine(argc, argv);
  if (!parsed) {
    std::cerr << "khost: " << parsed.GetError().Message << "\n"
              << "Run 'khost --help' for the options.\n";
    return khost::ExitCode(parsed.GetError().Code);
  }
  if (parsed->Help) {
    std::cout << khost::UsageText("khost");
    return khost::ExitCode(khost::ExitStatus::kSuccess);
  }
  // SIGINT, SIGTERM and SIGHUP end the run as closing the window does.
  khost::InstallInterruptHandlers();
  return khost::RunApplication(*parsed, std::cout, std::cerr);
}
