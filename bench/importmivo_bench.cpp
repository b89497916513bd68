// importmivo_bench: one batch run over a work folder with a chosen staging policy, and where its time
// went. The connection comes from libpq's defaults (PG* variables) or --db, as for importmivo.
//
//   importmivo_bench --work-dir DIR [--policy fast|original] [--db CONNINFO] [--label TEXT]
//
// The last line is machine-readable: "result: policy=... files=... seconds=... files_per_s=... ...".
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "imports/data_module.h"

namespace {

using Seconds = std::chrono::duration<double>;

double seconds(std::chrono::nanoseconds d) { return std::chrono::duration_cast<Seconds>(d).count(); }

// The peak resident set size of this process so far, in KiB.
double peakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss);
}

// CPU seconds used by this process.
double ownCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds used by a process of this machine (the server backend of a local cluster), or a negative
// number when it cannot be read.
double processCpuSeconds(int pid) {
  std::ifstream in(fmt::format("/proc/{}/stat", pid));
  std::string stat;
  std::getline(in, stat);
  const auto close = stat.rfind(')');
  if (!in || close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)  // fields 14 and 15: utime, stime
    if (i >= 14) ticks += std::stod(field);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Input {
  std::uint64_t files = 0, bytes = 0, largest = 0;
};

Input measureInput(const std::string& folder) {
  Input in;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (!e.is_regular_file(ec)) continue;
    const auto size = e.file_size(ec);
    if (ec) continue;
    ++in.files;
    in.bytes += size;
    in.largest = std::max<std::uint64_t>(in.largest, size);
  }
  return in;
}

const char* fateName(Fate f) {
  switch (f) {
    case Fate::Imported: return "imported";
    case Fate::NotAdmitted: return "set aside";
    case Fate::Failed: return "failed";
    case Fate::Unrecognised: return "unrecognised";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::string workDir, db, policyName = "fast", label;
  int showFailures = 3;
  CLI::App cli("importmivo_bench: one batch run with a chosen staging policy, and its figures");
  cli.add_option("--work-dir", workDir, "Work folder holding the XML files")->required();
  cli.add_option("--policy", policyName, "Staging policy: fast or original")
      ->check(CLI::IsMember({"fast", "original"}))
      ->capture_default_str();
  cli.add_option("--db", db, "libpq connection string or URI (overrides the PG* environment)");
  cli.add_option("--label", label, "A name for this run in the output");
  cli.add_option("--show-failures", showFailures, "How many failed files to list with their reason")
      ->capture_default_str();
  CLI11_PARSE(cli, argc, argv);

  RunSettings settings;
  settings.workDir = std::filesystem::absolute(workDir).string();
  if (settings.workDir.back() != '/') settings.workDir += '/';
  settings.conninfo = db;
  settings.policy = policyName == "original" ? staging::Policy::Original : staging::Policy::Fast;
  settings.maxFileBytes = UINT64_MAX;  // the benchmark measures large documents too

  const Input input = measureInput(settings.workDir);
  const double rssBefore = peakRssKb();

  TDataModule2 dm(settings);
  std::map<Fate, std::uint64_t> fates;
  std::vector<FileOutcome> failures;
  dm.onFile = [&](const FileOutcome& o) {
    ++fates[o.fate];
    if (o.fate == Fate::Failed && failures.size() < static_cast<std::size_t>(std::max(showFailures, 0)))
      failures.push_back(o);
  };
  const double cpuAtStart = ownCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  try {
    dm.DataModuleCreate();
  } catch (const std::exception& e) {
    std::cerr << "importmivo_bench: the run broke down: " << e.what() << '\n';
    return 2;
  }
  const double wall = seconds(std::chrono::steady_clock::now() - t0);
  const double rss = peakRssKb();
  const double cpu = ownCpuSeconds() - cpuAtStart;
  // The connection is still open: its server process has done the run's whole server side.
  const double backendCpu = dm.pgConn ? processCpuSeconds(PQbackendPID(dm.pgConn.get())) : -1;

  const RunTotals& t = dm.totals;
  const staging::StagingStats& s = dm.staging.stats();
  const std::uint64_t files = t.imported + t.notAdmitted + t.failed + t.unrecognised;
  const double total = seconds(t.totalTime);
  // Reading ahead happens while the server runs a function: that time is in both parse and functions.
  const double accounted = seconds(t.scanTime) + seconds(t.parseTime) - seconds(t.parseAheadTime) +
                           seconds(s.stagingTime) + seconds(s.functionTime) + seconds(t.moveTime);
  const auto share = [&](double part) { return total > 0 ? 100.0 * part / total : 0.0; };
  const auto line = [&](const char* what, double secs) {
    fmt::print("  {:<18}{:>9.3f} s  {:>5.1f}%\n", what, secs, share(secs));
  };

  fmt::print("== {} ({} policy)\n", label.empty() ? settings.workDir : label, policyName);
  fmt::print("  files             {} (", files);
  bool first = true;
  for (const auto& [fate, n] : fates) {
    fmt::print("{}{} {}", first ? "" : ", ", fateName(fate), n);
    first = false;
  }
  fmt::print("), {:.1f} MB, {} not moved\n", static_cast<double>(input.bytes) / 1e6, t.notMoved);
  fmt::print("  run time          {:>9.3f} s  (wall {:.3f} s)\n", total, wall);
  fmt::print("  files/s           {:>9.1f}\n", total > 0 ? static_cast<double>(files) / total : 0.0);
  fmt::print("  staged rows       {:>9}  ({:.0f} rows/s; {} staging scripts run, {} server functions)\n", s.rowsStaged,
             total > 0 ? static_cast<double>(s.rowsStaged) / total : 0.0, s.scriptsRun, s.functionsCalled);
  fmt::print("  CPU               {:>9.3f} s importmivo", cpu);
  if (backendCpu >= 0) fmt::print(", {:.3f} s its server process", backendCpu);
  fmt::print(" (other work on the machine slows the run down when the two do not find a free core)\n");
  fmt::print("  peak RSS          {:>9.1f} MB (before the run {:.1f} MB)\n", rss / 1024.0, rssBefore / 1024.0);
  if (input.largest >= 1000000)  // for one large document: memory against its size
    fmt::print("  largest file      {:>9.1f} MB; peak RSS is {:.2f} x its size\n",
               static_cast<double>(input.largest) / 1e6, rss * 1024.0 / static_cast<double>(input.largest));
  line("scan", seconds(t.scanTime));
  fmt::print("  {:<18}{:>9.3f} ms per 1000 names\n", "",
             input.files > 0 ? 1e3 * seconds(t.scanTime) / (static_cast<double>(input.files) / 1000.0) : 0.0);
  line("parse", seconds(t.parseTime));
  fmt::print("  {:<18}{:>9.3f} s of it reading the next file while the server ran a function\n", "",
             seconds(t.parseAheadTime));
  line("staging", seconds(s.stagingTime));
  line("server functions", seconds(s.functionTime));
  line("moves", seconds(t.moveTime));
  line("the rest", total - accounted);
  for (const auto& f : failures) fmt::print("  failed: {}: {}\n", f.name, f.error);
  fmt::print(
      "result: policy={} files={} seconds={:.4f} files_per_s={:.2f} rows={} rows_per_s={:.1f} peak_rss_kb={:.0f} "
      "largest_bytes={} scan_s={:.6f} parse_s={:.4f} parse_ahead_s={:.4f} staging_s={:.4f} functions_s={:.4f} "
      "moves_s={:.4f} imported={} failed={} set_aside={} unrecognised={} cpu_s={:.3f} server_cpu_s={:.3f}\n",
      policyName, files, total, total > 0 ? static_cast<double>(files) / total : 0.0, s.rowsStaged,
      total > 0 ? static_cast<double>(s.rowsStaged) / total : 0.0, rss, input.largest, seconds(t.scanTime),
      seconds(t.parseTime), seconds(t.parseAheadTime), seconds(s.stagingTime), seconds(s.functionTime),
      seconds(t.moveTime), t.imported, t.failed, t.notAdmitted, t.unrecognised, cpu, backendCpu);
  return 0;
}
