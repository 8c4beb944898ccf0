// The host profiler's coupled properties and frame bookkeeping, and the
// engine settings singletons.

#include "standin/kbaselib/profiler.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"

namespace {

// Restores the profiler's settings and root table after each test.
class Profiler : public ::testing::Test {
 protected:
  void SetUp() override {
    mProfiler = KProfiler::TheOne();
    for (int i = 0; i < KProfiler::kRootCycleCount; ++i) mSaved[i] = mProfiler->RootCycles[i];
  }
  void TearDown() override {
    for (int i = 0; i < KProfiler::kRootCycleCount; ++i) mProfiler->RootCycles[i] = mSaved[i];
    mProfiler->ProfilingType = 1;
    mProfiler->BufferSize = 20;
    mProfiler->EvaluationDepth = 0;
    mProfiler->FrameReference = true;
  }
  KProfiler* mProfiler = nullptr;
  KProfilingSampling* mSaved[KProfiler::kRootCycleCount] = {};
};

}  // namespace

TEST_F(Profiler, SingleInstanceWithItsDefaults) {
  EXPECT_EQ(KProfiler::TheOne(), mProfiler);
  EXPECT_EQ(mProfiler->ProfilingType.Get(), 1);
  EXPECT_EQ(mProfiler->ProfilingEnabled, 1);
  EXPECT_EQ(mProfiler->BufferSize.Get(), 20);
  EXPECT_EQ(mProfiler->EvaluationDepth, 0);
  EXPECT_TRUE(mProfiler->FrameReference);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(mProfiler->ProfilingCost), 20);

  ASSERT_EQ(mProfiler->ProfilingType.GetNamedValueCount(), 2);
  EXPECT_STREQ(mProfiler->ProfilingType.GetNamedValue(0), "Off");
  EXPECT_STREQ(mProfiler->ProfilingType.GetNamedValue(1), "On");
  EXPECT_EQ(mProfiler->EvaluationDepthProperty.GetMinimum(), 0);
  EXPECT_EQ(mProfiler->EvaluationDepthProperty.GetMaximum(), 16);
  EXPECT_EQ(mProfiler->BufferSize.GetMinimum(), 1);
  EXPECT_EQ(mProfiler->BufferSize.GetMaximum(), 100000);

  // The no-value properties read and write the profiler's plain members.
  mProfiler->EvaluationDepthProperty = 3;
  EXPECT_EQ(mProfiler->EvaluationDepth, 3);
  mProfiler->FrameReference = false;
  EXPECT_FALSE(mProfiler->FrameReferenceProperty.Get());
}

TEST_F(Profiler, ProfilingTypeDrivesProfilingEnabledHoweverItIsWritten) {
  mProfiler->ProfilingType = 0;
  EXPECT_EQ(mProfiler->ProfilingEnabled, 0);
  const int two = 2;
  mProfiler->ProfilingType.SetFromPointer(&two, 0, 0);
  EXPECT_EQ(mProfiler->ProfilingEnabled, 1);
  EXPECT_TRUE(mProfiler->ProfilingType.SetFromInt(0));
  EXPECT_EQ(mProfiler->ProfilingEnabled, 0);
  const int one = 1;
  mProfiler->ProfilingType.SetFromPointer(&one, 0, 0);
  EXPECT_EQ(mProfiler->ProfilingEnabled, 1);
}

TEST_F(Profiler, BufferSizeReachesEveryTreeSamplingOnceAndTheProfilingCost) {
  KProfilingSampling devices("Devices", 1, 0, 0), evaluation("Evaluation", 0, 1, 0);
  KProfilingSampling deform("Deform", 0, 0, 1), skin("Skin", 1, 1, 0), other("Other", 0, 1, 1);
  KProfilingSampling detached("Detached", 1, 1, 1);
  KProfilingSampling_AddChild(evaluation, 1, &deform);
  KProfilingSampling_AddChild(deform, 1, &skin);
  KProfilingSampling_AddChild(devices, 0, &other);  // every category is walked, not only 1
  KProfilingSampling_AddChild(devices, 1, &skin);   // shared between two trees
  for (int i = 0; i < 30; ++i) KProfilingSampling_AddSample(devices, i);

  KProfiler_SetRootCycle(*mProfiler, 0, &devices);
  KProfiler_SetRootCycle(*mProfiler, 6, &evaluation);
  KProfiler_SetRootCycle(*mProfiler, 2, &evaluation);  // the same tree in two slots
  KProfiler_SetRootCycle(*mProfiler, -1, &detached);   // out of range: ignored
  KProfiler_SetRootCycle(*mProfiler, 12, &detached);
  EXPECT_EQ(mProfiler->RootCycles[0], &devices);

  mProfiler->BufferSize = 5;
  for (KProfilingSampling* s : {&devices, &evaluation, &deform, &skin, &other}) {
    EXPECT_EQ(KProfilingSampling_GetBufferSize(*s), 5) << s->GetName();
  }
  EXPECT_EQ(KProfilingSampling_GetBufferSize(mProfiler->ProfilingCost), 5);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(detached), 20);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(devices), 5);  // newest samples kept: 25..29
  double average, minimum, maximum;
  devices.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(average, 27.0);

  // Out-of-range values are clamped, in the property as in the samplings,
  // so an editor shows the size in effect, whoever wrote it.
  mProfiler->BufferSize = 0;
  EXPECT_EQ(mProfiler->BufferSize.Get(), 1);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(skin), 1);
  mProfiler->BufferSize = 5000000;
  EXPECT_EQ(mProfiler->BufferSize.Get(), 100000);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(skin), 100000);
  int generic = -7;
  mProfiler->BufferSize.SetFromPointer(&generic, 0, 0);
  EXPECT_EQ(mProfiler->BufferSize.Get(), 1);
  // A depth written past the property stands as written, and the property
  // reads it back unchanged; what goes through the property is kept in range.
  mProfiler->EvaluationDepth = -1;
  EXPECT_EQ(mProfiler->EvaluationDepthProperty.GetAsInt(), -1);
  mProfiler->EvaluationDepth = 99;
  EXPECT_EQ(mProfiler->EvaluationDepthProperty.Get(), 99);
  EXPECT_EQ(mProfiler->EvaluationDepthProperty.SetFromInt(-3), true);
  EXPECT_EQ(mProfiler->EvaluationDepth, 0);
  mProfiler->EvaluationDepthProperty = 40;
  EXPECT_EQ(mProfiler->EvaluationDepth, 16);

  // A sampling put in the table later takes the current size at once.
  mProfiler->BufferSize = 8;
  KProfiler_SetRootCycle(*mProfiler, 3, &detached);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(detached), 8);
}

TEST_F(Profiler, FrameBookkeepingRecordsTheAccumulatedCost) {
  KProfilingSampling_Reset(mProfiler->ProfilingCost);
  KProfiler_BeginFrame(*mProfiler);
  KProfiler_AddCost(*mProfiler, 1.5);
  KProfiler_AddCost(*mProfiler, 2.25);
  KProfiler_AddCost(*mProfiler, -3.0);  // ignored like a negative sample
  KProfiler_EndFrame(*mProfiler);
  double average, minimum, maximum;
  mProfiler->ProfilingCost.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(mProfiler->ProfilingCost), 1);
  EXPECT_EQ(average, 3.75);

  // Cost added before BeginFrame belongs to no frame.
  KProfiler_AddCost(*mProfiler, 100.0);
  KProfiler_BeginFrame(*mProfiler);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 1000; ++i) KProfiler_AddCost(*mProfiler, 0.001);
    });
  }
  for (auto& thread : threads) thread.join();
  KProfiler_EndFrame(*mProfiler);
  mProfiler->ProfilingCost.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(maximum, 4.0);  // 4000 ns, nothing lost between threads
  EXPECT_EQ(minimum, 3.75);

  KProfiler_BeginFrame(*mProfiler);
  KProfiler_EndFrame(*mProfiler);  // a frame without cost records 0
  EXPECT_EQ(KProfilingSampling_GetSampleCount(mProfiler->ProfilingCost), 3);
  KProfilingSampling_Reset(mProfiler->ProfilingCost);
}

TEST_F(Profiler, ProfilingOffKeepsTheStatisticsAndOnResumes) {
  const auto stats = [](KProfilingSampling& s) {
    double average = 0.0, minimum = 0.0, maximum = 0.0;
    s.GetAvgMinMaxUsage(average, minimum, maximum);
    return std::vector<double>{average, minimum, maximum};
  };
  KProfilingSampling devices("Devices", 1, 0, 0);
  KProfiler_SetRootCycle(*mProfiler, kSlotDevices, &devices);
  for (double micros : {16000.0, 17000.0, 18000.0}) KProfilingSampling_AddSample(devices, micros);
  KProfilingSampling_Reset(mProfiler->ProfilingCost);
  KProfiler_BeginFrame(*mProfiler);
  KProfiler_AddCost(*mProfiler, 12.0);
  KProfiler_EndFrame(*mProfiler);
  const std::vector<double> before = stats(devices);
  EXPECT_EQ(before, (std::vector<double>{17000.0, 16000.0, 18000.0}));

  // Off, as the window's editor writes it: new samples and frames' costs
  // change nothing, from any thread.
  EXPECT_TRUE(mProfiler->ProfilingType.SetFromInt(0));
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) KProfilingSampling_AddSample(devices, 90000.0);
  });
  worker.join();
  KProfilingSampling_AddSample(devices, 0.0);
  KProfiler_BeginFrame(*mProfiler);
  KProfiler_AddCost(*mProfiler, 500.0);
  KProfiler_EndFrame(*mProfiler);
  EXPECT_EQ(stats(devices), before);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(devices), 3);
  EXPECT_EQ(stats(mProfiler->ProfilingCost), (std::vector<double>{12.0, 12.0, 12.0}));
  // A cycle with nothing yet takes its first sample, and keeps that.
  KProfilingSampling fresh("Evaluation", 0, 1, 0);
  KProfilingSampling_AddSample(fresh, 4000.0);
  KProfilingSampling_AddSample(fresh, 9000.0);
  EXPECT_EQ(stats(fresh), (std::vector<double>{4000.0, 4000.0, 4000.0}));
  // A new window size keeps the kept samples.
  mProfiler->BufferSize = 2;
  EXPECT_EQ(stats(devices), (std::vector<double>{17500.0, 17000.0, 18000.0}));

  // On again: recording resumes after the kept samples.
  EXPECT_TRUE(mProfiler->ProfilingType.SetFromInt(1));
  KProfilingSampling_AddSample(devices, 20000.0);
  EXPECT_EQ(stats(devices), (std::vector<double>{19000.0, 18000.0, 20000.0}));
  KProfilingSampling_Reset(mProfiler->ProfilingCost);
}

TEST(EngineSettings, DefaultsNamesAndRanges) {
  KEvaluateManager* manager = KEvaluateManager::TheOne();
  ASSERT_EQ(manager, KEvaluateManager::TheOne());
  EXPECT_FALSE(manager->ParallelPipeline.Get());
  EXPECT_EQ(manager->ParallelEvaluation.Get(), 0);
  EXPECT_FALSE(manager->ParallelDeformation.Get());
  EXPECT_EQ(manager->NodeCount.Get(), 0);
  EXPECT_EQ(manager->EvaluationRateDivisor, 1u);
  EXPECT_STREQ(manager->ParallelPipeline.GetName(), "ParallelPipeline");
  EXPECT_STREQ(manager->ParallelEvaluation.GetName(), "ParallelEvaluation");
  EXPECT_STREQ(manager->ParallelDeformation.GetName(), "ParallelDeformation");
  EXPECT_STREQ(manager->NodeCount.GetName(), "NodeCount");
  ASSERT_EQ(manager->ParallelEvaluation.GetNamedValueCount(), 2);
  EXPECT_STREQ(manager->ParallelEvaluation.GetNamedValue(0), "Serial");
  EXPECT_STREQ(manager->ParallelEvaluation.GetNamedValue(1), "Parallel");
  EXPECT_EQ(manager->NodeCount.GetMinimum(), 0);
  EXPECT_EQ(manager->NodeCount.GetMaximum(), 100000);

  manager->ParallelPipeline = true;
  EXPECT_TRUE(manager->ParallelPipeline.Get());
  manager->ParallelPipeline = false;

  KRenderer* renderer = KShaders_GetRenderer();
  ASSERT_NE(renderer, nullptr);
  EXPECT_EQ(renderer, KShaders_GetRenderer());
  EXPECT_TRUE(renderer->EarlyFrustumCulling.Get());
  EXPECT_STREQ(renderer->EarlyFrustumCulling.GetName(), "EarlyFrustumCulling");

  KGPGPUManager* gpgpu = KGPGPU_GetGPGPUManager();
  ASSERT_NE(gpgpu, nullptr);
  EXPECT_EQ(gpgpu, KGPGPU_GetGPGPUManager());
  EXPECT_FALSE(gpgpu->GPUSkinDeform.Get());
  EXPECT_STREQ(gpgpu->GPUSkinDeform.GetName(), "GPUSkinDeform");
}
