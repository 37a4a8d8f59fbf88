#include "numerics/WorkerPool.h"

#include <cfenv>
#include <cstdlib>
#include <cstring>

namespace morvex {

namespace {

std::atomic<int> g_thread_override{0};

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::atomic_signal_fence(std::memory_order_seq_cst);
#endif
}

int CoreCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace

std::optional<int> ParseThreadCount(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + (ch - '0');
  }
  if (value < 1) return std::nullopt;
  return value;
}

std::string ThreadCountProblem() {
  const char* text = std::getenv("MORVEX_THREADS");
  if (text == nullptr || *text == '\0' || ParseThreadCount(text)) return "";
  return "MORVEX_THREADS='" + std::string(text) +
         "' is not a positive whole number; using one thread per core (" + std::to_string(CoreCount()) +
         ")";
}

int ThreadCount() {
  const int forced = g_thread_override.load();
  if (forced > 0) return forced;
  if (const char* text = std::getenv("MORVEX_THREADS"))
    if (const std::optional<int> threads = ParseThreadCount(text)) return *threads;
  return CoreCount();
}

void SetThreadCount(int threads) { g_thread_override.store(threads > 0 ? threads : 0); }

TWorkerPool::TWorkerPool(int threads) : environment_(sizeof(std::fenv_t)) {
  for (int worker = 1; worker < threads; ++worker) workers_.emplace_back([this, worker] { WorkerLoop(worker); });
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  start_.notify_all();
  for (std::thread& thread : workers_) thread.join();
}

void TWorkerPool::Work(int worker) {
  for (;;) {
    if (failing_.load(std::memory_order_acquire)) return;
    const size_t index = next_.fetch_add(1, std::memory_order_relaxed);
    if (index >= count_) return;
    try {
      (*item_)(worker, index);
    } catch (...) {
      std::lock_guard<std::mutex> lock(error_mutex_);
      if (!error_ || index < error_index_) {
        error_ = std::current_exception();
        error_index_ = index;
      }
      failing_.store(true, std::memory_order_release);
    }
  }
}

void TWorkerPool::WorkerLoop(int worker) {
  unsigned long seen = 0;
  for (;;) {
    // Batches often follow each other within microseconds (the generations
    // of a search): look for the next one briefly before going to sleep.
    for (int spin = 0; spin < 4000 && batch_.load(std::memory_order_acquire) == seen; ++spin) CpuRelax();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return quit_ || batch_ != seen; });
      if (quit_) return;
      seen = batch_;
    }
    std::fesetenv(reinterpret_cast<const std::fenv_t*>(environment_.data()));
    Work(worker);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --busy_;
    }
    finished_.notify_one();
  }
}

void TWorkerPool::Run(size_t count, const std::function<void(int, size_t)>& item) {
  item_ = &item;
  count_ = count;
  next_.store(0);
  failing_.store(false);
  error_ = nullptr;
  if (!workers_.empty()) {
    std::fegetenv(reinterpret_cast<std::fenv_t*>(environment_.data()));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = static_cast<int>(workers_.size());
      ++batch_;
    }
    start_.notify_all();
  }
  Work(0);
  if (!workers_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return busy_ == 0; });
  }
  item_ = nullptr;
  if (error_) std::rethrow_exception(error_);
}

}  // namespace morvex
