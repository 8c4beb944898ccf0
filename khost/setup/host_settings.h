// The host's own settings: the configuration folder they are read from,
// read at start-up from the two configuration files (config_files.h) with
// the same keys and rules as the tool's "Reset To Default", and the ten
// settings the tool edits, for --print-settings.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "khost/base/config_files.h"
#include "khost/base/status.h"
#include "khost/scene/workload.h"

namespace khost {

// Chooses the configuration folder: `commandLine` (--config-dir) when
// given, else kConfigFolderVariable (which the host library reads itself),
// else a kConfigFolderName folder beside the executable, else the one
// shipped with the sources, else the current folder. A folder named on the command line or
// in the environment that is missing or not a folder is bad input.
Status ResolveConfigFolder(const std::optional<std::string>& commandLine);

// The warnings about the configuration files of the chosen folder, each
// naming its file: one that is there but cannot be read, or is in an
// encoding the reader does not read (its settings then take their
// defaults), and the lines the reader leaves out (config_check.h). A
// missing file gives the defaults as intended: no warning.
std::vector<std::string> ConfigFileWarnings();

// The folder of a configuration file (kApplicationConfig, kTaskConfig) as
// the chosen folder names it: a relative path the file holds is taken from
// there.
std::string ConfigFileFolder(const char* config);

// Text rules of the configuration values.
bool IsExactlyYes(const char* text);       // kYesText, case-sensitive, whole text
bool IsYesIgnoringCase(const char* text);  // kYesText in any case, whole text
bool IsNotSerial(const char* text);        // anything but kSerialText in any case
int ReadInteger(const char* text);         // as atoi reads it; beyond int clamped

// What the two files give for the nine settings, plus the host-only scene
// size: ReadConfiguredSettings sets every field, a missing key reading as
// its key's Default (config_files.h).
struct ConfiguredSettings {
  bool EarlyFrustumCulling = false;
  bool ParallelPipeline = false;
  int ParallelEvaluation = 0;
  bool ParallelDeformation = false;
  bool GPUSkinDeform = false;
  int BufferSize = 0;
  bool FrameReference = false;
  int EvaluationDepth = 0;
  int ProfilingType = 0;
  // kCharactersKey: how many characters the scene starts with (1 to
  // kMaxCharacters).
  int Characters = 0;
  // kSceneFileKey: the scene file opened without --scene (kBuiltinScene or
  // empty: the procedural characters), and kSceneInstancesKey: how many
  // instances of its model the crowd starts with (1 to kMaxCharacters).
  std::string SceneFile;
  int SceneInstances = 0;
};

// Reads both files from the configuration folder.
ConfiguredSettings ReadConfiguredSettings();
// Writes the nine settings into the host's profiler and engine settings.
void ApplyConfiguredSettings(const ConfiguredSettings& settings);

// The engine settings as they stand in the host objects now.
EngineSettings CurrentEngineSettings();

// The ten settings as name=value lines (booleans as 0 or 1), in the order
// FrustumCulling, ParallelPipeline, ParallelEvaluation, ParallelDeformation,
// GPUSkinning, NodeCount, ProfilingType, EvaluationDepth, BufferSize,
// FrameReference.
void PrintSettings(std::ostream& out);

}  // namespace khost
