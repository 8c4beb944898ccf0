// khost: the stand-in host application.
#include <csignal>
#include <iostream>

#include "khost/app/app.h"
#include "khost/app/cli.h"

int main(int argc, char** argv) {
  // A reader of an output that goes away makes the write fail with a
  // message instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  const khost::ParseResult parsed = khost::ParseCommandLine(argc, argv);
  if (!parsed.Ok()) {
    std::cerr << "khost: " << parsed.Error << "\n"
              << "Run 'khost --help' for the options.\n";
    return 2;
  }
  if (parsed.Parsed.Help) {
    std::cout << khost::UsageText("khost");
    return 0;
  }
  return khost::RunApplication(parsed.Parsed, std::cout, std::cerr);
}
