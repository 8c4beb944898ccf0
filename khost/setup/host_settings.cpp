#include "khost/setup/host_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "khost/base/executable_folder.h"
#include "khost/base/quoting.h"
#include "khost/setup/config_check.h"
#include "khost/setup/module_loader.h"
#include "standin/kbaselib/config.h"

#ifndef KHOST_SHIPPED_CONFIG_DIR
#define KHOST_SHIPPED_CONFIG_DIR ""
#endif

namespace khost {

namespace {

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why `path` cannot be the configuration folder; empty when it can.
std::string ConfigFolderProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "no such folder " + QuoteArgument(path);
  if (!S_ISDIR(info.st_mode)) return QuoteArgument(path) + " is not a folder";
  return "";
}

// Why the configuration file at `path` is there but cannot be read; empty
// when it is a readable file or is missing.
std::string ConfigFileProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return lstat(path.c_str(), &info) == 0 ? "is a link that leads nowhere" : "";
    }
    return std::string("cannot be reached (") + std::strerror(errno) + ")";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (access(path.c_str(), R_OK) != 0) {
    return std::string("cannot be read (") + std::strerror(errno) + ")";
  }
  return "";
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(*a);
    const unsigned char cb = static_cast<unsigned char>(*b);
    const int la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
    const int lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
    if (la != lb) return false;
    if (ca == 0) return true;
  }
}

}  // namespace

Status ResolveConfigFolder(const std::optional<std::string>& commandLine) {
  if (commandLine) {
    if (const std::string problem = ConfigFolderProblem(*commandLine); !problem.empty()) {
      return BadInput("--config-dir: " + problem);
    }
    // The variable outranks the folder the host sets; the command line must
    // win, for the module's reset as well.
    setenv(kConfigFolderVariable, commandLine->c_str(), 1);
    KConfig_SetFolder(commandLine->c_str());
    return {};
  }
  const char* env = std::getenv(kConfigFolderVariable);
  if (env && *env) {
    if (const std::string problem = ConfigFolderProblem(env); !problem.empty()) {
      return BadInput(std::string(kConfigFolderVariable) + ": " + problem);
    }
    return {};
  }
  const std::string exeFolder = ExecutableFolder();
  std::string folder = ".";
  if (const std::string beside = exeFolder + "/" + kConfigFolderName; IsDirectory(beside)) {
    folder = beside;
  } else if (IsDirectory(KHOST_SHIPPED_CONFIG_DIR)) {
    folder = KHOST_SHIPPED_CONFIG_DIR;
  }
  KConfig_SetFolder(folder.c_str());
  return {};
}

std::vector<std::string> ConfigFileWarnings() {
  std::vector<std::string> warnings;
  for (const char* name : {kApplicationConfig, kTaskConfig}) {
    const std::string path = KConfig_ResolvePath(name);
    if (const std::string problem = ConfigFileProblem(path); !problem.empty()) {
      warnings.push_back("configuration file " + QuoteArgument(path) + " " + problem +
                         "; its settings take their defaults");
      continue;
    }
    for (std::string& warning : DescribeConfigFileCheck(path, CheckConfigFile(path))) {
      warnings.push_back(std::move(warning));
    }
  }
  return warnings;
}

std::string ConfigFileFolder(const char* config) {
  const std::string path = KConfig_ResolvePath(config);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsExactlyYes(const char* text) {
  return text && std::strcmp(text, kYesText) == 0;
}
bool IsYesIgnoringCase(const char* text) {
  return text && EqualsIgnoringCase(text, kYesText);
}
bool IsNotSerial(const char* text) {
  return !text || !EqualsIgnoringCase(text, kSerialText);
}
int ReadInteger(const char* text) {
  if (!text) return 0;
  // strtol reads what atoi reads and reports a value beyond the int range
  // instead of leaving it undefined; that value is clamped.
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

ConfiguredSettings ReadConfiguredSettings() {
  ConfiguredSettings s;
  KConfigFile application(kApplicationConfig, false);
  KConfigFile task(kTaskConfig, false);
  const auto read = [&](const ConfigKey& key) {
    return (key.InTask() ? task : application).Get(key.Section, key.Name, key.Default);
  };
  s.EarlyFrustumCulling = IsExactlyYes(read(kFrustumCullingKey));
  s.ParallelPipeline = IsNotSerial(read(kPipelineKey));
  s.ParallelEvaluation = ReadInteger(read(kEvaluationKey));
  s.ParallelDeformation = IsNotSerial(read(kDeformationKey));
  s.GPUSkinDeform = IsYesIgnoringCase(read(kGpuSkinningKey));
  s.BufferSize = ReadInteger(read(kBufferSizeKey));
  s.FrameReference = IsYesIgnoringCase(read(kFrameReferenceKey));
  s.EvaluationDepth = ReadInteger(read(kEvaluationDepthKey));
  s.ProfilingType = ReadInteger(read(kProfilingTypeKey));
  s.Characters = std::clamp(ReadInteger(read(kCharactersKey)), 1, static_cast<int>(kMaxCharacters));
  s.SceneFile = read(kSceneFileKey);
  s.SceneInstances =
      std::clamp(ReadInteger(read(kSceneInstancesKey)), 1, static_cast<int>(kMaxCharacters));
  return s;
}

void ApplyConfiguredSettings(const ConfiguredSettings& s) {
  KShaders_GetRenderer()->EarlyFrustumCulling = s.EarlyFrustumCulling;
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  evaluation->ParallelPipeline = s.ParallelPipeline;
  int parallelEvaluation = s.ParallelEvaluation;
  evaluation->ParallelEvaluation.SetFromPointer(&parallelEvaluation, 0, 0);
  evaluation->ParallelDeformation = s.ParallelDeformation;
  KGPGPU_GetGPGPUManager()->GPUSkinDeform = s.GPUSkinDeform;
  KProfiler* profiler = KProfiler::TheOne();
  profiler->BufferSize = s.BufferSize;
  profiler->FrameReference = s.FrameReference;
  profiler->EvaluationDepthProperty = s.EvaluationDepth;
  int profilingType = s.ProfilingType;
  profiler->ProfilingType.SetFromPointer(&profilingType, 0, 0);
}

EngineSettings CurrentEngineSettings() {
  EngineSettings e;
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  e.FrustumCulling = KShaders_GetRenderer()->EarlyFrustumCulling.Get();
  e.ParallelPipeline = evaluation->ParallelPipeline.Get();
  e.ParallelEvaluation = evaluation->ParallelEvaluation.Get() != 0;
  e.ParallelDeformation = evaluation->ParallelDeformation.Get();
  e.GPUSkinning = KGPGPU_GetGPGPUManager()->GPUSkinDeform.Get();
  return e;
}

void PrintSettings(std::ostream& out) {
  KEvaluateManager* evaluation = KEvaluateManager::TheOne();
  KProfiler* profiler = KProfiler::TheOne();
  out << "FrustumCulling=" << (KShaders_GetRenderer()->EarlyFrustumCulling.Get() ? 1 : 0) << "\n"
      << "ParallelPipeline=" << (evaluation->ParallelPipeline.Get() ? 1 : 0) << "\n"
      << "ParallelEvaluation=" << evaluation->ParallelEvaluation.Get() << "\n"
      << "ParallelDeformation=" << (evaluation->ParallelDeformation.Get() ? 1 : 0) << "\n"
      << "GPUSkinning=" << (KGPGPU_GetGPGPUManager()->GPUSkinDeform.Get() ? 1 : 0) << "\n"
      << "NodeCount=" << evaluation->NodeCount.Get() << "\n"
      << "ProfilingType=" << profiler->ProfilingType.Get() << "\n"
      << "EvaluationDepth=" << profiler->EvaluationDepth << "\n"
      << "BufferSize=" << profiler->BufferSize.Get() << "\n"
      << "FrameReference=" << (profiler->FrameReference ? 1 : 0) << "\n";
}

}  // namespace khost
