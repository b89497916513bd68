// importmivo: the batch run over the work folder, its service mode, and the operator's subcommands.
#include <iostream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/program.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const app::ParseOutcome parsed = app::parseOptions(args);
  std::cout << parsed.output;
  std::cerr << parsed.error;
  if (!parsed.options) return parsed.exitCode;
  return app::runProgram(*parsed.options);
}
