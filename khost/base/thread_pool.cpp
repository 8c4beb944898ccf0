#include "khost/base/thread_pool.h"

#include <algorithm>
#include <atomic>

namespace khost {

namespace {
thread_local int tWorkerNumber = 0;
}  // namespace

struct ThreadPool::Task::State {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
  std::exception_ptr Error;
};

void ThreadPool::Task::Wait() {
  if (!mState) return;
  std::exception_ptr error;
  {
    std::unique_lock lock(mState->Mutex);
    mState->Done.wait(lock, [this] { return mState->Finished; });
    error = mState->Error;
  }
  mState.reset();
  if (error) std::rethrow_exception(error);
}

ThreadPool::ThreadPool(int workerCount) {
  const int count = std::max(1, workerCount);
  mWorkers.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) mWorkers.emplace_back([this, i] { WorkerLoop(i + 1); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
  }
  mWake.notify_all();
  for (std::thread& worker : mWorkers) worker.join();
}

int ThreadPool::DefaultWorkerCount() {
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 1 ? static_cast<int>(hardware) - 1 : 1;
}

int ThreadPool::CurrentWorker() {
  return tWorkerNumber;
}

void ThreadPool::WorkerLoop(int number) {
  tWorkerNumber = number;
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mMutex);
      mWake.wait(lock, [this] { return mStopping || !mQueue.empty(); });
      if (mQueue.empty()) return;  // stopping, and nothing left to run
      job = std::move(mQueue.front());
      mQueue.pop_front();
    }
    job();
  }
}

ThreadPool::Task ThreadPool::Submit(std::function<void()> task) {
  Task handle;
  handle.mState = std::make_shared<Task::State>();
  auto state = handle.mState;
  {
    std::lock_guard lock(mMutex);
    mQueue.emplace_back([state, body = std::move(task)] {
      std::exception_ptr error;
      try {
        body();
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard done(state->Mutex);
      state->Error = error;
      state->Finished = true;
      state->Done.notify_all();
    });
  }
  mWake.notify_one();
  return handle;
}

namespace {

// Shared between the caller and the helpers of one ParallelFor; helpers that
// start after the loop ended find no index left and return at once.
struct ForState {
  std::size_t Count = 0;
  const std::function<void(std::size_t)>* Body = nullptr;
  std::atomic<std::size_t> Next{0};
  std::atomic<bool> Failed{false};
  std::mutex Mutex;
  std::condition_variable Done;
  std::size_t Finished = 0;  // indices claimed and completed (or skipped)
  std::exception_ptr Error;

  // Claims and runs indices until none is left.
  void Run() {
    for (;;) {
      const std::size_t i = Next.fetch_add(1);
      if (i >= Count) return;
      std::exception_ptr error;
      if (!Failed.load()) {
        try {
          (*Body)(i);
        } catch (...) {
          error = std::current_exception();
          Failed.store(true);
        }
      }
      std::lock_guard lock(Mutex);
      if (error && !Error) Error = error;
      if (++Finished == Count) Done.notify_all();
    }
  }
};

}  // namespace

void ThreadPool::ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body) {
  if (count == 0) return;
  if (count == 1) {
    body(0);
    return;
  }
  auto state = std::make_shared<ForState>();
  state->Count = count;
  state->Body = &body;
  const std::size_t helpers = std::min(count - 1, mWorkers.size());
  {
    std::lock_guard lock(mMutex);
    for (std::size_t h = 0; h < helpers; ++h) {
      mQueue.emplace_back([state] { state->Run(); });
    }
  }
  mWake.notify_all();
  state->Run();
  std::unique_lock lock(state->Mutex);
  state->Done.wait(lock, [&] { return state->Finished == state->Count; });
  // `body` is not touched after this point: every index is claimed and done,
  // and late helpers return before dereferencing it.
  if (state->Error) std::rethrow_exception(state->Error);
}

}  // namespace khost
