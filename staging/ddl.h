// Reads the tables and columns that a staging script creates, from the script's own text.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "staging/staging.h"

namespace staging {

// Every `create table NAME (...)` of the script, with its columns in order and their types. Table
// constraints are skipped; names are folded to lower case, as the server folds unquoted names.
std::map<std::string, std::vector<Column>, std::less<>> tablesOfScript(std::string_view sql);

}  // namespace staging
