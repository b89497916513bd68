#include "app/options.h"

#include <filesystem>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

namespace app {
namespace {

constexpr const char* kDescription =
    "importmivo - imports the XML documents of the Mivo back office into the accounting database.\n\n"
    "Every *.xml file of the work folder is classified by its name and document element, staged into\n"
    "the PostgreSQL staging tables and posted by its server import function, then moved to\n"
    "FisiereTransferate/ (processed), FisiereCuEroare/ (failed, with a row in mivo_import_log_err)\n"
    "or FisiereNetratate/ (unrecognised) under the work folder.\n\n"
    "The connection uses libpq's defaults (PGHOST, PGPORT, PGDATABASE, PGUSER, PGPASSWORD, PGSERVICE\n"
    "and its service file, ~/.pgpass) unless --db gives a connection string or URI.";

constexpr const char* kFooter =
    "Exit status: 0 all files handled and none failed; 1 some file failed; 2 the run broke down\n"
    "(for example the database cannot be reached); 64 bad command line; 75 another run holds the\n"
    "work folder or the database (nothing was done; try again later).";

}  // namespace

ParseOutcome parseOptions(const std::vector<std::string>& args) {
  Options o;
  CLI::App cli(kDescription, "importmivo");
  cli.footer(kFooter);
  cli.add_option("--work-dir", o.workDir, "Work folder holding the XML files")->capture_default_str();
  cli.add_option("--db", o.db, "libpq connection string or URI (overrides the PG* environment)");
  cli.add_option("--min-age", o.minAge,
                 "Leave files modified less than SECONDS ago for the next run (still being written)")
      ->capture_default_str();
  cli.add_option("--lock-wait", o.lockWait,
                 "How long to wait for another run on the same work folder or database, in SECONDS")
      ->capture_default_str();
  cli.set_version_flag("--version", std::string("importmivo ") + IMPORTMIVO_VERSION);

  ParseOutcome out;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    cli.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out.output = cli.help();
    out.exitCode = kExitOk;
    return out;
  } catch (const CLI::CallForVersion&) {
    out.output = std::string("importmivo ") + IMPORTMIVO_VERSION + "\n";
    out.exitCode = kExitOk;
    return out;
  } catch (const CLI::ParseError& e) {
    out.error = fmt::format("importmivo: {}\nTry 'importmivo --help' for more information.\n", e.what());
    out.exitCode = kExitUsage;
    return out;
  }
  if (auto err = validate(o)) {
    out.error = fmt::format("importmivo: {}\n", *err);
    out.exitCode = kExitUsage;
    return out;
  }
  out.options = o;
  return out;
}

std::optional<std::string> validate(const Options& o) {
  if (o.workDir.empty()) return std::string("--work-dir must not be empty");
  if (o.workDir.find('\0') != std::string::npos) return std::string("--work-dir contains a NUL byte");
  if (!(o.minAge >= 0 && o.minAge <= 1e9)) return std::string("--min-age must be a number of seconds, 0 or more");
  if (!(o.lockWait >= 0 && o.lockWait <= 1e6))
    return std::string("--lock-wait must be a number of seconds, 0 or more");
  return std::nullopt;
}

RunSettings toSettings(const Options& o) {
  RunSettings s;
  std::error_code ec;
  std::string dir = std::filesystem::absolute(o.workDir, ec).string();
  if (ec) dir = o.workDir;
  if (dir.back() != '/') dir += '/';
  s.workDir = dir;
  s.conninfo = o.db;
  s.minAgeSeconds = o.minAge;
  s.lockWaitSeconds = o.lockWait;
  return s;
}

}  // namespace app
