// The host's configuration files, named once: where they are looked for,
// their names, and every key khost reads or writes in them with the text a
// missing key reads as. Start-up reads them (host_settings.h), a tune writes
// them (tune_config.h) and --help names them; the tool's "Reset To Default"
// reads the same keys with the same defaults.
#pragma once

#include <string_view>

namespace khost {

// The variable naming the configuration folder, and the folder looked for
// beside the executable when it is not set.
inline constexpr const char* kConfigFolderVariable = "KHOST_CONFIG_DIR";
inline constexpr const char* kConfigFolderName = "config";

// The two files as the host library names them: "@NAME" is NAME in the
// configuration folder.
inline constexpr const char* kApplicationConfig = "@Application.txt";
inline constexpr const char* kTaskConfig = "@Task.txt";
// "Application.txt" for kApplicationConfig: the name without the "@".
constexpr const char* ConfigFileName(const char* config) {
  return config + 1;
}

// The value texts the rules of host_settings.h read.
inline constexpr const char* kYesText = "Yes";
inline constexpr const char* kNoText = "No";
inline constexpr const char* kSerialText = "Serial";
inline constexpr const char* kParallelText = "Parallel";

struct ConfigKey {
  const char* File;  // kApplicationConfig or kTaskConfig
  const char* Section;
  const char* Name;
  const char* Default;  // what a missing key reads as
  bool InTask() const { return std::string_view(File) == kTaskConfig; }
};

// The engine settings.
inline constexpr ConfigKey kFrustumCullingKey{kApplicationConfig, "Display", "EarlyFrustumCulling",
                                              kYesText};
inline constexpr ConfigKey kGpuSkinningKey{kApplicationConfig, "Display", "UseGPUSkinDeform",
                                           kNoText};
inline constexpr ConfigKey kPipelineKey{kTaskConfig, "Evaluation", "Pipeline", kSerialText};
inline constexpr ConfigKey kEvaluationKey{kTaskConfig, "Evaluation", "Evaluation", "0"};
inline constexpr ConfigKey kDeformationKey{kTaskConfig, "Evaluation", "Deformation", kSerialText};
// The profiler's settings.
inline constexpr ConfigKey kBufferSizeKey{kApplicationConfig, "Benchmark", "BufferSize", "20"};
inline constexpr ConfigKey kFrameReferenceKey{kApplicationConfig, "Benchmark", "FrameReference",
                                              kYesText};
inline constexpr ConfigKey kEvaluationDepthKey{kApplicationConfig, "Benchmark", "EvaluationDepth",
                                               "0"};
inline constexpr ConfigKey kProfilingTypeKey{kApplicationConfig, "Benchmark", "ProfilingType", "1"};
// The scene: the procedural characters' count, the file opened without
// --scene and how many instances of its model the crowd starts with.
inline constexpr ConfigKey kCharactersKey{kTaskConfig, "Scene", "Characters", "16"};
inline constexpr ConfigKey kSceneFileKey{kApplicationConfig, "Scene", "File",
                                         "/usr/share/assimp/models/X/Testwuson.X"};
inline constexpr ConfigKey kSceneInstancesKey{kApplicationConfig, "Scene", "Instances", "24"};

}  // namespace khost
