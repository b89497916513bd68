// What the program does with valid options: one run, the service mode, or a subcommand.
#pragma once

#include "app/options.h"

namespace app {

// Does what the options ask and returns the exit status.
int runProgram(const Options& o);

// One batch run with its summary, progress, verbose lines and report. Returns the exit status.
int runOnce(const Options& o);

// Service mode: runs every o.watch seconds until a stop is requested; returns 0 then.
int watch(const Options& o);

}  // namespace app
