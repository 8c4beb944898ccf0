// Editing the host's configuration files (config_files.h) in
// place: setting Section/Key = Value changes only that value's text.
//
// The text is read by the rules the host's reader uses (see
// standin/kbaselib/config.cpp): sections and keys match without case, a
// later header of a section continues it, the last definition of a key
// wins (so that is the one edited), keys after a damaged header are not
// read (so they are never edited), a value in quotes stays in quotes.
// Every other byte stays: comments, blank lines, key order, the spacing
// around the value, the line endings, a byte order mark. A key that is not
// defined is added after the last line of its section that the reader
// takes; a section that is missing is added at the end of the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "khost/base/status.h"

namespace khost {

struct ConfigEdit {
  std::string Section;
  std::string Key;
  std::string Value;
};

struct ConfigLineChange {
  int Line = 0;  // 1-based, in the new text
  bool Added = false;
  std::string Old;  // the line before (empty when added), without its ending
  std::string New;  // the line now, without its ending
};

struct ConfigTextEdit {
  std::string Text;
  std::vector<ConfigLineChange> Changes;  // in line order; none when nothing changed
};

// Applies `edits` in order (a later edit of the same key wins). Refuses a
// section, key or value the reader would not read back as given.
Result<ConfigTextEdit> EditConfigText(std::string_view text, const std::vector<ConfigEdit>& edits);

struct ConfigFileEdit {
  std::string Path;
  bool Exists = false;
  ConfigTextEdit Edit;
};

// Reads the file at `path` (a missing file counts as empty; anything but a
// regular file, or a link to one, is refused, and so is a file the reader
// would not read whole) and works out the edit. Writes nothing.
Result<ConfigFileEdit> PlanConfigFileEdit(const std::string& path,
                                          const std::vector<ConfigEdit>& edits);

// Replaces the file with the edited text in one step (the output file rules:
// a temporary beside it, renamed over it; a link stays a link). Does
// nothing when nothing changed.
Status WriteConfigFileEdit(const ConfigFileEdit& edit);

}  // namespace khost
