#include "app/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fmt/format.h>

namespace app {
namespace {

// Tries `attempt` until it succeeds or `waitSeconds` have passed.
template <typename F>
bool retry(double waitSeconds, F attempt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
  for (;;) {
    if (attempt()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// The advisory lock's first key: "IMvo".
constexpr int kLockClass = 0x494d766f;

}  // namespace

WorkFolderLock::~WorkFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

WorkFolderLock& WorkFolderLock::operator=(WorkFolderLock&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

WorkFolderLock WorkFolderLock::acquire(const std::string& folder, double waitSeconds) {
  WorkFolderLock lock;
  lock.fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock.fd_ < 0) return lock;
  if (!retry(waitSeconds, [&] { return ::flock(lock.fd_, LOCK_EX | LOCK_NB) == 0; }))
    throw RunLocked(fmt::format("o alta rulare importmivo lucreaza in directorul {}; fisierele raman pentru "
                                "rularea urmatoare",
                                folder));
  return lock;
}

void acquireDatabaseLock(pg::Connection& conn, double waitSeconds) {
  const pg::Params key = {std::to_string(kLockClass)};
  const std::string sql = "SELECT pg_try_advisory_lock($1::int, hashtext(current_schema()))";
  if (!retry(waitSeconds, [&] {
        pg::Result r = conn.execParams(sql, key, "blocare rulare");
        return std::strcmp(PQgetvalue(r.get(), 0, 0), "t") == 0;
      }))
    throw RunLocked(
        "o alta rulare importmivo lucreaza pe aceeasi baza de date si schema; fisierele raman pentru rularea "
        "urmatoare");
}

}  // namespace app
