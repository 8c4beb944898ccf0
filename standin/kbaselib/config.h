// The stand-in's own side of the configuration files: where "@Name.txt"
// files live. The host application sets the folder; KConfigFile
// (host/kbaselib.h) resolves names through it.
//
// Sections: configuration folder; reading and writing a configuration file.
// Form of the notes: [thread; ownership].
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Configuration folder
//-----------------------------------------------------------------------------

// The host's configuration folder. "@Name.txt" names the file Name.txt in it.
// The environment variable KHOST_CONFIG_DIR, when set and not empty, overrides
// the folder the host application sets. Default: the current directory.
KHOST_API void KConfig_SetFolder(const char* folder);  // [any; copies folder]
KHOST_API std::string KConfig_GetFolder();             // [any; -]
// The path a configuration file name stands for ("@Name.txt" resolved; any
// other name is taken as a path as it stands). [any; -]
KHOST_API std::string KConfig_ResolvePath(const char* fileName);

//-----------------------------------------------------------------------------
// [SECTION] Reading and writing a configuration file
//-----------------------------------------------------------------------------

// What the reader makes of one line of a file (without its '\n'; a '\r'
// before it is dropped): a comment or other text it skips, a section
// header, a header it cannot read (the keys below it belong to no section),
// or a key with its value. Tools that edit a file use it to find what the
// reader would take. [any; views into line]
enum class KConfigLineKind { kOther, kHeader, kBrokenHeader, kKey };
struct KConfigLine {
  KConfigLineKind Kind = KConfigLineKind::kOther;
  std::string_view Name;   // kHeader: the section
  std::string_view Key;    // kKey
  std::string_view Value;  // kKey: without its quotes
  bool Quoted = false;     // kKey: the value stood in quotes
};
KHOST_API KConfigLine KConfig_ParseLine(std::string_view line);
// The most of a file the reader reads (a longer file is read up to the last
// whole line within it) and the longest line it reads.
inline constexpr size_t kConfigMaxFileBytes = 16u * 1024u * 1024u;
inline constexpr size_t kConfigMaxLineLength = 64u * 1024u;
// Why the reader leaves a line out for its bytes (a NUL byte, another
// control character, a line longer than kConfigMaxLineLength); kNone for a
// line it reads and for a comment (nothing of which is read either way).
// [any; -]
enum class KConfigLeftOut { kNone, kNulByte, kControlCharacter, kTooLong };
KHOST_API KConfigLeftOut KConfig_LineLeftOut(std::string_view line);
// Text the reader cannot take as lines of text, which it therefore reads
// as (next to) empty: UTF-16 (a byte order mark FF FE or FE FF), NUL bytes
// throughout (UTF-16 or UTF-32 without a mark: four or more, and at least
// one byte in four of the first kConfigMaxLineLength), or lines ended by a
// carriage return
// alone (no line feed anywhere, a carriage return before the last byte).
// kText for anything else. [any; -]
enum class KConfigEncoding { kText, kUtf16, kNulBytes, kCarriageReturns };
KHOST_API KConfigEncoding KConfig_DetectEncoding(std::string_view text);
// Whether two section or key names are the same to the reader (ASCII case
// ignored). [any; -]
KHOST_API bool KConfig_SameName(std::string_view a, std::string_view b);
// The reader's blanks (space and tab) and `text` without them at either
// end. [any; views into text]
KHOST_API bool KConfig_IsBlank(char c);
KHOST_API std::string_view KConfig_Trim(std::string_view text);
// Which of section, key and value would not read back as written (a
// control character, blanks at an end, a character that ends the name, a
// line too long), the first that fails; kNone when all would. [any; -]
enum class KConfigUnwritable { kNone, kSection, kKey, kValue };
KHOST_API KConfigUnwritable KConfig_CheckWritable(std::string_view section, std::string_view key,
                                                  std::string_view value);
// `value` as a line holds it: in quotes when `quote` is set or the reader
// would otherwise lose its end blanks or a leading quote. [any; -]
KHOST_API std::string KConfig_FormatValue(std::string_view value, bool quote);

// Whether the file existed and was read. [ui; -]
KHOST_API bool KConfigFile_IsLoaded(const KConfigFile& file);

// Changes a value in memory; false for a file opened read-only or a null
// argument. [ui; copies section, key, value]
KHOST_API bool KConfigFile_Set(KConfigFile& file, const char* section, const char* key,
                               const char* value);
// Writes the file (writable files only). [ui; -]
KHOST_API bool KConfigFile_Save(KConfigFile& file);

// The way to a configuration file's state (a friend of KConfigFile).
struct KConfigFileAccess {
  static bool IsLoaded(const KConfigFile& file);
  static bool Set(KConfigFile& file, const char* section, const char* key, const char* value);
  static bool Save(KConfigFile& file);
};
