#include "app/signals.h"

#include <signal.h>

#include <algorithm>
#include <csignal>
#include <thread>

namespace app {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

// Only async-signal-safe work here: a flag, and sigaction().
extern "C" void onStopSignal(int signo) {
  stopSignal = signo;
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGTERM, &dfl, nullptr);
  sigaction(SIGINT, &dfl, nullptr);
}

}  // namespace

void installStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a wait in progress returns early and looks at the flag
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

bool stopRequested() { return stopSignal != 0; }

void sleepUntil(std::chrono::steady_clock::time_point deadline) {
  // Short naps, so that a signal that arrives just before a nap still ends the wait promptly.
  constexpr auto kNap = std::chrono::milliseconds(100);
  while (!stopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, kNap));
  }
}

}  // namespace app
