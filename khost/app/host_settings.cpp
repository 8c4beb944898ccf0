#include "khost/app/host_settings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"

namespace khost {

namespace {

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

bool IsExactlyYes(const char* text) {
  return text && std::strcmp(text, "Yes") == 0;
}
bool IsYesIgnoringCase(const char* text) {
  return text && EqualsIgnoringCase(text, "Yes");
}
bool IsNotSerial(const char* text) {
  return !text || !EqualsIgnoringCase(text, "Serial");
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
  KConfigFile application("@Application.txt", false);
  KConfigFile task("@Task.txt", false);
  s.EarlyFrustumCulling = IsExactlyYes(application.Get("Display", "EarlyFrustumCulling", "Yes"));
  s.ParallelPipeline = IsNotSerial(task.Get("Evaluation", "Pipeline", "Serial"));
  s.ParallelEvaluation = ReadInteger(task.Get("Evaluation", "Evaluation", "0"));
  s.ParallelDeformation = IsNotSerial(task.Get("Evaluation", "Deformation", "Serial"));
  s.GPUSkinDeform = IsYesIgnoringCase(application.Get("Display", "UseGPUSkinDeform", "No"));
  s.BufferSize = ReadInteger(application.Get("Benchmark", "BufferSize", "20"));
  s.FrameReference = IsYesIgnoringCase(application.Get("Benchmark", "FrameReference", "Yes"));
  s.EvaluationDepth = ReadInteger(application.Get("Benchmark", "EvaluationDepth", "0"));
  s.ProfilingType = ReadInteger(application.Get("Benchmark", "ProfilingType", "1"));
  s.Characters = std::clamp(ReadInteger(task.Get("Scene", "Characters", "16")), 1,
                            static_cast<int>(kMaxCharacters));
  s.SceneFile = application.Get("Scene", "File", s.SceneFile.c_str());
  s.SceneInstances = std::clamp(ReadInteger(application.Get("Scene", "Instances", "24")), 1,
                                static_cast<int>(kMaxCharacters));
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
