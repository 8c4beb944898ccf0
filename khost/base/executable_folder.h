// Where the running executable lies: the folder khost finds the module and
// its shipped configuration beside.
#pragma once

#include <string>

namespace khost {

// The folder of the running executable ("" when it cannot be found).
// [any thread]
std::string ExecutableFolder();

}  // namespace khost
