// The named temporaries of every output file (those a file system without
// unnamed files needs, and those a commit names for a moment before moving
// them into place), listed in a fixed table so that a process that must end
// at once removes them.
#pragma once

#include <string>

namespace khost {

// Lists `path`; gives the entry (-1: the table is full or the name too
// long). [any thread] the table copies `path`.
int RegisterTemporaryName(const std::string& path);
// Takes the entry out (-1: nothing). [any thread]
void ForgetTemporaryName(int entry);
// Removes every listed temporary. [any thread] [signal handler]
void RemoveNamedTemporaries() noexcept;

}  // namespace khost
