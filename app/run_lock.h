// One run at a time: a lock on the work folder, and an advisory lock on the database for the staging
// tables' schema. Both are released by the system when the process ends, however it ends.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "staging/pg.h"

namespace app {

// Another run holds a lock that this run waited for in vain.
class RunLocked : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class WorkFolderLock {
 public:
  WorkFolderLock() = default;
  ~WorkFolderLock();
  WorkFolderLock(WorkFolderLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  WorkFolderLock& operator=(WorkFolderLock&& o) noexcept;
  WorkFolderLock(const WorkFolderLock&) = delete;
  WorkFolderLock& operator=(const WorkFolderLock&) = delete;

  // Locks the folder, waiting up to `waitSeconds`. A folder that does not exist needs no lock (the run
  // has nothing to do). Throws RunLocked when another process keeps the lock.
  static WorkFolderLock acquire(const std::string& folder, double waitSeconds);

 private:
  int fd_ = -1;
};

// Takes the session-level advisory lock of ImportMivo for the connection's current schema, waiting up
// to `waitSeconds`. Throws RunLocked when another session keeps it.
void acquireDatabaseLock(pg::Connection& conn, double waitSeconds);

}  // namespace app
