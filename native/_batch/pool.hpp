// Worker threads that run jobs without the interpreter. The thread that submits keeps the order: it
// waits for its jobs one at a time, in the order it wants their results, while the workers take
// them as they come.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace tessera::batch {

class Pool {
 public:
  struct Job {
    virtual ~Job() = default;
    // Must not throw and must not touch a Python object: it runs without the GIL.
    virtual void run() noexcept = 0;
    std::atomic<bool> done{false};
  };

  // With no threads the jobs run on the waiting thread, one per wait, in submission order.
  explicit Pool(size_t threads);
  // Drops the jobs not started and joins the workers once their current job is done.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  void submit(std::span<Job* const> jobs);
  // Waits up to `timeout` for `job`; true once it is done.
  bool wait(Job& job, std::chrono::milliseconds timeout);
  size_t threads() const noexcept { return threads_.size(); }

  // Workers at most for a request of `jobs`: four per core this process may run on. Beyond that
  // more threads only add memory (each holds a script) and switching.
  static size_t workers_for(size_t jobs);

 private:
  void work();
  void shutdown() noexcept;

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_done_;
  std::deque<Job*> queue_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tessera::batch
