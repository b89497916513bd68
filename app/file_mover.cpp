// The file mover: settles the fate of a file by moving it to its output folder.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "app/text.h"
#include "imports/data_module.h"

bool TDataModule2::MutaFisier(const std::string& numeFisier, const std::string& dirFisiereSursa,
                              const std::string& dirFisiereDest) {
  namespace fs = std::filesystem;
  const std::string source = dirFisiereSursa + numeFisier;
  const std::string target = dirFisiereDest + numeFisier;
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return false;  // a folder, or no longer there: nothing happens
  // rename() replaces a file of the same name in the target in one step.
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  int err = errno;
  if (err == EXDEV) {
    // Another file system: copy, then remove the source only once the copy is complete.
    if (fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec) && fs::remove(source, ec))
      return true;
    err = ec.value();
  }
  std::cerr << "importmivo: fisierul " << app::printable(source) << " nu a putut fi mutat in "
            << app::printable(dirFisiereDest) << ": " << std::strerror(err) << '\n';
  return false;
}
