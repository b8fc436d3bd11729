#include "_batch/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>

namespace tessera::batch {

Pool::Pool(size_t threads) {
  threads_.reserve(threads);
  // The workers start with every signal blocked (a thread inherits its creator's mask), so that
  // Ctrl-C always reaches the interpreter's thread, interrupting a write that thread is blocked in.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    shutdown();
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Pool::~Pool() { shutdown(); }

void Pool::shutdown() noexcept {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    queue_.clear();
  }
  work_ready_.notify_all();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

void Pool::submit(std::span<Job* const> jobs) {
  if (jobs.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.insert(queue_.end(), jobs.begin(), jobs.end());
  }
  if (jobs.size() == 1)
    work_ready_.notify_one();
  else
    work_ready_.notify_all();
}

bool Pool::wait(Job& job, std::chrono::milliseconds timeout) {
  if (job.done.load(std::memory_order_acquire)) return true;
  if (threads_.empty()) {
    // Inline: run the queued jobs up to this one. Each wait runs at most one, so that the caller
    // gets to look at its signals between scripts.
    Job* next = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!queue_.empty()) {
        next = queue_.front();
        queue_.pop_front();
      }
    }
    if (next != nullptr) {
      next->run();
      next->done.store(true, std::memory_order_release);
    }
    return job.done.load(std::memory_order_acquire);
  }
  std::unique_lock lock(mutex_);
  return job_done_.wait_for(lock, timeout, [&] { return job.done.load(std::memory_order_acquire); });
}

void Pool::work() {
  for (;;) {
    Job* job;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      job = queue_.front();
      queue_.pop_front();
    }
    job->run();
    {
      // Under the lock, so that a waiter that has just found the job unfinished is already waiting
      // when the notification comes.
      std::lock_guard lock(mutex_);
      job->done.store(true, std::memory_order_release);
    }
    job_done_.notify_all();
  }
}

size_t Pool::workers_for(size_t jobs) {
  size_t cores = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = static_cast<size_t>(CPU_COUNT(&set));
  if (cores == 0) cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min(jobs, 4 * cores);
}

}  // namespace tessera::batch
