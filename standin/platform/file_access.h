// Reading and replacing the host's files, the way each platform does it.
// Used by the configuration files (kbaselib). Paths are UTF-8.
//
// Threads: any; nothing is kept between calls.
#pragma once

#include <cstddef>
#include <string>

namespace kplatform {

enum class FileRead {
  kRead,        // the file's bytes are in `content`
  kMissing,     // nothing at the path (a file may be created there)
  kUnreadable,  // something is there but cannot be read as a regular file
};

// Reads a regular file into `content` (replacing it), stopping once more
// than `limit` bytes are in, so that the caller sees the file is longer.
// A folder, device or pipe is unreadable and never waited on.
FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content);

// Writes `text` to a new temporary beside `path` and puts it in `path`'s
// place in one step, keeping the old file's permissions. False, with the old
// file as it was and no temporary left, when any step fails.
bool ReplaceWholeFile(const std::string& path, const std::string& text);

}  // namespace kplatform
