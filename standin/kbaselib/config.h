// The stand-in's own side of the configuration files: where "@Name.txt"
// files live. The host application sets the folder; KConfigFile
// (host/kbaselib.h) resolves names through it.
//
// Sections: configuration folder; reading and writing a configuration file.
// Form of the notes: [thread; ownership].
#pragma once

#include <string>

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
