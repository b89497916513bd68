// importmivo: one batch run over the work folder.
#include <iostream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run_lock.h"
#include "imports/data_module.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const app::ParseOutcome parsed = app::parseOptions(args);
  std::cout << parsed.output;
  std::cerr << parsed.error;
  if (!parsed.options) return parsed.exitCode;

  TDataModule2 DataModule2(app::toSettings(*parsed.options));
  try {
    DataModule2.DataModuleCreate();
  } catch (const app::RunLocked& e) {
    std::cerr << "importmivo: " << e.what() << '\n';
    return app::kExitLocked;
  } catch (const std::exception& e) {
    std::cerr << "importmivo: " << e.what() << '\n';
    return app::kExitBrokeDown;
  }
  return DataModule2.totals.failed > 0 ? app::kExitFilesFailed : app::kExitOk;
}
