#include "khost/base/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using khost::ThreadPool;

TEST(KhostThreadPool, ParallelForRunsEveryIndexExactlyOnce) {
  ThreadPool pool(3);
  for (std::size_t count : {0u, 1u, 2u, 7u, 1000u}) {
    std::vector<std::atomic<int>> hits(count);
    pool.ParallelFor(count, [&](std::size_t i) { hits[i].fetch_add(1); });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i].load(), 1) << count << ":" << i;
  }
}

TEST(KhostThreadPool, ParallelForUsesMoreThanOneThread) {
  ThreadPool pool(2);
  std::mutex mutex;
  std::set<std::thread::id> threads;
  std::atomic<int> waiting{0};
  // Every call waits until a second one started, so one thread alone could
  // never finish: the loop really is spread.
  pool.ParallelFor(2, [&](std::size_t) {
    {
      std::lock_guard lock(mutex);
      threads.insert(std::this_thread::get_id());
    }
    waiting.fetch_add(1);
    while (waiting.load() < 2) std::this_thread::yield();
  });
  EXPECT_EQ(threads.size(), 2u);
}

TEST(KhostThreadPool, ParallelForInsideATaskMakesProgressWithEveryWorkerBusy) {
  // One worker: the task occupies it, and the nested loop must still finish
  // on the task's own thread.
  ThreadPool pool(1);
  std::atomic<int> sum{0};
  ThreadPool::Task task = pool.Submit(
      [&] { pool.ParallelFor(100, [&](std::size_t i) { sum.fetch_add(static_cast<int>(i)); }); });
  task.Wait();
  EXPECT_EQ(sum.load(), 4950);
}

TEST(KhostThreadPool, ParallelForRethrowsAfterEveryStartedCallFinished) {
  ThreadPool pool(2);
  std::atomic<int> running{0};
  std::atomic<int> maxSeenAfter{0};
  EXPECT_THROW(pool.ParallelFor(64,
                                [&](std::size_t i) {
                                  running.fetch_add(1);
                                  if (i == 3) {
                                    running.fetch_sub(1);
                                    throw std::runtime_error("boom");
                                  }
                                  std::this_thread::sleep_for(std::chrono::microseconds(200));
                                  running.fetch_sub(1);
                                }),
               std::runtime_error);
  // Nothing of the loop is still running once it threw.
  maxSeenAfter = running.load();
  EXPECT_EQ(maxSeenAfter.load(), 0);
  // The pool is still usable.
  std::atomic<int> n{0};
  pool.ParallelFor(10, [&](std::size_t) { n.fetch_add(1); });
  EXPECT_EQ(n.load(), 10);
}

TEST(KhostThreadPool, SubmittedTaskRunsOnAWorkerAndWaitRethrows) {
  ThreadPool pool(1);
  std::thread::id ran;
  ThreadPool::Task ok = pool.Submit([&] { ran = std::this_thread::get_id(); });
  ok.Wait();
  EXPECT_NE(ran, std::this_thread::get_id());
  EXPECT_FALSE(ok.Valid());
  ThreadPool::Task bad = pool.Submit([] { throw std::logic_error("bad"); });
  EXPECT_THROW(bad.Wait(), std::logic_error);
  // Waiting on a finished or empty handle returns at once.
  ThreadPool::Task none;
  none.Wait();
  bad.Wait();
}

TEST(KhostThreadPool, DestructionRunsTasksAlreadySubmitted) {
  std::atomic<int> done{0};
  {
    ThreadPool pool(1);
    for (int i = 0; i < 20; ++i) {
      pool.Submit([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        done.fetch_add(1);
      });
    }
  }
  EXPECT_EQ(done.load(), 20);
}

TEST(KhostThreadPool, AtLeastOneWorker) {
  ThreadPool pool(0);
  EXPECT_EQ(pool.GetWorkerCount(), 1);
  EXPECT_GE(ThreadPool::DefaultWorkerCount(), 1);
}

}  // namespace
