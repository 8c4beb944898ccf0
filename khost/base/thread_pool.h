// A fixed set of worker threads for the host's parallel evaluation,
// deformation and pipelining.
//
// khost's headers say which thread calls what with a tag at the end of an
// operation's comment, followed by who owns what it is handed or returns:
//   [loop thread]     the thread that runs main and the frame loop
//                     (CurrentWorker() is 0 there)
//   [pool thread]     a worker of the pool, running a task or a share of a
//                     ParallelFor
//   [any thread]      either; several at once unless the comment says not
//   [signal handler]  also from a signal handler: async-signal-safe
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
  // [any thread] one at a time on a handle, which shares the task's outcome
  // with the worker that runs it.
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

  // `workerCount` threads (at least 1). [loop thread] The pool owns its
  // workers.
  explicit ThreadPool(int workerCount);
  // Runs every task already submitted, then joins the workers. [loop thread]
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // [any thread]
  int GetWorkerCount() const { return static_cast<int>(mWorkers.size()); }

  // Runs `task` on a worker. [any thread] The pool owns `task` until it has
  // run; what it refers to must outlive it (Wait on the handle).
  Task Submit(std::function<void()> task);

  // Calls body(i) for every i in [0, count), spread over the workers and the
  // calling thread, and returns when all calls returned. The caller takes
  // part, so this makes progress even when every worker is busy (it may be
  // called from inside a task). The first exception a call throws is
  // rethrown here once all started calls have finished; the indices not yet
  // started are then skipped. [any thread] Borrows `body` until it returns;
  // body(i) runs on the pool threads and the caller's at once.
  void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body);

  // Workers suggested for this machine: one fewer than the hardware threads
  // (the calling thread works too), at least 1. [any thread]
  static int DefaultWorkerCount();

  // The calling thread's number: 1..GetWorkerCount() on a worker of a pool,
  // 0 on any other thread (the host's loop). [any thread]
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
