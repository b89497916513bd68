// importmivo requeue: failed files back into the work folder, once the cause of their failure is fixed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace app {

// Moves the named files (every file, when `names` is empty) from the failed folder of `workDir` (a
// full path ending in '/') back into the work folder. A name already taken in the work folder is never
// replaced. Waits up to `lockWaitSeconds` for a run on the work folder to end. Says what it moved on
// `out` and what it could not on `err`; returns the exit status.
int requeue(const std::string& workDir, const std::vector<std::string>& names, double lockWaitSeconds,
            std::ostream& out, std::ostream& err);

}  // namespace app
