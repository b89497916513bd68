// Text checks for names and messages that go into the database, which holds UTF-8 only.
#pragma once

#include <string>
#include <string_view>

namespace app {

// True when `s` is well-formed UTF-8 without NUL bytes.
bool validUtf8(std::string_view s);

// `s` with every byte that is not part of well-formed UTF-8 (and every NUL) written as \xNN, and every
// backslash as \\ so that the rendering stays unambiguous. Valid text without backslashes is unchanged.
std::string escapedUtf8(std::string_view s);

}  // namespace app
