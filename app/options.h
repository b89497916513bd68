// The command line: parsed into a plain struct, validated apart from parsing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imports/data_module.h"

namespace app {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;           // the run completed and no file failed
inline constexpr int kExitFilesFailed = 1;  // the run completed and some file failed
inline constexpr int kExitBrokeDown = 2;    // the run broke down (database unreachable or lost, ...)
inline constexpr int kExitUsage = 64;       // bad command line
inline constexpr int kExitLocked = 75;      // another run holds the work folder or the database

// What the program is asked to do: the batch run (no subcommand), or one of the subcommands.
enum class Command {
  Run,      // importmivo [options]
  Requeue,  // importmivo requeue [NAME...]: failed files back into the work folder
  Errors,   // importmivo errors [--since WHEN]: the error log
};

struct Options {
  Command command = Command::Run;
  std::string workDir = "/srv/zek/";
  std::string db;  // libpq connection string or URI; empty: libpq's defaults
  double minAge = 0;
  double maxFileMB = 128;
  double lockWait = 10;

  // The run.
  bool dryRun = false;
  bool verbose = false;
  bool quiet = false;
  std::string report;  // path of the JSON report; empty: none
  double watch = 0;    // seconds from the start of one run to the start of the next; 0: one run only

  // requeue: the names to move back (none: every file of the failed folder).
  std::vector<std::string> names;
  // errors: the earliest time of the rows listed (empty: all rows).
  std::string since;

  // The options of the program itself that the command line gave (long names, "--dry-run"), whatever
  // the command; a subcommand accepts only its own.
  std::vector<std::string> given;
};

// Parsing either yields options or ends the program with `exitCode` after `output` (help, version or a
// usage error) has been printed to the stream it belongs to.
struct ParseOutcome {
  std::optional<Options> options;
  int exitCode = kExitOk;
  std::string output;  // for standard output (help, version)
  std::string error;   // for standard error
};

ParseOutcome parseOptions(const std::vector<std::string>& args);

// Checks the values; returns the error to report, if any.
std::optional<std::string> validate(const Options& o);

// The settings of a run from valid options.
RunSettings toSettings(const Options& o);

// The work folder of valid options as a full path ending in '/'.
std::string workFolder(const Options& o);

}  // namespace app
