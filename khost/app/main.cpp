// khost: the stand-in host application.
#include <iostream>

#include "khost/app/app.h"
#include "khost/app/cli.h"

int main(int argc, char** argv) {
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
