// The error log: one row of mivo_import_log_err per failed file and run.
#include "imports/data_module.h"

void TDataModule2::ScrieLogErr(const std::string& numeFisier, const std::string& eroare) {
  staging.writeDurable("INSERT INTO mivo_import_log_err (nume_fisier, log_err) VALUES ($1, $2)",
                       {numeFisier, eroare}, "dsmivo_import_log_err");
}
