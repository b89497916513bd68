// importmivo errors: the error log, readably.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace app {

// The earliest time of the rows listed, as the server computes it: `bound` is an SQL expression that
// uses $1 when `param` is given.
struct Since {
  std::string bound;
  std::optional<std::string> param;
};

// WHEN: a date (2024-05-31), a date and time (2024-05-31 18:00[:ss], or with T), a span back from now
// (a whole number followed by m, h or d), "azi" (since midnight) or "ieri" (since yesterday's midnight).
// Nothing when the text is none of these.
std::optional<Since> parseSince(std::string_view when);

// Writes the rows of mivo_import_log_err (all, or those written since `since`), oldest first, to
// `out`. Returns the exit status: 0, or 2 when the database cannot be reached or read (said on `err`).
int listErrors(const std::string& conninfo, const std::string& since, std::ostream& out, std::ostream& err);

}  // namespace app
