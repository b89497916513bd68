// The command line: parsed into a plain struct, validated apart from parsing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imports/data_module.h"

namespace app {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;         // the run completed and no file failed
inline constexpr int kExitFilesFailed = 1;  // the run completed and some file failed
inline constexpr int kExitBrokeDown = 2;  // the run broke down (database unreachable or lost, ...)
inline constexpr int kExitUsage = 64;     // bad command line
inline constexpr int kExitLocked = 75;    // another run holds the work folder or the database

struct Options {
  std::string workDir = "/srv/zek/";
  std::string db;  // libpq connection string or URI; empty: libpq's defaults
  double minAge = 0;
  double lockWait = 10;
};

// Parsing either yields options or ends the program with `exitCode` after `output` (help, version or a
// usage error) has been printed to the stream it belongs to.
struct ParseOutcome {
  std::optional<Options> options;
  int exitCode = kExitOk;
  std::string output;   // for standard output (help, version)
  std::string error;    // for standard error
};

ParseOutcome parseOptions(const std::vector<std::string>& args);

// Checks the values; returns the error to report, if any.
std::optional<std::string> validate(const Options& o);

// The settings of a run from valid options.
RunSettings toSettings(const Options& o);

}  // namespace app
