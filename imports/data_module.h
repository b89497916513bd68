// TDataModule2: the one data module of a run. It owns the connection, the XML document, and for every
// document kind its staging script, staging queries and server import procedure; it has one import
// method per document kind.
//
// The import methods are defined in imports/, one source per kind. The run itself (DataModuleCreate),
// the file mover (MutaFisier) and the error log (ScrieLogErr) are defined in app/.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "staging/pg.h"
#include "staging/staging.h"
#include "xml/xml.h"

// How a run is set up: where the files are, how to reach the database, how to stage.
struct RunSettings {
  std::string workDir = "/srv/zek/";  // ends with '/'
  std::string conninfo;               // empty: libpq's defaults
  staging::Policy policy = staging::Policy::Fast;
  double lockWaitSeconds = 10;  // how long to wait for another run to finish before giving up
  double minAgeSeconds = 0;     // files modified more recently are left for the next run
  std::uint64_t maxFileBytes = std::uint64_t{128} << 20;  // larger files fail without being read
  // Dry run: every file is loaded, staged and posted inside a transaction that is rolled back; no
  // file is moved, no folder created and no error-log row written.
  bool dryRun = false;
};

// The fate of a file.
enum class Fate {
  Imported,      // admitted and imported: processed folder
  NotAdmitted,   // loaded, but not of its list's kind: processed folder, nothing imported
  Failed,        // did not load, or its import failed: error-log row, failed folder
  Unrecognised,  // its name is of no known kind: unrecognised folder
};

// What became of one file.
struct FileOutcome {
  std::string name;
  int list = 0;                 // its file list (app::FileList)
  std::string method;           // the import method that took it, if any
  Fate fate = Fate::Imported;
  std::string error;            // why it failed
  std::uint64_t rows = 0;       // staging rows it posted
  std::chrono::nanoseconds time{0};
  bool moved = true;  // false: still in the work folder (the move failed, or a dry run)
};

// What became of the files of one run, and where the time went.
struct RunTotals {
  std::uint64_t imported = 0;
  std::uint64_t notAdmitted = 0;
  std::uint64_t failed = 0;
  std::uint64_t unrecognised = 0;
  std::uint64_t notMoved = 0;      // moves that did not take place (those files stay in the work folder)
  std::uint64_t leftForLater = 0;  // files not handled because a stop was requested
  std::chrono::nanoseconds scanTime{0}, parseTime{0}, moveTime{0}, totalTime{0};
  // The part of parseTime spent reading the next file while the server ran a file's import function.
  std::chrono::nanoseconds parseAheadTime{0};
};

class TDataModule2 {
 public:
  // An import method of this class.
  using ImportMethod = void (TDataModule2::*)(const std::string& numeFisier);

  explicit TDataModule2(RunSettings settings);
  TDataModule2(const TDataModule2&) = delete;
  TDataModule2& operator=(const TDataModule2&) = delete;

  // The whole run: folders, scan, connection, the eight lists, the unrecognised files. Exceptions that
  // leave it (the connection cannot be made or is lost) end the run; files not handled stay in place.
  void DataModuleCreate();

  // Connects pgConn (settings.conninfo over libpq's defaults) and prepares the staging session.
  void Connect();

  // Runs one import method on the document loaded in X for the file numeFisier. Returns the message
  // that fails the file, or nothing when the import succeeded. Errors of the run itself (the database
  // connection is lost) are thrown.
  std::optional<std::string> Import(ImportMethod method, const std::string& numeFisier);

  // Adds one row to the error log mivo_import_log_err.
  void ScrieLogErr(const std::string& numeFisier, const std::string& eroare);
  // Moves a file between folders (full paths ending in '/'), replacing a file of the same name in the
  // target. Raises nothing: returns false when the file was not moved.
  static bool MutaFisier(const std::string& numeFisier, const std::string& dirFisiereSursa,
                         const std::string& dirFisiereDest);

  // The import methods, one per document kind.
  void Corporation(const std::string& numeFisier);
  void Supplier(const std::string& numeFisier);
  void Invoice(const std::string& numeFisier);
  void SupplierInvoice(const std::string& numeFisier);
  void CashingPaymentOrder(const std::string& numeFisier);
  void CashingCreditCard(const std::string& numeFisier);
  void CashingReceipt(const std::string& numeFisier);
  void CashingTradeExchange(const std::string& numeFisier);
  void Payment(const std::string& numeFisier);
  void Balance(const std::string& numeFisier);

  RunSettings settings;
  RunTotals totals;

  // Called after the scan with the number of names listed, before each file with its name, and after
  // each file with its outcome.
  std::function<void(std::size_t files)> onScan;
  std::function<void(const std::string& numeFisier)> onFileStart;
  std::function<void(const FileOutcome&)> onFile;
  // Asked before each file; when it answers true the run stops and leaves the rest for the next run.
  std::function<bool()> stopRequested;

  // The folders of the run (full paths ending in '/').
  std::string dirLucru;                 // work folder
  std::string dirFisiereTransferate;    // processed
  std::string dirFisiereNetratate;      // unrecognised
  std::string dirFisiereCuEroare;       // failed

  pg::Connection pgConn;
  staging::Staging staging{pgConn, staging::Policy::Fast};

  // The XML document of the file in hand, and its document element.
  xml::Document X;
  xml::Node root;

  // ---- Components, by document kind ----
  using Script = staging::StagingScript;
  using Query = staging::StagingQuery;
  using Proc = staging::StoredProc;

  // corporation
  Script PgScript_temp_mivo_import_corporatii{staging, "PgScript_temp_mivo_import_corporatii", "corporation",
                                              {"mivo_import_corporatii", "mivo_import_corporatii_oficii",
                                               "mivo_import_corporatii_oficii_banci"}};
  Query dsmivo_import_corporatii{staging, "dsmivo_import_corporatii", "mivo_import_corporatii"};
  Query dsmivo_import_corporatii_oficii{staging, "dsmivo_import_corporatii_oficii", "mivo_import_corporatii_oficii"};
  Query dsmivo_import_corporatii_oficii_banci{staging, "dsmivo_import_corporatii_oficii_banci",
                                              "mivo_import_corporatii_oficii_banci"};
  Proc PgStoredProc_o_insert_corporatii_mivo{staging, "PgStoredProc_o_insert_corporatii_mivo",
                                             "o_insert_corporatii_mivo"};

  // supplier
  Script PgScript_temp_mivo_import_supplier{staging, "PgScript_temp_mivo_import_supplier", "supplier",
                                            {"mivo_import_supplier", "mivo_import_supplier_banci"}};
  Query dsmivo_import_supplier{staging, "dsmivo_import_supplier", "mivo_import_supplier"};
  Query dsmivo_import_supplier_banci{staging, "dsmivo_import_supplier_banci", "mivo_import_supplier_banci"};
  Proc PgStoredProc_o_insert_furnizori_mivo{staging, "PgStoredProc_o_insert_furnizori_mivo",
                                            "o_insert_furnizori_mivo"};

  // client invoice
  Script PgScript_temp_mivo_import_fc{staging, "PgScript_temp_mivo_import_fc", "invoice",
                                      {"mivo_import_fc", "mivo_import_fc_poz"}};
  Query dsmivo_import_fc{staging, "dsmivo_import_fc", "mivo_import_fc"};
  Query dsmivo_import_fc_poz{staging, "dsmivo_import_fc_poz", "mivo_import_fc_poz"};
  Proc PgStoredProc_o_insert_factci_mivo{staging, "PgStoredProc_o_insert_factci_mivo", "o_insert_factci_mivo"};

  // supplier invoice
  Script PgScript_temp_mivo_import_ff{staging, "PgScript_temp_mivo_import_ff", "supplier_invoice",
                                      {"mivo_import_ff", "mivo_import_ff_poz"}};
  Query dsmivo_import_ff{staging, "dsmivo_import_ff", "mivo_import_ff"};
  Query dsmivo_import_ff_poz{staging, "dsmivo_import_ff_poz", "mivo_import_ff_poz"};
  Proc PgStoredProc_o_insert_factfi_mivo{staging, "PgStoredProc_o_insert_factfi_mivo", "o_insert_factfi_mivo"};

  // cashings: payment order, credit card, receipt (and minute of refund), trade exchange
  Script PgScript_temp_mivo_import_op_inc{staging, "PgScript_temp_mivo_import_op_inc", "cashing_payment_order",
                                          {"mivo_import_op_inc", "mivo_import_op_inc_remarks"}};
  Query dsmivo_import_op_inc{staging, "dsmivo_import_op_inc", "mivo_import_op_inc"};
  Query dsmivo_import_op_inc_remarks{staging, "dsmivo_import_op_inc_remarks", "mivo_import_op_inc_remarks"};
  Script PgScript_temp_mivo_import_card_inc{staging, "PgScript_temp_mivo_import_card_inc", "cashing_credit_card",
                                            {"mivo_import_card_inc", "mivo_import_card_inc_remarks"}};
  Query dsmivo_import_card_inc{staging, "dsmivo_import_card_inc", "mivo_import_card_inc"};
  Query dsmivo_import_card_inc_remarks{staging, "dsmivo_import_card_inc_remarks", "mivo_import_card_inc_remarks"};
  Script PgScript_temp_mivo_import_ch_inc{staging, "PgScript_temp_mivo_import_ch_inc", "cashing_receipt",
                                          {"mivo_import_ch_inc", "mivo_import_ch_inc_remarks"}};
  Query dsmivo_import_ch_inc{staging, "dsmivo_import_ch_inc", "mivo_import_ch_inc"};
  Query dsmivo_import_ch_inc_remarks{staging, "dsmivo_import_ch_inc_remarks", "mivo_import_ch_inc_remarks"};
  Script PgScript_temp_mivo_import_PVComp{staging, "PgScript_temp_mivo_import_PVComp", "cashing_trade_exchange",
                                          {"mivo_import_pvcomp", "mivo_import_pvcomp_remarks"}};
  Query dsmivo_import_PVComp{staging, "dsmivo_import_PVComp", "mivo_import_pvcomp"};
  Query dsmivo_import_PVComp_remarks{staging, "dsmivo_import_PVComp_remarks", "mivo_import_pvcomp_remarks"};
  Proc PgStoredProc_o_mivo_import_incas_pl{staging, "PgStoredProc_o_mivo_import_incas_pl", "o_mivo_import_incas_pl"};

  // payment
  Script PgScript_temp_mivo_import_op_pl{staging, "PgScript_temp_mivo_import_op_pl", "payment",
                                         {"mivo_import_op_pl", "mivo_import_op_pl_remarks"}};
  Query dsmivo_import_op_pl{staging, "dsmivo_import_op_pl", "mivo_import_op_pl"};
  Query dsmivo_import_op_pl_remarks{staging, "dsmivo_import_op_pl_remarks", "mivo_import_op_pl_remarks"};
  Proc PgStoredProc_o_mivo_import_plati{staging, "PgStoredProc_o_mivo_import_plati", "o_mivo_import_plati"};

  // invoice balance; its query declares its fields rather than learning them from the table
  Script PgScript_tab_temp_import_invoice_balances{staging, "PgScript_tab_temp_import_invoice_balances", "balance",
                                                   {"mivo_import_invoice_balances"}};
  Query dsmivo_import_invoice_balances{staging,
                                       "dsmivo_import_invoice_balances",
                                       "mivo_import_invoice_balances",
                                       {{"nume_fisier", staging::ColumnType::Text},
                                        {"operation", staging::ColumnType::Text},
                                        {"nr_decont", staging::ColumnType::Text},
                                        {"data_decont", staging::ColumnType::Date},
                                        {"id_invoice", staging::ColumnType::Bigint},
                                        {"id_row", staging::ColumnType::Bigint},
                                        {"data_doc", staging::ColumnType::Date},
                                        {"tip_doc", staging::ColumnType::Text},
                                        {"nr_doc", staging::ColumnType::Text}}};
  Proc PgStoredProc_o_balance_mivo{staging, "PgStoredProc_o_balance_mivo", "o_balance_mivo"};

 private:
  // Every staging query, so that a failed import leaves none open.
  std::vector<staging::StagingQuery*> allQueries();
  // The per-file procedure for one name of lists 1 to 8; `next` is the name that comes after it (of lists
  // 1 to 8), if any, which is read while the server runs this file's import function.
  FileOutcome ProcessFile(int list, const std::string& numeFisier, const std::string* next);
  // Reads the document of the next file ahead of its turn; what it finds (or the error) waits in `ahead_`.
  void ReadAhead(const std::string& numeFisier);
  struct ReadAheadDocument {
    std::string name;  // empty: nothing read ahead
    xml::Document document;
    std::optional<std::string> error;
  };
  ReadAheadDocument ahead_;
  // Moves a file to its output folder and records the outcome.
  void Settle(FileOutcome& outcome, const std::string& dirFisiereDest);
};
