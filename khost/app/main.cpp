// khost: the stand-in host application.
#include <csignal>
#include <iostream>

#include "khost/app/app.h"
#include "khost/app/interrupt.h"
#include "khost/base/standard_output.h"
#include "khost/base/status.h"
#include "khost/cli/cli.h"
#include "khost/outputs/output_paths.h"

int main(int argc, char** argv) {
  // The descriptors the caller handed over, before khost opens any of its
  // own: an output may name those (/dev/fd/3 after 3>file), never khost's.
  khost::NoteInheritedDescriptors();
  // A reader of an output that goes away makes the write fail with a
  // message instead of ending the process; so does a file that reaches the
  // file-size limit (the write fails with EFBIG, and the output is cut back
  // to its last whole line).
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  khost::InstallStandardOutput();
  const khost::Result<khost::RunPlan> parsed = khost::ParseCommandLine(argc, argv);
  if (!parsed) {
    std::cerr << "khost: " << parsed.GetError().Message << "\n"
              << "Run 'khost --help' for the options.\n";
    return khost::ExitCode(parsed.GetError().Code);
  }
  if (parsed->Help) {
    std::cout << khost::UsageText("khost");
    return khost::FinishStandardOutput(std::cout, khost::ExitCode(khost::ExitStatus::kSuccess),
                                       std::cerr);
  }
  // SIGINT, SIGTERM and SIGHUP end the run as closing the window does.
  khost::InstallInterruptHandlers();
  const int status = khost::RunApplication(*parsed, std::cout, std::cerr);
  return khost::FinishStandardOutput(std::cout, status, std::cerr);
}
