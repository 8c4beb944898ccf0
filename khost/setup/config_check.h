// What the host's reader cannot take from a configuration file, found by
// its own rules (standin/kbaselib/config.h): text in an encoding it does not
// read (the file then reads as empty), and the lines it leaves out for
// their bytes or because they lie past the most of a file it reads. Start-up
// names them, so that a setting that is lost does not go unnoticed.
#pragma once

#include <string>
#include <vector>

#include "standin/kbaselib/config.h"

namespace khost {

// Lines named one by one; the rest are counted.
inline constexpr int kListedLeftOutLines = 3;

struct LeftOutLine {
  long Line = 0;  // 1-based
  std::string Reason;
};

// A key whose plain value looks as if it ended in a comment ("No ; note"),
// which the reader takes whole.
struct NotedValue {
  long Line = 0;  // 1-based
  std::string Key;
  std::string Value;
};

struct ConfigFileCheck {
  KConfigEncoding Encoding = KConfigEncoding::kText;
  std::vector<LeftOutLine> Listed;  // the first kListedLeftOutLines
  long LeftOut = 0;                 // all of them
  std::vector<NotedValue> Noted;    // the first kListedLeftOutLines
  long NotedCount = 0;              // all of them
};

// A value that starts with ';' or '#' or holds a blank and then one: what
// a reader of other formats would take for a comment after the value, and
// this reader takes as part of it.
bool LooksLikeComment(const KConfigLine& line);
// What to do about such a value, as the messages say it.
inline constexpr const char* kNoInlineComment =
    "a ';' or '#' after a value starts no comment; put the note on a line of its own, or the "
    "value in quotes";

// Reads the regular file at `path` whole (past the reader's cap without
// keeping it). A file that is missing or cannot be read gives no findings.
ConfigFileCheck CheckConfigFile(const std::string& path);

// What the reader makes of text in `encoding`, as "is UTF-16 text" and the
// like; empty for kText.
std::string EncodingProblem(KConfigEncoding encoding);

// The findings as warnings, one a line, each naming the file.
std::vector<std::string> DescribeConfigFileCheck(const std::string& path,
                                                 const ConfigFileCheck& check);

}  // namespace khost
