// The staging scripts compiled into the program from sql/staging/*.sql.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace staging {
const std::map<std::string, std::string, std::less<>>& embeddedScripts();
}
