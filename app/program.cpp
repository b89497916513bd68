#include "app/program.h"

#include <fmt/format.h>
#include <unistd.h>

#include <iostream>

#include "app/errors_listing.h"
#include "app/progress.h"
#include "app/report.h"
#include "app/requeue.h"
#include "app/run_lock.h"
#include "app/signals.h"
#include "app/text.h"

namespace app {

int runOnce(const Options& o) {
  TDataModule2 dm(toSettings(o));
  RunRecord record;
  record.workDir = dm.dirLucru;
  record.dryRun = o.dryRun;
  record.started = std::chrono::system_clock::now();
  Progress progress(STDERR_FILENO);
  std::string inHand;

  dm.onScan = [&](std::size_t files) {
    record.listed = files;
    progress.start(files);
  };
  dm.onFileStart = [&](const std::string& name) {
    inHand = name;
    progress.begin(name);
  };
  dm.onFile = [&](const FileOutcome& f) {
    inHand.clear();
    record.files.push_back(f);
    progress.done();
    if (o.verbose) {
      progress.clear();
      std::cerr << verboseLine(f, o.dryRun) << std::flush;
    }
  };
  dm.stopRequested = [] { return stopRequested(); };

  try {
    dm.DataModuleCreate();
    record.end = dm.totals.leftForLater > 0 ? RunEnd::Stopped : RunEnd::Completed;
    record.exitStatus = dm.totals.failed > 0 ? kExitFilesFailed : kExitOk;
  } catch (const RunLocked& e) {
    record.end = RunEnd::Locked;
    record.error = e.what();
    record.exitStatus = kExitLocked;
  } catch (const std::exception& e) {
    record.end = RunEnd::BrokeDown;
    record.error = e.what();
    record.errorFile = inHand;
    record.exitStatus = kExitBrokeDown;
  }
  progress.clear();
  record.finished = std::chrono::system_clock::now();
  record.totals = dm.totals;
  record.staging = dm.staging.stats();

  if (record.end == RunEnd::BrokeDown || record.end == RunEnd::Locked) {
    std::cerr << "importmivo: ";
    if (!record.errorFile.empty()) std::cerr << "fisierul " << printable(record.errorFile) << ": ";
    std::cerr << printable(record.error, true) << '\n';
  }
  // A run that found nothing says nothing, so that a scheduler sends no mail for it.
  const bool worthTelling = record.exitStatus != kExitOk || record.totals.notMoved > 0;
  if (record.listed > 0 && record.end != RunEnd::Locked && (!o.quiet || worthTelling))
    std::cout << summaryText(record) << std::flush;
  if (!o.report.empty()) {
    if (auto failure = writeReport(o.report, reportJson(record)))
      std::cerr << "importmivo: raportul nu a putut fi scris: " << printable(*failure) << '\n';
  }
  return record.exitStatus;
}

int watch(const Options& o) {
  const auto interval =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(o.watch));
  std::cerr << fmt::format("importmivo: mod serviciu, o rulare la fiecare {:g} s in {}; SIGTERM sau SIGINT opreste.\n",
                           o.watch, printable(workFolder(o)));
  while (!stopRequested()) {
    const auto started = std::chrono::steady_clock::now();
    const int status = runOnce(o);
    if (stopRequested()) break;
    if (status == kExitBrokeDown || status == kExitLocked)
      std::cerr << fmt::format("importmivo: rularea {}; se reincearca peste {:g} s.\n",
                               status == kExitBrokeDown ? "s-a intrerupt" : "nu a avut loc", o.watch);
    sleepUntil(started + interval);
  }
  std::cerr << "importmivo: oprit la cerere.\n";
  return kExitOk;
}

int runProgram(const Options& o) {
  switch (o.command) {
    case Command::Requeue: return requeue(workFolder(o), o.names, o.lockWait, std::cout, std::cerr);
    case Command::Errors: return listErrors(o.db, o.since, std::cout, std::cerr);
    case Command::Run: break;
  }
  installStopHandlers();
  return o.watch > 0 ? watch(o) : runOnce(o);
}

}  // namespace app
