// The panel's handlers: the reset from the configuration files, the display
// selector and the layout event's repaint.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "module/module_test_support.h"
#include "settings/tool_optimization_layout.h"
#include "standin/ktoolkit/controls.h"

namespace {

using kptest::ChangeCounter;
using kptest::ConfigFolder;

class PanelReset : public testing::Test {
 protected:
  void SetUp() override { kptest::SetDistinctHostSettings(); }

  void Reset() { KtButton_Click(panel.ResetButton); }

  static bool FrustumCulling() { return KShaders_GetRenderer()->EarlyFrustumCulling.Get(); }
  static bool Pipeline() { return KEvaluateManager::TheOne()->ParallelPipeline.Get(); }
  static bool Deformation() { return KEvaluateManager::TheOne()->ParallelDeformation.Get(); }
  static bool GpuSkin() { return KGPGPU_GetGPGPUManager()->GPUSkinDeform.Get(); }

  ConfigFolder config;
  ToolOptimizationLayout panel;
};

TEST_F(PanelReset, WithoutFilesSetsTheNineDefaultsAndLeavesNodeCount) {
  Reset();
  EXPECT_TRUE(FrustumCulling());
  EXPECT_FALSE(Pipeline());
  EXPECT_EQ(KEvaluateManager::TheOne()->ParallelEvaluation.Get(), 0);
  EXPECT_FALSE(Deformation());
  EXPECT_FALSE(GpuSkin());
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 20);
  EXPECT_TRUE(KProfiler::TheOne()->FrameReference);
  EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, 0);
  EXPECT_EQ(KProfiler::TheOne()->ProfilingType.Get(), 1);
  EXPECT_NE(KProfiler::TheOne()->ProfilingEnabled, 0);
  EXPECT_EQ(KEvaluateManager::TheOne()->NodeCount.Get(), 4321);
}

TEST_F(PanelReset, WritesThroughPropertiesExceptFrameReferenceAndDepth) {
  config.Write("Application.txt",
               "[Benchmark]\nFrameReference = Yes\nEvaluationDepth = 5\nBufferSize = 40\n"
               "ProfilingType = 2\n[Display]\nEarlyFrustumCulling = Yes\nUseGPUSkinDeform = No\n");
  config.Write("Task.txt",
               "[Evaluation]\nPipeline = Serial\nEvaluation = 0\nDeformation = Serial\n");
  KProfiler& profiler = *KProfiler::TheOne();
  ChangeCounter frameReference(profiler.FrameReferenceProperty);
  ChangeCounter depth(profiler.EvaluationDepthProperty);
  ChangeCounter bufferSize(profiler.BufferSize);
  ChangeCounter profilingType(profiler.ProfilingType);
  ChangeCounter frustum(KShaders_GetRenderer()->EarlyFrustumCulling);
  ChangeCounter pipeline(KEvaluateManager::TheOne()->ParallelPipeline);
  ChangeCounter evaluation(KEvaluateManager::TheOne()->ParallelEvaluation);
  ChangeCounter deformation(KEvaluateManager::TheOne()->ParallelDeformation);
  ChangeCounter gpu(KGPGPU_GetGPGPUManager()->GPUSkinDeform);
  ChangeCounter nodeCount(KEvaluateManager::TheOne()->NodeCount);

  Reset();

  // The two values hold the file's texts though their properties never ran.
  EXPECT_TRUE(profiler.FrameReference);
  EXPECT_EQ(profiler.EvaluationDepth, 5);
  EXPECT_TRUE(profiler.FrameReferenceProperty.Get());
  EXPECT_EQ(frameReference.Count, 0);
  EXPECT_EQ(depth.Count, 0);
  // Every other written setting changed through its property.
  EXPECT_EQ(profiler.BufferSize.Get(), 40);
  EXPECT_EQ(bufferSize.Count, 1);
  EXPECT_EQ(profiler.ProfilingType.Get(), 2);
  EXPECT_EQ(profilingType.Count, 1);
  EXPECT_EQ(frustum.Count, 1);
  EXPECT_EQ(pipeline.Count, 1);
  EXPECT_EQ(evaluation.Count, 1);
  EXPECT_EQ(deformation.Count, 1);
  EXPECT_EQ(gpu.Count, 1);
  EXPECT_EQ(nodeCount.Count, 0);
  EXPECT_EQ(KEvaluateManager::TheOne()->NodeCount.Get(), 4321);
}

TEST_F(PanelReset, FlagTexts) {
  struct Case {
    const char* Text;  // as written in the file (quotes keep blanks)
    bool Frustum;      // exact "Yes"
    bool CaseFree;     // "Yes" in any case
  };
  const Case cases[] = {
      {"Yes", true, true},        {"yes", false, true},       {"YES", false, true},
      {"\"Yes \"", false, false}, {"\" Yes\"", false, false}, {"Yess", false, false},
      {"Ye", false, false},       {"No", false, false},       {"\"\"", false, false},
      {"1", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::string v = c.Text;
    config.Write("Application.txt", "[Display]\nEarlyFrustumCulling = " + v +
                                        "\nUseGPUSkinDeform = " + v +
                                        "\n[Benchmark]\nFrameReference = " + v + "\n");
    KShaders_GetRenderer()->EarlyFrustumCulling = !c.Frustum;
    KGPGPU_GetGPGPUManager()->GPUSkinDeform = !c.CaseFree;
    KProfiler::TheOne()->FrameReference = !c.CaseFree;
    Reset();
    EXPECT_EQ(FrustumCulling(), c.Frustum);
    EXPECT_EQ(GpuSkin(), c.CaseFree);
    EXPECT_EQ(KProfiler::TheOne()->FrameReference, c.CaseFree);
  }
}

TEST_F(PanelReset, ModeTexts) {
  struct Case {
    const char* Text;
    bool Parallel;
  };
  const Case cases[] = {
      {"Serial", false},  {"serial", false}, {"SERIAL", false}, {"sErIaL", false},
      {"Parallel", true}, {"Off", true},     {"\"\"", true},    {"\"Serial \"", true},
      {"Serials", true},  {"Seria", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::string v = c.Text;
    config.Write("Task.txt", "[Evaluation]\nPipeline = " + v + "\nDeformation = " + v + "\n");
    KEvaluateManager::TheOne()->ParallelPipeline = !c.Parallel;
    KEvaluateManager::TheOne()->ParallelDeformation = !c.Parallel;
    Reset();
    EXPECT_EQ(Pipeline(), c.Parallel);
    EXPECT_EQ(Deformation(), c.Parallel);
  }
  // A key written with nothing after '=' is the empty text: parallel.
  config.Write("Task.txt", "[Evaluation]\nPipeline =\n");
  KEvaluateManager::TheOne()->ParallelPipeline = false;
  Reset();
  EXPECT_TRUE(Pipeline());
}

TEST_F(PanelReset, IntegerTextsReadAsTheCLibraryReadsThem) {
  // Texts as stored (the quotes in the file keep the blanks).
  const char* texts[] = {"32abc",  "   32abc", "\t 32abc", "abc",        "-1",         "+7",
                         "  -12x", "",         "0x10",     "2147483647", "-2147483648"};
  for (const char* text : texts) {
    SCOPED_TRACE(testing::Message() << "\"" << text << "\"");
    const std::string quoted = std::string("\"") + text + "\"";
    config.Write("Application.txt", "[Benchmark]\nBufferSize = " + quoted + "\nEvaluationDepth = " +
                                        quoted + "\nProfilingType = " + quoted + "\n");
    config.Write("Task.txt", "[Evaluation]\nEvaluation = " + quoted + "\n");
    KProfiler::TheOne()->BufferSize = 12345;
    KProfiler::TheOne()->EvaluationDepth = 12345;
    Reset();
    const int expected = std::atoi(text);
    // Ranged host properties keep the nearest value within their range.
    EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), std::clamp(expected, 1, 100000));
    EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, expected);
    EXPECT_EQ(KProfiler::TheOne()->ProfilingType.Get(), expected);
    EXPECT_EQ(KEvaluateManager::TheOne()->ParallelEvaluation.Get(), std::clamp(expected, 0, 1));
  }
}

TEST_F(PanelReset, IntegersBeyondTheIntRangeAreClamped) {
  config.Write("Application.txt",
               "[Benchmark]\nEvaluationDepth = 99999999999999999999\nBufferSize = -4294967297\n");
  Reset();
  EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, INT_MAX);
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 1);  // INT_MIN, kept within 1..100000
}

TEST_F(PanelReset, KeysAreReadFromTheirOwnFileAndSection) {
  // Every key placed in the wrong file or section: all defaults apply.
  config.Write("Task.txt",
               "[Display]\nEarlyFrustumCulling = No\nUseGPUSkinDeform = Yes\n"
               "[Benchmark]\nBufferSize = 5\nFrameReference = No\nEvaluationDepth = 4\n"
               "ProfilingType = 3\n");
  config.Write("Application.txt",
               "[Evaluation]\nPipeline = Parallel\nEvaluation = 1\nDeformation = Parallel\n"
               "[Display]\nBufferSize = 6\n");
  Reset();
  EXPECT_TRUE(FrustumCulling());
  EXPECT_FALSE(GpuSkin());
  EXPECT_FALSE(Pipeline());
  EXPECT_FALSE(Deformation());
  EXPECT_EQ(KEvaluateManager::TheOne()->ParallelEvaluation.Get(), 0);
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 20);
  EXPECT_TRUE(KProfiler::TheOne()->FrameReference);
  EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, 0);
  EXPECT_EQ(KProfiler::TheOne()->ProfilingType.Get(), 1);

  // And in the right places they are taken.
  config.Write("Application.txt",
               "[Display]\nEarlyFrustumCulling = No\nUseGPUSkinDeform = Yes\n"
               "[Benchmark]\nBufferSize = 5\nFrameReference = No\nEvaluationDepth = 4\n"
               "ProfilingType = 3\n");
  config.Write("Task.txt",
               "[Evaluation]\nPipeline = Parallel\nEvaluation = 1\nDeformation = Parallel\n");
  Reset();
  EXPECT_FALSE(FrustumCulling());
  EXPECT_TRUE(GpuSkin());
  EXPECT_TRUE(Pipeline());
  EXPECT_TRUE(Deformation());
  EXPECT_EQ(KEvaluateManager::TheOne()->ParallelEvaluation.Get(), 1);
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 5);
  EXPECT_FALSE(KProfiler::TheOne()->FrameReference);
  EXPECT_EQ(KProfiler::TheOne()->EvaluationDepth, 4);
  EXPECT_EQ(KProfiler::TheOne()->ProfilingType.Get(), 3);
}

// A receiver that throws from a host property's change handler, to make the
// reset fail part-way.
class ThrowingHandler final : public ICallback {
 public:
  IObject* IQuery(unsigned long, int) override { return this; }
  void Destroy(int) override {}
  void OnChange(IRegister*, KEventBase*) { throw std::runtime_error("refused"); }
};

TEST_F(PanelReset, AFailingWriteStopsTheResetAndPropagates) {
  config.Write("Application.txt",
               "[Display]\nUseGPUSkinDeform = Yes\n[Benchmark]\nBufferSize = 9\n");
  ThrowingHandler thrower;
  KProperty& pipeline = KEvaluateManager::TheOne()->ParallelPipeline;
  KEvaluateManager::TheOne()->ParallelPipeline = true;  // the reset will write false
  KGPGPU_GetGPGPUManager()->GPUSkinDeform = false;
  pipeline.AddChangeHandler(&thrower, KCALLBACK_HANDLER(ThrowingHandler::OnChange));
  EXPECT_THROW(Reset(), std::runtime_error);
  pipeline.RemoveChangeHandler(&thrower, KCALLBACK_HANDLER(ThrowingHandler::OnChange));
  // Step 1 was made, the steps after the failing one were not.
  EXPECT_TRUE(FrustumCulling());
  EXPECT_FALSE(GpuSkin());
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 77);
  // The panel still works afterwards.
  Reset();
  EXPECT_TRUE(GpuSkin());
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 9);
}

}  // namespace
