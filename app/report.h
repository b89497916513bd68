// What the operator is told about a run: the summary (standard output), the JSON report (--report) and
// the per-file log line (--verbose).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "imports/data_module.h"

namespace app {

// How a run ended.
enum class RunEnd {
  Completed,  // every listed file was handled
  Stopped,    // a stop was requested (SIGTERM, SIGINT): the files not handled stay for the next run
  BrokeDown,  // the connection failed or was lost: the file in hand and the rest stay in the work folder
  Locked,     // another run held the work folder or the database: nothing was done
};

// One run as it is reported.
struct RunRecord {
  std::string workDir;
  bool dryRun = false;
  std::chrono::system_clock::time_point started, finished;
  std::size_t listed = 0;          // names found by the scan
  std::vector<FileOutcome> files;  // in the order handled
  RunTotals totals;
  staging::StagingStats staging;
  RunEnd end = RunEnd::Completed;
  int exitStatus = 0;
  std::string error;      // why the run broke down or was not done
  std::string errorFile;  // the file in hand when it broke down, if any
};

// The fate of a file in the words of the summary ("importat", "cu eroare", ...).
const char* fateText(Fate fate);

// The summary: one line per file list with files, totals, the time spent, then every failed file with
// its error, and what stays in the work folder. Plain text, 80 columns where names allow.
std::string summaryText(const RunRecord& r);

// The same as a JSON document, one object per file.
std::string reportJson(const RunRecord& r);

// Writes the report to `path` through a temporary file renamed into place, so that a reader never sees
// half a report. Returns the error, if any.
std::optional<std::string> writeReport(const std::string& path, const std::string& json);

// The --verbose line of one file: name, fate, rows and milliseconds, and the error of a failed file.
std::string verboseLine(const FileOutcome& f, bool dryRun);

}  // namespace app
