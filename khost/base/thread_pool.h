// A fixed set of worker threads for the host's parallel evaluation,
// deformation and pipelining.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace khost {

class ThreadPool {
 public:
  // A handle to one submitted task. Wait blocks until the task ran and
  // rethrows what it threw. A default handle is already done.
  class Task {
   public:
    Task() = default;
    void Wait();
    bool Valid() const { return mState != nullptr; }

   private:
    friend class ThreadPool;
    struct State;
    std::shared_ptr<State> mState;
  };

  // `workerCount` threads (at least 1).
  explicit ThreadPool(int workerCount);
  // Runs every task already submitted, then joins the workers.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int GetWorkerCount() const { return static_cast<int>(mWorkers.size()); }

  // Runs `task` on a worker.
  Task Submit(std::function<void()> task);

  // Calls body(i) for every i in [0, count), spread over the workers and the
  // calling thread, and returns when all calls returned. The caller takes
  // part, so this makes progress even when every worker is busy (it may be
  // called from inside a task). The first exception a call throws is
  // rethrown here once all started calls have finished; the indices not yet
  // started are then skipped.
  void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body);

  // Workers suggested for this machine: one fewer than the hardware threads
  // (the calling thread works too), at least 1.
  static int DefaultWorkerCount();

  // The calling thread's number: 1..GetWorkerCount() on a worker of a pool,
  // 0 on any other thread (the host's loop).
  static int CurrentWorker();

 private:
  void WorkerLoop(int number);

  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::function<void()>> mQueue;
  bool mStopping = false;
  std::vector<std::thread> mWorkers;
};

}  // namespace khost
