// Text checks for names and messages that go into the database, which holds UTF-8 only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// True when `s` is well-formed UTF-8 without NUL bytes.
bool validUtf8(std::string_view s);

// `s` with every byte that is not part of well-formed UTF-8 (and every NUL) written as \xNN, and every
// backslash as \\ so that the rendering stays unambiguous. Valid text without backslashes is unchanged.
std::string escapedUtf8(std::string_view s);

// `s` as it may be shown on a terminal or in a mail: control characters (C0, DEL and C1, so that a file
// name or a value cannot move the cursor or change the terminal) and bytes that are not part of
// well-formed UTF-8 are written as \xNN; other text is unchanged. A message of several lines keeps its
// line breaks and tabs when `lines` is true.
std::string printable(std::string_view s, bool lines = false);

// A count with its noun, as Romanian says it: "1 fisier", "2 fisiere", "20 de fisiere", "101 fisiere".
std::string counted(std::uint64_t n, std::string_view one, std::string_view many);

}  // namespace app
