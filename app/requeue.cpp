#include "app/requeue.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/options.h"
#include "app/run_lock.h"
#include "app/text.h"

namespace app {
namespace {

namespace fs = std::filesystem;

// Moves `from` to `to` unless `to` exists; 0 or the errno of the failure (EEXIST: the name is taken).
int moveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int e = errno;
  if (e != EINVAL && e != ENOSYS && e != EXDEV) return e;
  // A file system without RENAME_NOREPLACE, or another file system: look first, then move or copy.
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
  if (e != EXDEV) return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  if (!fs::copy_file(from, to, fs::copy_options::none, ec)) return ec ? ec.value() : EIO;
  if (!fs::remove(from, ec)) return ec ? ec.value() : EIO;
  return 0;
}

}  // namespace

int requeue(const std::string& workDir, const std::vector<std::string>& names, double lockWaitSeconds,
            std::ostream& out, std::ostream& err) {
  const std::string failedDir = workDir + "FisiereCuEroare/";
  WorkFolderLock lock;
  try {
    lock = WorkFolderLock::acquire(workDir, lockWaitSeconds);
  } catch (const RunLocked& e) {
    err << "importmivo: " << e.what() << '\n';
    return kExitLocked;
  }

  std::vector<std::string> chosen = names;
  if (chosen.empty()) {
    std::error_code ec;
    for (fs::directory_iterator it(failedDir, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec)) chosen.push_back(it->path().filename().native());
    std::sort(chosen.begin(), chosen.end());
  }

  std::size_t moved = 0, refused = 0;
  for (const std::string& name : chosen) {
    const std::string from = failedDir + name;
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) {
      err << "importmivo: " << printable(name) << " nu este un fisier din " << printable(failedDir) << '\n';
      ++refused;
      continue;
    }
    const int e = moveNoReplace(from, workDir + name);
    if (e == 0) {
      out << "Repus in directorul de lucru: " << printable(name) << '\n';
      ++moved;
    } else if (e == EEXIST) {
      err << "importmivo: " << printable(name) << " exista deja in directorul de lucru; ramane in FisiereCuEroare/"
          << '\n';
      ++refused;
    } else {
      err << "importmivo: " << printable(name) << " nu a putut fi mutat in directorul de lucru: " << std::strerror(e)
          << '\n';
      ++refused;
    }
  }
  if (chosen.empty()) {
    out << "Niciun fisier in " << printable(failedDir) << ".\n";
    return kExitOk;
  }
  out << (moved == 1 ? std::string("1 fisier repus") : counted(moved, "fisier", "fisiere") + " repuse")
      << " in directorul de lucru " << printable(workDir) << ".\n";
  if (refused > 0)
    out << (refused == 1 ? std::string("1 fisier nu a putut fi repus")
                         : counted(refused, "fisier", "fisiere") + " nu au putut fi repuse")
        << ".\n";
  return refused > 0 ? kExitFilesFailed : kExitOk;
}

}  // namespace app
