#include "app/report.h"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/classify.h"
#include "app/text.h"

namespace app {
namespace {

double seconds(std::chrono::nanoseconds d) { return std::chrono::duration<double>(d).count(); }
double millis(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Local time for people, UTC for the report.
std::string localTime(std::chrono::system_clock::time_point t) {
  const std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min, tm.tm_sec);
}

std::string utcTime(std::chrono::system_clock::time_point t) {
  const std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

// Where a file of this fate goes.
const char* folderOf(Fate fate) {
  switch (fate) {
    case Fate::Imported:
    case Fate::NotAdmitted: return "FisiereTransferate";
    case Fate::Failed: return "FisiereCuEroare";
    case Fate::Unrecognised: return "FisiereNetratate";
  }
  return "";
}

const char* fateKey(Fate fate) {
  switch (fate) {
    case Fate::Imported: return "imported";
    case Fate::NotAdmitted: return "not_admitted";
    case Fate::Failed: return "failed";
    case Fate::Unrecognised: return "unrecognised";
  }
  return "";
}

const char* endKey(RunEnd end) {
  switch (end) {
    case RunEnd::Completed: return "completed";
    case RunEnd::Stopped: return "stopped";
    case RunEnd::BrokeDown: return "broke_down";
    case RunEnd::Locked: return "locked";
  }
  return "";
}

// Counts of one file list, or of the whole run.
struct Tally {
  std::uint64_t imported = 0, notAdmitted = 0, failed = 0, unrecognised = 0, rows = 0;
  std::chrono::nanoseconds time{0};
  std::uint64_t files() const { return imported + notAdmitted + failed + unrecognised; }
  void add(const FileOutcome& f) {
    switch (f.fate) {
      case Fate::Imported: ++imported; break;
      case Fate::NotAdmitted: ++notAdmitted; break;
      case Fate::Failed: ++failed; break;
      case Fate::Unrecognised: ++unrecognised; break;
    }
    rows += f.rows;
    time += f.time;
  }
};

std::array<Tally, kFileLists> byList(const RunRecord& r) {
  std::array<Tally, kFileLists> lists{};
  for (const FileOutcome& f : r.files) lists.at(static_cast<std::size_t>(f.list)).add(f);
  return lists;
}

Tally overall(const RunRecord& r) {
  Tally t;
  for (const FileOutcome& f : r.files) t.add(f);
  return t;
}

std::size_t notHandled(const RunRecord& r) { return r.listed > r.files.size() ? r.listed - r.files.size() : 0; }

// Text of several lines, each made printable and indented.
std::string indented(const std::string& text, const char* indent) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t nl = text.find('\n', start);
    out += indent;
    out += printable(std::string_view(text).substr(start, nl == std::string::npos ? nl : nl - start), true);
    out += '\n';
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return out;
}

// A JSON string: the text as it is when it is UTF-8, otherwise its escaped rendering (\xNN).
std::string json(std::string_view s) {
  const std::string text = validUtf8(s) ? std::string(s) : escapedUtf8(s);
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20)
          out += fmt::format("\\u{:04x}", static_cast<unsigned char>(c));
        else
          out += c;
    }
  }
  return out + "\"";
}

std::string jsonOrNull(const std::string& s) { return s.empty() ? std::string("null") : json(s); }

std::string number(double v) { return fmt::format("{:.3f}", v); }

std::string tallyJson(const Tally& t) {
  return fmt::format(R"("files": {}, "imported": {}, "not_admitted": {}, "failed": {}, "unrecognised": {}, )"
                     R"("rows": {}, "time_ms": {})",
                     t.files(), t.imported, t.notAdmitted, t.failed, t.unrecognised, t.rows, number(millis(t.time)));
}

}  // namespace

const char* fateText(Fate fate) {
  switch (fate) {
    case Fate::Imported: return "importat";
    case Fate::NotAdmitted: return "neadmis";
    case Fate::Failed: return "cu eroare";
    case Fate::Unrecognised: return "netratat";
  }
  return "";
}

std::string summaryText(const RunRecord& r) {
  std::string out;
  const Tally all = overall(r);
  const std::chrono::nanoseconds total = r.totals.totalTime;
  out += fmt::format("importmivo: rularea din {}, {} in {}", localTime(r.started),
                     counted(r.listed, "fisier", "fisiere"), printable(r.workDir));
  if (r.dryRun) {
    out +=
        "\nSimulare (--dry-run): nimic nu a fost scris in baza de date si niciun fisier nu a fost mutat;\n"
        "tabelul arata ce ar face o rulare reala.";
  }
  out += "\n\n";

  const auto row = [](std::string_view name, const Tally& t) {
    return fmt::format("{:<17}{:>10}{:>10}{:>11}{:>11}{:>9}{:>10.2f} s\n", name, t.imported, t.notAdmitted, t.failed,
                       t.unrecognised, t.rows, seconds(t.time));
  };
  out += fmt::format("{:<17}{:>10}{:>10}{:>11}{:>11}{:>9}{:>12}\n", "Tip document", "Importate", "Neadmise",
                     "Cu eroare", "Netratate", "Randuri", "Timp");
  const auto lists = byList(r);
  for (std::size_t l = 0; l < kFileLists; ++l)
    if (lists[l].files() > 0) out += row(listName(static_cast<FileList>(l)), lists[l]);
  Tally totalRow = all;
  totalRow.time = total;
  out += row("Total", totalRow);
  out += fmt::format("Timp: total {:.2f} s", seconds(total));
  if (!r.files.empty() && total.count() > 0)
    out += fmt::format(" ({:.1f} fisiere/s)", static_cast<double>(r.files.size()) / seconds(total));
  out += fmt::format(
      "; scanare {:.2f} s, citire XML {:.2f} s,\n      tabele de import {:.2f} s, functii server "
      "{:.2f} s, mutare {:.2f} s\n",
      seconds(r.totals.scanTime), seconds(r.totals.parseTime), seconds(r.staging.stagingTime),
      seconds(r.staging.functionTime), seconds(r.totals.moveTime));

  if (all.failed > 0) {
    out += "\n";
    out += r.dryRun
               ? fmt::format("Fisiere care ar esua ({}):\n", all.failed)
               : fmt::format("Fisiere cu eroare ({}), scrise in mivo_import_log_err si mutate in FisiereCuEroare/:\n",
                             all.failed);
    for (const FileOutcome& f : r.files) {
      if (f.fate != Fate::Failed) continue;
      out += "  " + printable(f.name) + "\n";
      out += indented(f.error, "      ");
    }
  }
  if (r.totals.notMoved > 0) {
    out += fmt::format(
        "\nFisiere care nu au putut fi mutate ({}); raman in directorul de lucru pentru rularea "
        "urmatoare:\n",
        r.totals.notMoved);
    for (const FileOutcome& f : r.files)
      if (!f.moved) out += fmt::format("  {} (trebuia mutat in {}/)\n", printable(f.name), folderOf(f.fate));
  }
  const std::size_t left = notHandled(r);
  switch (r.end) {
    case RunEnd::Completed:
    case RunEnd::Locked: break;
    case RunEnd::Stopped:
      out += fmt::format("\nOprire ceruta: {} in directorul de lucru pentru rularea urmatoare.\n",
                         left == 1 ? std::string("1 fisier ramane") : counted(left, "fisier", "fisiere") + " raman");
      break;
    case RunEnd::BrokeDown:
      out += "\nRularea s-a intrerupt";
      if (!r.errorFile.empty()) out += " la fisierul " + printable(r.errorFile);
      out += ":\n" + indented(r.error, "  ");
      out += fmt::format("{} in directorul de lucru pentru rularea urmatoare.\n",
                         left == 1 ? std::string("1 fisier ramane") : counted(left, "fisier", "fisiere") + " raman");
      break;
  }
  return out;
}

std::string reportJson(const RunRecord& r) {
  const Tally all = overall(r);
  std::string out = "{\n";
  out += fmt::format("  \"program\": \"importmivo\",\n  \"version\": {},\n", json(IMPORTMIVO_VERSION));
  out += fmt::format("  \"started\": {},\n  \"finished\": {},\n", json(utcTime(r.started)), json(utcTime(r.finished)));
  out += fmt::format("  \"work_dir\": {},\n  \"dry_run\": {},\n", json(r.workDir), r.dryRun ? "true" : "false");
  out += fmt::format("  \"status\": \"{}\",\n  \"exit_status\": {},\n", endKey(r.end), r.exitStatus);
  out += fmt::format("  \"error\": {},\n  \"error_file\": {},\n", jsonOrNull(r.error), jsonOrNull(r.errorFile));
  Tally totalRow = all;
  totalRow.time = r.totals.totalTime;
  out += fmt::format("  \"totals\": {{\"listed\": {}, {}, \"not_moved\": {}, \"left_in_work_dir\": {},\n", r.listed,
                     tallyJson(totalRow), r.totals.notMoved, notHandled(r));
  out += fmt::format(
      "             \"phases_ms\": {{\"scan\": {}, \"parse\": {}, \"staging\": {}, \"functions\": {}, "
      "\"move\": {}}}}},\n",
      number(millis(r.totals.scanTime)), number(millis(r.totals.parseTime)), number(millis(r.staging.stagingTime)),
      number(millis(r.staging.functionTime)), number(millis(r.totals.moveTime)));
  out += "  \"kinds\": [";
  const auto lists = byList(r);
  bool first = true;
  for (std::size_t l = 0; l < kFileLists; ++l) {
    if (lists[l].files() == 0) continue;
    out += first ? "\n" : ",\n";
    first = false;
    out += fmt::format("    {{\"kind\": {}, {}}}", json(listName(static_cast<FileList>(l))), tallyJson(lists[l]));
  }
  out += first ? "],\n" : "\n  ],\n";
  out += "  \"files\": [";
  first = true;
  for (const FileOutcome& f : r.files) {
    out += first ? "\n" : ",\n";
    first = false;
    out += fmt::format(
        "    {{\"name\": {}, \"kind\": {}, \"method\": {}, \"fate\": \"{}\", \"rows\": {}, \"error\": {}, "
        "\"time_ms\": {}, \"folder\": \"{}\", \"moved\": {}}}",
        json(f.name), json(listName(static_cast<FileList>(f.list))), jsonOrNull(f.method), fateKey(f.fate), f.rows,
        f.fate == Fate::Failed ? json(f.error) : std::string("null"), number(millis(f.time)), folderOf(f.fate),
        f.moved ? "true" : "false");
  }
  out += first ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}

std::optional<std::string> writeReport(const std::string& path, const std::string& text) {
  const std::string temporary = fmt::format("{}.{}.tmp", path, ::getpid());
  std::FILE* f = std::fopen(temporary.c_str(), "w");
  if (f == nullptr) return fmt::format("{}: {}", temporary, std::strerror(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !written) {
    std::remove(temporary.c_str());
    return fmt::format("{}: {}", temporary, std::strerror(written ? errno : err));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int e = errno;
    std::remove(temporary.c_str());
    return fmt::format("{}: {}", path, std::strerror(e));
  }
  return std::nullopt;
}

std::string verboseLine(const FileOutcome& f, bool dryRun) {
  std::string line = fmt::format("importmivo: {}: {}{}, {}, {:.0f} ms", printable(f.name), dryRun ? "(simulare) " : "",
                                 fateText(f.fate), counted(f.rows, "rand", "randuri"), millis(f.time));
  if (!f.moved && !dryRun) line += fmt::format(", nemutat (trebuia mutat in {}/)", folderOf(f.fate));
  line += "\n";
  if (f.fate == Fate::Failed) line += indented(f.error, "    ");
  return line;
}

}  // namespace app
