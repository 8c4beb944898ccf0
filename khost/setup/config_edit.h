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
  std::string Target;  // the file that gets the text, links followed
};

// Reads the file at `path` and works out the edit; writes nothing. A
// missing file counts as empty. Refused: anything but a regular file (or a
// link to one), a file the reader would not read whole (status 1), and, as
// bad input (status 2), text in an encoding the reader does not read and a
// file that could not be replaced as it is: without its owner's write
// permission, not writable by this user, or whose owner and group a
// rewrite by this user could not keep (output_file.h's rules hold too: a
// folder khost may write).
Result<ConfigFileEdit> PlanConfigFileEdit(const std::string& path,
                                          const std::vector<ConfigEdit>& edits);

// Whether two planned files are one file under two names (a link to the
// other, a hard link, or the same name reached another way).
bool SameConfigFile(const ConfigFileEdit& a, const ConfigFileEdit& b);

// Replaces the files that change with their edited text, all or none:
// each new text is first written whole into a temporary beside its file,
// then the files are replaced one after the other, each in one step (a link
// stays a link). When a file cannot be replaced, those replaced before it
// are put back as they were (the old file itself, kept aside under another
// name until all are in place), and the failure says whether that worked.
// The owner, group and permissions of a replaced file are kept, or nothing
// is written.
Status WriteConfigFileEdits(const std::vector<ConfigFileEdit>& edits);
inline Status WriteConfigFileEdit(const ConfigFileEdit& edit) {
  return WriteConfigFileEdits({edit});
}

}  // namespace khost
