// Stopping on request: SIGTERM and SIGINT ask the run to stop after the file in hand.
#pragma once

#include <chrono>

namespace app {

// Installs the handlers. The first SIGTERM or SIGINT only sets a flag (the run finishes the file in
// hand and stops); the handlers then give way to the default action, so that a second signal ends
// the program at once.
void installStopHandlers();

// True once a stop was requested.
bool stopRequested();

// Sleeps until `deadline` or until a stop is requested, whichever comes first.
void sleepUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace app
