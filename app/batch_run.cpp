// The batch run: folders, scan, connection, the per-file procedure and the fate of every file.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <system_error>

#include <fmt/format.h>

#include "app/classify.h"
#include "app/run_lock.h"
#include "app/text.h"
#include "imports/data_module.h"

namespace {

using Clock = std::chrono::steady_clock;

// Larger files are read at their turn only, so that two large documents are never held at once.
constexpr std::uintmax_t kReadAheadBytes = 4 << 20;

std::string withSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// Makes sure an output folder exists; says so on standard error when it has to be created. A dry run
// creates nothing and only says what a real run would do.
void checkFolder(const std::string& folder, const char* missingMessage, bool dryRun) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  if (dryRun) {
    std::cerr << "Simulare: directorul " << folder << " lipseste; o rulare reala il creeaza." << '\n';
    return;
  }
  std::cerr << missingMessage << '\n';
  std::filesystem::create_directory(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec))
    std::cerr << "Nu se poate crea directorul " << folder << "." << '\n';
}

}  // namespace

TDataModule2::TDataModule2(RunSettings s) : settings(std::move(s)) {
  dirLucru = withSlash(settings.workDir);
  dirFisiereTransferate = dirLucru + "FisiereTransferate/";
  dirFisiereNetratate = dirLucru + "FisiereNetratate/";
  dirFisiereCuEroare = dirLucru + "FisiereCuEroare/";
  staging.setPolicy(settings.policy);
  staging.setDryRun(settings.dryRun);
}

std::vector<staging::StagingQuery*> TDataModule2::allQueries() {
  return {&dsmivo_import_corporatii,     &dsmivo_import_corporatii_oficii, &dsmivo_import_corporatii_oficii_banci,
          &dsmivo_import_supplier,       &dsmivo_import_supplier_banci,    &dsmivo_import_fc,
          &dsmivo_import_fc_poz,         &dsmivo_import_ff,                &dsmivo_import_ff_poz,
          &dsmivo_import_op_inc,         &dsmivo_import_op_inc_remarks,    &dsmivo_import_card_inc,
          &dsmivo_import_card_inc_remarks, &dsmivo_import_ch_inc,          &dsmivo_import_ch_inc_remarks,
          &dsmivo_import_PVComp,         &dsmivo_import_PVComp_remarks,    &dsmivo_import_op_pl,
          &dsmivo_import_op_pl_remarks,  &dsmivo_import_invoice_balances};
}

void TDataModule2::Connect() {
  pgConn = pg::Connection::open(settings.conninfo);
  staging.attach();
}

std::optional<std::string> TDataModule2::Import(ImportMethod method, const std::string& numeFisier) {
  staging.beginFile(numeFisier);
  std::optional<std::string> failure;
  try {
    (this->*method)(numeFisier);
  } catch (const pg::DbError& e) {
    if (e.runFault()) throw;
    failure = e.what();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "Eroare necunoscuta";
  }
  for (staging::StagingQuery* q : allQueries()) q->Close();
  if (failure) {
    // A row posted before the failure may have been refused by the server: that came first.
    if (auto earlier = staging.settleFailure()) failure = earlier->what();
  }
  staging.endFile();
  return failure;
}

void TDataModule2::DataModuleCreate() {
  // One run at a time in a work folder; the lock goes with the process.
  const app::WorkFolderLock folderLock = app::WorkFolderLock::acquire(dirLucru, settings.lockWaitSeconds);

  // 1. Folder check.
  checkFolder(dirFisiereTransferate, "Nu exista directorul fisierelor transferate. Se creaza.", settings.dryRun);
  checkFolder(dirFisiereNetratate, "Nu exista directorul fisierelor netratate. Se creaza.", settings.dryRun);
  checkFolder(dirFisiereCuEroare, "Nu exista directorul fisierelor cu eroare. Se creaza.", settings.dryRun);

  // 2. Scan. Nothing to do: stop before connecting.
  const auto started = Clock::now();
  std::vector<std::string> names = app::scan(dirLucru, settings.minAgeSeconds);
  totals.scanTime += Clock::now() - started;
  if (names.empty()) return;
  const std::size_t listed = names.size();
  const auto lists = app::sortIntoLists(std::move(names));  // the names are held once, in their lists
  if (onScan) onScan(listed);

  // 3. Connect, and hold the database's run lock: the staging tables are shared by name.
  Connect();
  app::acquireDatabaseLock(pgConn, settings.lockWaitSeconds);

  const auto stop = [&](std::size_t from, std::size_t list) {
    if (!stopRequested || !stopRequested()) return false;
    for (std::size_t l = list; l < app::kFileLists; ++l) totals.leftForLater += lists[l].size() - (l == list ? from : 0);
    return true;
  };

  // Nothing read ahead outlives the run, however it ends: a later run reads its files afresh.
  struct ReadAheadReset {
    TDataModule2& dm;
    ~ReadAheadReset() {
      dm.staging.whileFunctionRuns = nullptr;
      dm.ahead_.name.clear();
      dm.ahead_.error.reset();
      dm.ahead_.document.release();
    }
  } readAheadReset{*this};

  // The name after lists[l][i] among the files that are loaded (lists 1 to 8), if any.
  const auto nextLoaded = [&](std::size_t l, std::size_t i) -> const std::string* {
    for (++i; l < app::kFileLists - 1; ++l, i = 0)
      if (i < lists[l].size()) return &lists[l][i];
    return nullptr;
  };

  // 4. Lists 1 to 8, in order; 5. list 9: the unrecognised names are moved, never loaded or logged.
  for (std::size_t l = 0; l < app::kFileLists; ++l) {
    for (std::size_t i = 0; i < lists[l].size(); ++i) {
      if (stop(i, l)) {
        totals.totalTime += Clock::now() - started;
        return;
      }
      const std::string& numeFisier = lists[l][i];
      if (onFileStart) onFileStart(numeFisier);
      FileOutcome outcome;
      if (static_cast<app::FileList>(l) == app::FileList::Unrecognised) {
        const auto t0 = Clock::now();
        outcome.name = numeFisier;
        outcome.list = static_cast<int>(l);
        outcome.fate = Fate::Unrecognised;
        ++totals.unrecognised;
        Settle(outcome, dirFisiereNetratate);
        outcome.time = Clock::now() - t0;
      } else {
        outcome = ProcessFile(static_cast<int>(l), numeFisier, nextLoaded(l, i));
      }
      if (onFile) onFile(outcome);
    }
  }
  X.release();
  root = xml::Node();
  totals.totalTime += Clock::now() - started;
}

void TDataModule2::ReadAhead(const std::string& numeFisier) {
  ahead_.name.clear();
  ahead_.error.reset();
  ahead_.document.release();
  std::error_code ec;
  const auto size = std::filesystem::file_size(dirLucru + numeFisier, ec);
  if (!app::validUtf8(numeFisier) || ec || size > kReadAheadBytes) return;
  const auto t0 = Clock::now();
  try {
    ahead_.document.loadFile(dirLucru + numeFisier, settings.maxFileBytes);
  } catch (const std::exception& e) {
    ahead_.error = e.what();
  }
  ahead_.name = numeFisier;
  const auto spent = Clock::now() - t0;
  totals.parseTime += spent;
  totals.parseAheadTime += spent;
}

void TDataModule2::Settle(FileOutcome& outcome, const std::string& dirFisiereDest) {
  if (settings.dryRun) {
    outcome.moved = false;
    return;
  }
  const auto t0 = Clock::now();
  outcome.moved = MutaFisier(outcome.name, dirLucru, dirFisiereDest);
  if (!outcome.moved) ++totals.notMoved;
  totals.moveTime += Clock::now() - t0;
}

FileOutcome TDataModule2::ProcessFile(int list, const std::string& numeFisier, const std::string* next) {
  const auto t0 = Clock::now();
  FileOutcome outcome;
  outcome.name = numeFisier;
  outcome.list = list;
  const auto finish = [&](Fate fate, const std::string& dir) {
    outcome.fate = fate;
    switch (fate) {
      case Fate::Imported: ++totals.imported; break;
      case Fate::NotAdmitted: ++totals.notAdmitted; break;
      case Fate::Failed: ++totals.failed; break;
      case Fate::Unrecognised: ++totals.unrecognised; break;
    }
    Settle(outcome, dir);
    outcome.time = Clock::now() - t0;
    return outcome;
  };
  const auto fail = [&](const std::string& error) {
    // The row is committed before the file leaves the work folder.
    ScrieLogErr(numeFisier, error);
    outcome.error = error;
    return finish(Fate::Failed, dirFisiereCuEroare);
  };

  if (!app::validUtf8(numeFisier)) {
    // The database holds UTF-8 text only: such a name cannot be stored as it is.
    return fail("Numele fisierului nu este text UTF-8 valid; fisierul nu poate fi importat");
  }
  std::optional<std::string> loadError;
  if (!ahead_.name.empty() && ahead_.name == numeFisier) {
    // Read while the server ran the previous file's import function.
    X.swap(ahead_.document);
    loadError = std::move(ahead_.error);
    ahead_.name.clear();
    ahead_.document.release();
  } else {
    const auto parseStart = Clock::now();
    try {
      X.loadFile(dirLucru + numeFisier, settings.maxFileBytes);
    } catch (const std::exception& e) {
      loadError = e.what();
    }
    totals.parseTime += Clock::now() - parseStart;
  }
  if (loadError) {
    root = xml::Node();
    return fail(*loadError);
  }
  root = X.documentElement();
  const ImportMethod method = app::admit(static_cast<app::FileList>(list), root);
  if (method == nullptr) return finish(Fate::NotAdmitted, dirFisiereTransferate);
  outcome.method = app::methodName(method);
  const std::uint64_t rowsBefore = staging.stats().rowsStaged;
  if (next != nullptr) staging.whileFunctionRuns = [this, next] { ReadAhead(*next); };
  const auto failure = Import(method, numeFisier);
  staging.whileFunctionRuns = nullptr;
  outcome.rows = staging.stats().rowsStaged - rowsBefore;
  if (failure) return fail(*failure);
  return finish(Fate::Imported, dirFisiereTransferate);
}
