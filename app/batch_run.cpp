// The batch run: folders, scan, connection, the per-file procedure and the fate of every file.
#include <filesystem>
#include <iostream>
#include <system_error>

#include <fmt/format.h>

#include "app/classify.h"
#include "app/run_lock.h"
#include "app/text.h"
#include "imports/data_module.h"

namespace {

std::string withSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// Makes sure an output folder exists; says so on standard error when it has to be created.
void checkFolder(const std::string& folder, const char* missingMessage) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
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
  return failure;
}

void TDataModule2::DataModuleCreate() {
  // One run at a time in a work folder; the lock goes with the process.
  const app::WorkFolderLock folderLock = app::WorkFolderLock::acquire(dirLucru, settings.lockWaitSeconds);

  // 1. Folder check.
  checkFolder(dirFisiereTransferate, "Nu exista directorul fisierelor transferate. Se creaza.");
  checkFolder(dirFisiereNetratate, "Nu exista directorul fisierelor netratate. Se creaza.");
  checkFolder(dirFisiereCuEroare, "Nu exista directorul fisierelor cu eroare. Se creaza.");

  // 2. Scan. Nothing to do: stop before connecting.
  const std::vector<std::string> names = app::scan(dirLucru, settings.minAgeSeconds);
  if (names.empty()) return;
  const auto lists = app::sortIntoLists(names);

  // 3. Connect, and hold the database's run lock: the staging tables are shared by name.
  Connect();
  app::acquireDatabaseLock(pgConn, settings.lockWaitSeconds);

  const auto settle = [&](const std::string& name, const std::string& to) {
    if (!MutaFisier(name, dirLucru, to)) ++totals.notMoved;
  };

  // 4. Lists 1 to 8, in order.
  for (std::size_t l = 0; l + 1 < app::kFileLists; ++l) {
    const auto list = static_cast<app::FileList>(l);
    for (const std::string& numeFisier : lists[l]) {
      if (!app::validUtf8(numeFisier)) {
        // The database holds UTF-8 text only: such a name cannot be stored as it is.
        ScrieLogErr(numeFisier, "Numele fisierului nu este text UTF-8 valid; fisierul nu poate fi importat");
        ++totals.failed;
        settle(numeFisier, dirFisiereCuEroare);
        continue;
      }
      try {
        X.loadFile(dirLucru + numeFisier);
      } catch (const std::exception& e) {
        root = xml::Node();
        ScrieLogErr(numeFisier, e.what());
        ++totals.failed;
        settle(numeFisier, dirFisiereCuEroare);
        continue;
      }
      root = X.documentElement();
      const ImportMethod method = app::admit(list, root);
      if (method == nullptr) {
        ++totals.notAdmitted;
        settle(numeFisier, dirFisiereTransferate);
        continue;
      }
      if (const auto failure = Import(method, numeFisier)) {
        ScrieLogErr(numeFisier, *failure);
        ++totals.failed;
        settle(numeFisier, dirFisiereCuEroare);
      } else {
        ++totals.imported;
        settle(numeFisier, dirFisiereTransferate);
      }
    }
  }

  // 5. List 9: the unrecognised names are moved, never loaded or logged.
  for (const std::string& numeFisier : lists[static_cast<std::size_t>(app::FileList::Unrecognised)]) {
    ++totals.unrecognised;
    settle(numeFisier, dirFisiereNetratate);
  }
  X.release();
  root = xml::Node();
}
