// Samplings: window statistics against a naive reference, exactness of the
// average, resizing, children, and concurrent recording and reading.

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "host/kbaselib.h"
#include "standin/kbaselib/profiler.h"

namespace {

struct Stats {
  double Average = 0, Minimum = 0, Maximum = 0;
};

Stats Read(KProfilingSampling& s) {
  Stats stats;
  s.QueryAcquire();
  s.GetAvgMinMaxUsage(stats.Average, stats.Minimum, stats.Maximum);
  s.QueryRelease();
  return stats;
}

// The statistics of a window of nanosecond samples, computed the slow way.
Stats Reference(const std::deque<int64_t>& window) {
  if (window.empty()) return {};
  const int64_t sum = std::accumulate(window.begin(), window.end(), int64_t{0});
  return {static_cast<double>(sum) / static_cast<double>(window.size()) / 1000.0,
          static_cast<double>(*std::min_element(window.begin(), window.end())) / 1000.0,
          static_cast<double>(*std::max_element(window.begin(), window.end())) / 1000.0};
}

}  // namespace

TEST(Sampling, ZerosBeforeAnySampleAndAfterReset) {
  KProfilingSampling s("Cycle", 0.2f, 0.4f, 0.6f);
  EXPECT_STREQ(s.GetName(), "Cycle");
  EXPECT_FLOAT_EQ(s.GetColor()[1], 0.4f);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(s), 20);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 0);
  Stats stats = Read(s);
  EXPECT_EQ(stats.Average, 0.0);
  EXPECT_EQ(stats.Minimum, 0.0);
  EXPECT_EQ(stats.Maximum, 0.0);
  EXPECT_EQ(s.GetAvgUsage(), 0u);

  KProfilingSampling_AddSample(s, 5.0);
  KProfilingSampling_Reset(s);
  stats = Read(s);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 0);
  EXPECT_EQ(stats.Maximum, 0.0);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(s), 20);
}

TEST(Sampling, WindowSlidesAndExtremesFollowWhenTheOldOnesLeave) {
  KProfilingSampling s("S", 1, 1, 1, 3);
  KProfilingSampling_AddSample(s, 10);
  KProfilingSampling_AddSample(s, 1);
  KProfilingSampling_AddSample(s, 5);
  Stats stats = Read(s);
  EXPECT_EQ(stats.Average, 16.0 / 3.0);
  EXPECT_EQ(stats.Minimum, 1.0);
  EXPECT_EQ(stats.Maximum, 10.0);

  KProfilingSampling_AddSample(s, 6);  // 10 leaves
  stats = Read(s);
  EXPECT_EQ(stats.Maximum, 6.0);
  EXPECT_EQ(stats.Minimum, 1.0);
  KProfilingSampling_AddSample(s, 7);  // 1 leaves
  stats = Read(s);
  EXPECT_EQ(stats.Minimum, 5.0);
  EXPECT_EQ(stats.Maximum, 7.0);
  EXPECT_EQ(stats.Average, 6.0);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 3);
  EXPECT_EQ(s.GetAvgUsage(), 6u);
}

TEST(Sampling, MatchesANaiveWindowOverLongRandomRuns) {
  std::mt19937_64 random(12345);
  for (int size : {1, 2, 7, 64, 300}) {
    KProfilingSampling s("S", 1, 1, 1, size);
    std::deque<int64_t> window;
    // Runs of rising, falling and random values exercise both queues.
    for (int i = 0; i < 5000; ++i) {
      int64_t ns = 0;
      switch ((i / 50) % 3) {
        case 0:
          ns = static_cast<int64_t>(i) * 1000;
          break;
        case 1:
          ns = static_cast<int64_t>(10000 - i) * 1000;
          break;
        default:
          ns = static_cast<int64_t>(random() % 1000000);
          break;
      }
      KProfilingSampling_AddSample(s, static_cast<double>(ns) / 1000.0);
      window.push_back(ns);
      if (window.size() > static_cast<size_t>(size)) window.pop_front();
      const Stats expected = Reference(window);
      const Stats got = Read(s);
      ASSERT_EQ(got.Average, expected.Average) << "size " << size << " sample " << i;
      ASSERT_EQ(got.Minimum, expected.Minimum) << "size " << size << " sample " << i;
      ASSERT_EQ(got.Maximum, expected.Maximum) << "size " << size << " sample " << i;
    }
  }
}

TEST(Sampling, AveragesAreExactAndDoNotDriftOverMillionsOfSamples) {
  KProfilingSampling one("One", 1, 1, 1, 1);
  KProfilingSampling_AddSample(one, 76923.08);
  double average, minimum, maximum;
  one.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(average, 76923.08);
  EXPECT_EQ(minimum, 76923.08);
  EXPECT_EQ(maximum, 76923.08);
  EXPECT_EQ(one.GetAvgUsage(), 76923u);

  KProfilingSampling frames("Frames", 1, 1, 1, 20);
  for (int i = 0; i < 2000000; ++i)
    KProfilingSampling_AddSample(frames, (i % 2) ? 0.3 : 987654.321);
  for (int i = 0; i < 20; ++i) KProfilingSampling_AddSample(frames, 16666.7);
  frames.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(average, 16666.7);  // nothing left over from the earlier samples
  EXPECT_EQ(minimum, 16666.7);
  EXPECT_EQ(maximum, 16666.7);
}

TEST(Sampling, SamplesAreRoundedToNanosecondsAndBadValuesCountAsZero) {
  KProfilingSampling s("S", 1, 1, 1, 4);
  KProfilingSampling_AddSample(s, -5.0);
  KProfilingSampling_AddSample(s, std::numeric_limits<double>::quiet_NaN());
  KProfilingSampling_AddSample(s, 0.0004);  // below half a nanosecond
  KProfilingSampling_AddSample(s, 0.0006);
  Stats stats = Read(s);
  EXPECT_EQ(stats.Minimum, 0.0);
  EXPECT_EQ(stats.Maximum, 0.001);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 4);

  // Huge values are clamped so that a full window's sum cannot overflow.
  KProfilingSampling big("Big", 1, 1, 1, 100000);
  for (int i = 0; i < 100000; ++i)
    KProfilingSampling_AddSample(big, std::numeric_limits<double>::infinity());
  stats = Read(big);
  EXPECT_GT(stats.Average, 0.0);
  EXPECT_EQ(stats.Average, stats.Maximum);
  EXPECT_EQ(stats.Minimum, stats.Maximum);
}

TEST(Sampling, ResizingKeepsTheNewestSamples) {
  KProfilingSampling s("S", 1, 1, 1, 10);
  for (int i = 1; i <= 10; ++i) KProfilingSampling_AddSample(s, i);

  KProfilingSampling_SetBufferSize(s, 3);  // keeps 8, 9, 10
  EXPECT_EQ(KProfilingSampling_GetBufferSize(s), 3);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 3);
  Stats stats = Read(s);
  EXPECT_EQ(stats.Average, 9.0);
  EXPECT_EQ(stats.Minimum, 8.0);
  EXPECT_EQ(stats.Maximum, 10.0);

  KProfilingSampling_SetBufferSize(s, 5);  // grows: the same three, room for two more
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 3);
  KProfilingSampling_AddSample(s, 11);
  KProfilingSampling_AddSample(s, 12);
  stats = Read(s);
  EXPECT_EQ(stats.Average, 10.0);
  EXPECT_EQ(stats.Minimum, 8.0);
  KProfilingSampling_AddSample(s, 13);  // 8 leaves
  stats = Read(s);
  EXPECT_EQ(stats.Minimum, 9.0);
  EXPECT_EQ(stats.Maximum, 13.0);
  EXPECT_EQ(stats.Average, 11.0);

  KProfilingSampling_SetBufferSize(s, 0);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(s), 1);
  EXPECT_EQ(Read(s).Average, 13.0);
  KProfilingSampling_SetBufferSize(s, 1000000);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(s), 100000);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 1);
  KProfilingSampling clamped("C", 1, 1, 1, -4);
  EXPECT_EQ(KProfilingSampling_GetBufferSize(clamped), 1);
}

// The largest window costs memory only as samples arrive: a tree of a
// thousand samplings at 100000 samples would otherwise take gigabytes up
// front.
TEST(Sampling, ALargeWindowAllocatesAsSamplesArrive) {
  const auto inUse = [] { return static_cast<long long>(mallinfo2().uordblks); };
  const long long before = inUse();
  std::vector<std::unique_ptr<KProfilingSampling>> samplings;
  for (int i = 0; i < 100; ++i) {
    samplings.push_back(std::make_unique<KProfilingSampling>("S", 1, 1, 1, 100000));
    KProfilingSampling_AddSample(*samplings.back(), 1.0);
  }
  EXPECT_LT(inUse() - before, 4 << 20);  // about 240 MB if allocated up front
  EXPECT_EQ(KProfilingSampling_GetBufferSize(*samplings[0]), 100000);
  // Shrinking and growing the window again keeps the newest samples.
  KProfilingSampling& s = *samplings[0];
  for (int i = 2; i <= 50; ++i) KProfilingSampling_AddSample(s, static_cast<double>(i));
  KProfilingSampling_SetBufferSize(s, 10);
  KProfilingSampling_SetBufferSize(s, 100000);
  for (int i = 51; i <= 60; ++i) KProfilingSampling_AddSample(s, static_cast<double>(i));
  double average = 0, minimum = 0, maximum = 0;
  s.GetAvgMinMaxUsage(average, minimum, maximum);
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 20);
  EXPECT_DOUBLE_EQ(minimum, 41.0);
  EXPECT_DOUBLE_EQ(maximum, 60.0);
  EXPECT_DOUBLE_EQ(average, 50.5);
}

TEST(Sampling, ChildrenByCategory) {
  KProfilingSampling parent("P", 1, 1, 1), a("A", 1, 1, 1), b("B", 1, 1, 1);
  EXPECT_EQ(parent.GetChildCount(1), 0);
  EXPECT_FALSE(parent.HasChild(1, 0));
  EXPECT_EQ(parent.GetChild(1, 0), nullptr);

  KProfilingSampling_AddChild(parent, 1, &a);
  KProfilingSampling_AddChild(parent, 1, nullptr);  // ignored
  KProfilingSampling_AddChild(parent, 1, &a);       // already there
  KProfilingSampling_AddChild(parent, 1, &b);
  KProfilingSampling_AddChild(parent, 2, &a);  // another category is another list
  KProfilingSampling_AddChild(parent, -1, &b);
  KProfilingSampling_AddChild(parent, 1000, &b);
  EXPECT_EQ(parent.GetChildCount(1), 2);
  EXPECT_EQ(parent.GetChildCount(2), 1);
  EXPECT_EQ(parent.GetChildCount(0), 0);
  EXPECT_EQ(parent.GetChildCount(-1), 0);
  EXPECT_EQ(parent.GetChildCount(1000), 0);
  EXPECT_EQ(parent.GetChild(1, 0), &a);
  EXPECT_EQ(parent.GetChild(1, 1), &b);
  EXPECT_TRUE(parent.HasChild(1, 1));
  EXPECT_FALSE(parent.HasChild(1, 2));
  EXPECT_FALSE(parent.HasChild(1, -1));
  EXPECT_EQ(parent.GetChild(1, 2), nullptr);

  EXPECT_TRUE(KProfilingSampling_RemoveChild(parent, 1, &a));
  EXPECT_FALSE(KProfilingSampling_RemoveChild(parent, 1, &a));
  EXPECT_EQ(parent.GetChild(1, 0), &b);
  KProfilingSampling_ClearChildren(parent, 1);
  EXPECT_EQ(parent.GetChildCount(1), 0);
  EXPECT_EQ(parent.GetChildCount(2), 1);
}

TEST(Sampling, ChildrenThatWouldCloseACycleAreRefused) {
  KProfilingSampling a("A", 1, 1, 1), b("B", 1, 1, 1), c("C", 1, 1, 1);
  KProfilingSampling_AddChild(a, 1, &b);
  KProfilingSampling_AddChild(b, 0, &c);
  KProfilingSampling_AddChild(c, 1, &a);  // a is above c
  KProfilingSampling_AddChild(a, 1, &a);  // itself
  EXPECT_EQ(c.GetChildCount(1), 0);
  EXPECT_EQ(a.GetChildCount(1), 1);
  // Sharing a child between two parents is no cycle.
  KProfilingSampling other("O", 1, 1, 1);
  KProfilingSampling_AddChild(other, 1, &c);
  EXPECT_EQ(other.GetChildCount(1), 1);
}

TEST(Sampling, DestroyedSamplingLeavesItsParentsAndTheRootTable) {
  KProfilingSampling parent("P", 1, 1, 1);
  KProfiler* profiler = KProfiler::TheOne();
  KProfilingSampling* const saved = profiler->RootCycles[11];
  {
    KProfilingSampling child("C", 1, 1, 1);
    KProfilingSampling grandchild("G", 1, 1, 1);
    KProfilingSampling_AddChild(parent, 1, &child);
    KProfilingSampling_AddChild(parent, 3, &child);
    KProfilingSampling_AddChild(child, 1, &grandchild);
    KProfiler_SetRootCycle(*profiler, 11, &child);
    EXPECT_EQ(profiler->RootCycles[11], &child);
  }
  EXPECT_EQ(parent.GetChildCount(1), 0);
  EXPECT_EQ(parent.GetChildCount(3), 0);
  EXPECT_EQ(profiler->RootCycles[11], nullptr);
  KProfiler_SetRootCycle(*profiler, 11, saved);
}

TEST(Sampling, ConcurrentRecordingWhileAnotherThreadReads) {
  KProfilingSampling s("S", 1, 1, 1, 50);
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        KProfilingSampling_AddSample(s, 100.0 + (i + t) % 400);
        if (t == 0 && i % 5000 == 0) KProfilingSampling_SetBufferSize(s, (i / 5000) % 2 ? 50 : 40);
      }
    });
  }
  std::thread reader([&] {
    while (!stop.load()) {
      s.QueryAcquire();
      double a1, n1, x1, a2, n2, x2;
      s.GetAvgMinMaxUsage(a1, n1, x1);
      std::this_thread::yield();
      s.GetAvgMinMaxUsage(a2, n2, x2);
      s.QueryRelease();
      // Frozen between acquire and release, and always a sound triple.
      ASSERT_EQ(a1, a2);
      ASSERT_EQ(n1, n2);
      ASSERT_EQ(x1, x2);
      if (x1 > 0) {
        ASSERT_GE(a1, 100.0);
        ASSERT_LE(n1, a1);
        ASSERT_LE(a1, x1);
        ASSERT_LE(x1, 499.0);
      }
      // The unbracketed read may interleave with writers but is race-free.
      double a3, n3, x3;
      s.GetAvgMinMaxUsage(a3, n3, x3);
      (void)s.GetAvgUsage();
      (void)KProfilingSampling_GetSampleCount(s);
    }
  });
  for (auto& writer : writers) writer.join();
  stop = true;
  reader.join();
  EXPECT_EQ(KProfilingSampling_GetSampleCount(s), 50);
}
