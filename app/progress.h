// Progress of a run on a terminal: one line on standard error, redrawn in place. Nothing at all when
// standard error is not a terminal (a log, a pipe, a mail from cron).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace app {

class Progress {
 public:
  // Shows the progress on file descriptor `fd` when it is a terminal.
  explicit Progress(int fd);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool enabled() const { return enabled_; }

  void start(std::size_t total);
  // A file begins; the line shows it as the current file.
  void begin(const std::string& name);
  // The current file is done.
  void done();
  // Erases the line, so that other output can follow; the next update draws it again.
  void clear();

 private:
  void draw();

  using Clock = std::chrono::steady_clock;
  int fd_;
  bool enabled_;
  bool shown_ = false;
  std::size_t total_ = 0, done_ = 0;
  std::string current_;
  Clock::time_point started_, lastDraw_;
};

}  // namespace app
