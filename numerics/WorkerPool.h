// Threads for evaluations whose results must equal the serial ones.
//
// The caller splits its work into numbered items that it can compute in
// any order (each item writes only its own result), runs them on the pool,
// and then combines the results in its own, serial order.  The pool hands
// the numbers out in increasing order to its threads and to the calling
// thread, so an item may wait for items with lower numbers without
// deadlock: the lowest unfinished item never waits.
//
// How many threads a fit uses: MORVEX_THREADS when it holds a positive whole
// number, else the number of cores; a program may override both
// (SetThreadCount, e.g. from --threads).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace morvex {

// The number of threads a fit uses (at least 1).
int ThreadCount();
// Overrides MORVEX_THREADS and the core count; 0 removes the override.
void SetThreadCount(int threads);
// A positive whole number of threads from a text, or nothing.
std::optional<int> ParseThreadCount(const std::string& text);
// What is wrong with MORVEX_THREADS, or "" when it is unset or usable.
std::string ThreadCountProblem();

class TWorkerPool {
 public:
  // `threads` counts the calling thread: 1 starts no thread at all.
  explicit TWorkerPool(int threads);
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls item(worker, index) once for every index in [0, count); worker 0
  // is the calling thread, 1 .. Threads()-1 the pool's own.  Each thread
  // starts with the calling thread's floating-point environment.  Returns
  // when every item handed out has finished.  When items throw, no further
  // index is handed out and the exception of the lowest index that threw is
  // rethrown here.
  void Run(size_t count, const std::function<void(int worker, size_t index)>& item);

  // True once an item of the current Run has thrown: items that wait for
  // others should give up.
  bool Failing() const { return failing_.load(std::memory_order_acquire); }

 private:
  void WorkerLoop(int worker);
  void Work(int worker);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable finished_;
  // Guarded by mutex_: the batch number, the workers still in the batch,
  // and the end of the pool.
  std::atomic<unsigned long> batch_{0};
  int busy_ = 0;
  bool quit_ = false;

  // The current batch.
  const std::function<void(int, size_t)>* item_ = nullptr;
  size_t count_ = 0;
  std::atomic<size_t> next_{0};
  std::atomic<bool> failing_{false};
  std::exception_ptr error_;
  size_t error_index_ = 0;
  std::mutex error_mutex_;
  std::vector<unsigned char> environment_;  // the caller's fenv_t
};

}  // namespace morvex
