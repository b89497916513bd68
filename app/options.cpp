#include "app/options.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "app/errors_listing.h"

namespace app {
namespace {

constexpr const char* kDescription =
    "importmivo - imports the XML documents of the Mivo back office into the accounting database.\n\n"
    "Every *.xml file of the work folder is classified by its name and document element, staged into\n"
    "the PostgreSQL staging tables and posted by its server import function, then moved to\n"
    "FisiereTransferate/ (processed), FisiereCuEroare/ (failed, with a row in mivo_import_log_err)\n"
    "or FisiereNetratate/ (unrecognised) under the work folder. A summary of the run is printed on\n"
    "standard output when there were files to handle; on a terminal, standard error shows the progress.\n\n"
    "The connection uses libpq's defaults (PGHOST, PGPORT, PGDATABASE, PGUSER, PGPASSWORD, PGSERVICE\n"
    "and its service file, ~/.pgpass) unless --db gives a connection string or URI.";

constexpr const char* kFooter =
    "Exit status: 0 all files handled and none failed; 1 some file failed; 2 the run broke down\n"
    "(for example the database cannot be reached); 64 bad command line; 75 another run holds the\n"
    "work folder or the database (nothing was done; try again later). With --watch: 0 once stopped\n"
    "by SIGTERM or SIGINT.\n"
    "SIGTERM or SIGINT: the file in hand is finished, the others stay for the next run; a second\n"
    "signal ends the program at once.\n"
    "See importmivo(1).";

constexpr const char* kRequeueDescription =
    "Moves files from the failed folder (FisiereCuEroare/) back into the work folder, so that the next\n"
    "run handles them again: the named files, or every file there when no name is given. A file whose\n"
    "name is already taken in the work folder is left where it is.";

constexpr const char* kRequeueFooter =
    "Exit status: 0 every file was moved back; 1 some file could not be moved (not in the failed\n"
    "folder, or its name is taken in the work folder); 64 bad command line; 75 a run holds the work\n"
    "folder.";

constexpr const char* kErrorsDescription =
    "Lists the rows of the error log mivo_import_log_err, oldest first: time, file and error.";

constexpr const char* kErrorsFooter =
    "WHEN: a date (2024-05-31), a date and time (\"2024-05-31 18:00\"), a span back from now (30m, 12h,\n"
    "7d), azi (today) or ieri (since yesterday).\n"
    "Exit status: 0 listed (even when no row matched); 2 the database cannot be reached or read;\n"
    "64 bad command line.";

// The options each command accepts, by long name.
const std::vector<std::string>& accepted(Command c) {
  static const std::vector<std::string> run = {"--work-dir", "--db",    "--min-age", "--lock-wait", "--dry-run",
                                               "--report",   "--watch", "--verbose", "--quiet", "--max-file-size"};
  static const std::vector<std::string> requeue = {"--work-dir", "--lock-wait"};
  static const std::vector<std::string> errors = {"--db", "--since"};
  switch (c) {
    case Command::Run: return run;
    case Command::Requeue: return requeue;
    case Command::Errors: return errors;
  }
  return run;
}

const char* commandName(Command c) {
  switch (c) {
    case Command::Run: return "importmivo";
    case Command::Requeue: return "requeue";
    case Command::Errors: return "errors";
  }
  return "";
}

}  // namespace

ParseOutcome parseOptions(const std::vector<std::string>& args) {
  Options o;
  CLI::App cli(kDescription, "importmivo");
  cli.footer(kFooter);
  cli.add_option("--work-dir", o.workDir, "Work folder holding the XML files")->type_name("DIR")->capture_default_str();
  cli.add_option("--db", o.db, "libpq connection string or URI (overrides the PG* environment)")->type_name("CONNINFO");
  cli.add_option("--min-age", o.minAge,
                 "Leave files modified less than SECONDS ago for the next run (still being written)")
      ->type_name("SECONDS")
      ->capture_default_str();
  cli.add_option("--max-file-size", o.maxFileMB,
                 "Fail files larger than MB megabytes without reading them (memory needed: about ten\n"
                 "times the size of the largest document read)")
      ->type_name("MB")
      ->capture_default_str();
  cli.add_option("--lock-wait", o.lockWait,
                 "How long to wait for another run on the same work folder or database, in SECONDS")
      ->type_name("SECONDS")
      ->capture_default_str();
  cli.add_flag("--dry-run", o.dryRun,
               "Load, stage and post every file inside transactions that are rolled back: nothing is posted,\n"
               "no file is moved, no error-log row is written; the summary tells what a run would do");
  cli.add_option("--report", o.report,
                 "Also write the run as JSON to FILE (replaced after every run): totals, and name, kind, fate,\n"
                 "rows, error and time of every file")
      ->type_name("FILE");
  cli.add_option("--watch", o.watch,
                 "Service mode: run again every SECONDS until SIGTERM or SIGINT; a run that broke down\n"
                 "(database unreachable) is retried at the next interval")
      ->type_name("SECONDS");
  cli.add_flag("-v,--verbose", o.verbose, "One line per file on standard error: fate, rows, milliseconds");
  cli.add_flag("-q,--quiet", o.quiet, "Print the summary only when some file failed or the run broke down");
  cli.set_version_flag("--version", std::string("importmivo ") + IMPORTMIVO_VERSION);

  CLI::App* requeue = cli.add_subcommand("requeue", "Move failed files back into the work folder");
  requeue->footer(std::string(kRequeueDescription) + "\n" + kRequeueFooter);
  requeue->add_option("--work-dir", o.workDir, "Work folder holding the XML files")
      ->type_name("DIR")
      ->capture_default_str();
  requeue->add_option("--lock-wait", o.lockWait, "How long to wait for a run on the work folder, in SECONDS")
      ->type_name("SECONDS")
      ->capture_default_str();
  requeue->add_option("NAME", o.names, "Bare file names in FisiereCuEroare/ (default: every file there)")
      ->type_name("");

  CLI::App* errors = cli.add_subcommand("errors", "List the error log mivo_import_log_err");
  errors->footer(std::string(kErrorsDescription) + "\n" + kErrorsFooter);
  errors->add_option("--db", o.db, "libpq connection string or URI (overrides the PG* environment)")
      ->type_name("CONNINFO");
  errors->add_option("--since", o.since, "List only the rows written since WHEN")->type_name("WHEN");
  cli.require_subcommand(0, 1);

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
  if (requeue->parsed()) o.command = Command::Requeue;
  if (errors->parsed()) o.command = Command::Errors;
  for (const CLI::App* app : {&cli, requeue, errors})
    for (const CLI::Option* opt : app->get_options())
      if (opt->count() > 0 && !opt->get_lnames().empty()) o.given.push_back("--" + opt->get_lnames().front());

  if (auto err = validate(o)) {
    out.error = fmt::format("importmivo: {}\nTry 'importmivo --help' for more information.\n", *err);
    out.exitCode = kExitUsage;
    return out;
  }
  out.options = o;
  return out;
}

std::optional<std::string> validate(const Options& o) {
  const auto& ok = accepted(o.command);
  for (const std::string& name : o.given)
    if (std::find(ok.begin(), ok.end(), name) == ok.end())
      return fmt::format("optiunea {} nu se foloseste cu {}", name, commandName(o.command));
  if (o.workDir.empty()) return std::string("--work-dir nu poate fi gol");
  if (o.workDir.find('\0') != std::string::npos) return std::string("--work-dir contine un octet NUL");
  if (!(o.maxFileMB >= 1 && o.maxFileMB <= 1048576))
    return std::string("--max-file-size trebuie sa fie un numar de MB intre 1 si 1048576");
  if (!(o.minAge >= 0 && o.minAge <= 1e9))
    return std::string("--min-age trebuie sa fie un numar de secunde, 0 sau mai mare");
  if (!(o.lockWait >= 0 && o.lockWait <= 1e6))
    return std::string("--lock-wait trebuie sa fie un numar de secunde, 0 sau mai mare");
  const auto given = [&](const char* name) { return std::find(o.given.begin(), o.given.end(), name) != o.given.end(); };
  if ((given("--watch") || o.watch != 0) && !(o.watch >= 0.05 && o.watch <= 1e6))
    return std::string("--watch trebuie sa fie un numar de secunde, cel putin 0.05");
  if (o.dryRun && o.watch > 0)
    return std::string(
        "--dry-run si --watch nu se folosesc impreuna (simularea nu schimba nimic de la o rulare la alta)");
  if (o.verbose && o.quiet) return std::string("--verbose si --quiet nu se folosesc impreuna");
  if (!o.report.empty()) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::absolute(o.report, ec).parent_path();
    if (ec || !std::filesystem::is_directory(parent, ec))
      return fmt::format("--report: directorul {} nu exista", parent.string());
    if (std::filesystem::is_directory(o.report, ec)) return fmt::format("--report: {} este un director", o.report);
  }
  for (const std::string& name : o.names)
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
      return fmt::format("requeue: \"{}\" nu este un nume de fisier simplu (fara director)", name);
  if ((given("--since") || !o.since.empty()) && !parseSince(o.since))
    return fmt::format(
        "--since: \"{}\" nu este o data (2024-05-31), o data si o ora (\"2024-05-31 18:00\"), un "
        "interval (30m, 12h, 7d), azi sau ieri",
        o.since);
  return std::nullopt;
}

std::string workFolder(const Options& o) {
  std::error_code ec;
  std::string dir = std::filesystem::absolute(o.workDir, ec).string();
  if (ec) dir = o.workDir;
  if (dir.back() != '/') dir += '/';
  return dir;
}

RunSettings toSettings(const Options& o) {
  RunSettings s;
  s.workDir = workFolder(o);
  s.conninfo = o.db;
  s.minAgeSeconds = o.minAge;
  s.maxFileBytes = static_cast<std::uint64_t>(o.maxFileMB * 1024 * 1024);
  s.lockWaitSeconds = o.lockWait;
  s.dryRun = o.dryRun;
  return s;
}

}  // namespace app
