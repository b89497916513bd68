#include "app/progress.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>

#include "app/text.h"

namespace app {
namespace {

// Redraws closer together than this are skipped, except for the first file.
constexpr auto kRedraw = std::chrono::milliseconds(100);

void put(int fd, const std::string& s) {
  std::size_t off = 0;
  while (off < s.size()) {
    const ssize_t n = ::write(fd, s.data() + off, s.size() - off);
    if (n <= 0) return;  // a terminal that cannot be written to: the progress is only a courtesy
    off += static_cast<std::size_t>(n);
  }
}

std::size_t columns(int fd) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// The end of `s` in at most `width` bytes, starting at a character boundary, marked "..." when cut.
std::string tail(const std::string& s, std::size_t width) {
  if (s.size() <= width) return s;
  if (width <= 3) return std::string(width, '.');
  std::size_t from = s.size() - (width - 3);
  while (from < s.size() && (static_cast<unsigned char>(s[from]) & 0xC0) == 0x80) ++from;
  return "..." + s.substr(from);
}

std::string duration(double s) {
  if (s < 60) return fmt::format("{:.0f} s", s);
  if (s < 3600) return fmt::format("{:.0f} min {:02.0f} s", std::floor(s / 60), std::fmod(s, 60));
  return fmt::format("{:.0f} h {:02.0f} min", std::floor(s / 3600), std::floor(std::fmod(s, 3600) / 60));
}

}  // namespace

Progress::Progress(int fd) : fd_(fd), enabled_(::isatty(fd) == 1) {}

void Progress::start(std::size_t total) {
  total_ = total;
  done_ = 0;
  started_ = Clock::now();
}

void Progress::begin(const std::string& name) {
  if (!enabled_) return;
  current_ = printable(name);
  const auto now = Clock::now();
  if (shown_ && done_ > 0 && now - lastDraw_ < kRedraw) return;
  lastDraw_ = now;
  draw();
}

void Progress::done() { ++done_; }

void Progress::clear() {
  if (!enabled_ || !shown_) return;
  put(fd_, "\r\033[K");
  shown_ = false;
}

void Progress::draw() {
  const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
  std::string head = fmt::format("[{}/{}]", done_ + 1 > total_ ? total_ : done_ + 1, total_);
  if (done_ > 0 && elapsed > 0) {
    const double rate = static_cast<double>(done_) / elapsed;
    head += fmt::format(" {:.1f} fisiere/s, mai sunt ~{}", rate, duration(static_cast<double>(total_ - done_) / rate));
  }
  head += "  ";
  const std::size_t width = columns(fd_) - 1;  // the last column would wrap on some terminals
  std::string line = head.size() < width ? head + tail(current_, width - head.size()) : head.substr(0, width);
  put(fd_, "\r\033[K" + line);
  shown_ = true;
}

}  // namespace app
