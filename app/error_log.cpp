// The error log: one row of mivo_import_log_err per failed file and run.
#include "app/text.h"
#include "imports/data_module.h"

// The row is committed durably before the file is moved to the failed folder. A name or message that
// is not UTF-8 is stored in an escaped rendering (bytes as \xNN), since the database holds text only.
// A dry run writes no row (the staging layer runs nothing durable then).
void TDataModule2::ScrieLogErr(const std::string& numeFisier, const std::string& eroare) {
  const auto text = [](const std::string& s) { return app::validUtf8(s) ? s : app::escapedUtf8(s); };
  staging.writeDurable("INSERT INTO mivo_import_log_err (nume_fisier, log_err) VALUES ($1, $2)",
                       {text(numeFisier), text(eroare)}, "dsmivo_import_log_err");
}
