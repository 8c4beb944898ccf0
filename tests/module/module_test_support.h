// Shared helpers of the module's tests: a graphic context that draws nothing
// but tracks view origins and records text, a change-handler counter, a
// snapshot of the host settings the panel edits, and a temporary
// configuration folder.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"
#include "host/ktoolkit.h"
#include "standin/kbaselib/config.h"

namespace kptest {

// A graphic context without OpenGL output. Text is recorded (into storage
// reserved up front) with its window position.
class FakeGraphic final : public IKtGraphic {
 public:
  struct Text {
    std::string Value;
    float X;
    float Y;
  };

  FakeGraphic() {
    mOrigins.reserve(64);
    mOrigins.push_back({0, 0});
    Texts.reserve(4096);
  }
  ~FakeGraphic() = default;

  IObject* IQuery(unsigned long interfaceId, int) override {
    return (interfaceId == kIID_IObject || interfaceId == kIID_IKtGraphic) ? this : nullptr;
  }
  void Destroy(int) override {}
  void SetViewport(int, int, int, int) override {}
  void DrawRectangle(float, float, float, float) override {}
  void BeginPrimitive(int) override {}
  void EndPrimitive() override {}
  void DrawString(const char* text, float x, float y, int, int, int) override {
    if (Texts.size() < Texts.capacity())
      Texts.push_back({text, x + static_cast<float>(mOrigins.back().X),
                       y + static_cast<float>(mOrigins.back().Y)});
  }
  void MeasureString(const char* text, int, int& width, int& height) override {
    width = 7 * static_cast<int>(std::strlen(text));
    height = 12;
  }
  void PushView(int x, int y, int, int) override {
    mOrigins.push_back({mOrigins.back().X + x, mOrigins.back().Y + y});
  }
  void PopView() override {
    if (mOrigins.size() > 1) mOrigins.pop_back();
  }
  void GetViewOrigin(int& x, int& y) override {
    x = mOrigins.back().X;
    y = mOrigins.back().Y;
  }

  bool Drew(const std::string& text) const {
    for (const Text& t : Texts)
      if (t.Value == text) return true;
    return false;
  }

  std::vector<Text> Texts;

 private:
  struct Origin {
    int X;
    int Y;
  };
  std::vector<Origin> mOrigins;
};

// Counts the firings of a property's change handlers.
class ChangeCounter final : public ICallback {
 public:
  explicit ChangeCounter(KProperty& property) : mProperty(property) {
    mProperty.AddChangeHandler(this, KCALLBACK_HANDLER(ChangeCounter::OnChange));
  }
  ~ChangeCounter() {
    mProperty.RemoveChangeHandler(this, KCALLBACK_HANDLER(ChangeCounter::OnChange));
  }
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  IObject* IQuery(unsigned long, int) override { return this; }
  void Destroy(int) override {}
  void OnChange(IRegister*, KEventBase*) { ++Count; }

  int Count = 0;

 private:
  KProperty& mProperty;
};

// The host settings the panel's editors and its reset reach, by name.
struct HostSetting {
  const char* Name;
  KProperty* Property;
};

inline std::vector<HostSetting> HostSettings() {
  return {
      {"EarlyFrustumCulling", &KShaders_GetRenderer()->EarlyFrustumCulling},
      {"ParallelPipeline", &KEvaluateManager::TheOne()->ParallelPipeline},
      {"ParallelEvaluation", &KEvaluateManager::TheOne()->ParallelEvaluation},
      {"ParallelDeformation", &KEvaluateManager::TheOne()->ParallelDeformation},
      {"GPUSkinDeform", &KGPGPU_GetGPGPUManager()->GPUSkinDeform},
      {"NodeCount", &KEvaluateManager::TheOne()->NodeCount},
      {"ProfilingType", &KProfiler::TheOne()->ProfilingType},
      {"EvaluationDepth", &KProfiler::TheOne()->EvaluationDepthProperty},
      {"BufferSize", &KProfiler::TheOne()->BufferSize},
      {"FrameReference", &KProfiler::TheOne()->FrameReferenceProperty},
  };
}

// Every host setting as an integer, in the order of HostSettings().
inline std::vector<int> SnapshotHostSettings() {
  std::vector<int> values;
  for (const HostSetting& setting : HostSettings()) values.push_back(setting.Property->GetAsInt());
  return values;
}

// Gives the host settings known values that differ from every reset default.
inline void SetDistinctHostSettings() {
  KShaders_GetRenderer()->EarlyFrustumCulling = false;
  KEvaluateManager::TheOne()->ParallelPipeline = true;
  KEvaluateManager::TheOne()->ParallelEvaluation = 1;
  KEvaluateManager::TheOne()->ParallelDeformation = true;
  KGPGPU_GetGPGPUManager()->GPUSkinDeform = true;
  KEvaluateManager::TheOne()->NodeCount = 4321;
  KProfiler::TheOne()->ProfilingType = 0;
  KProfiler::TheOne()->EvaluationDepthProperty = 3;
  KProfiler::TheOne()->BufferSize = 77;
  KProfiler::TheOne()->FrameReferenceProperty = false;
}

// A fresh folder for "@Name.txt" configuration files, removed at the end.
class ConfigFolder {
 public:
  ConfigFolder() {
    char pattern[] = "/tmp/kp_module_config_XXXXXX";
    const char* made = mkdtemp(pattern);
    mPath = made ? made : "";
    KConfig_SetFolder(mPath.c_str());
    setenv("KHOST_CONFIG_DIR", mPath.c_str(), 1);
  }
  ~ConfigFolder() {
    unsetenv("KHOST_CONFIG_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
  }
  ConfigFolder(const ConfigFolder&) = delete;
  ConfigFolder& operator=(const ConfigFolder&) = delete;

  void Write(const char* fileName, const std::string& content) const {
    std::ofstream out(mPath + "/" + fileName, std::ios::binary | std::ios::trunc);
    out << content;
  }
  const std::string& Path() const { return mPath; }

 private:
  std::string mPath;
};

}  // namespace kptest
