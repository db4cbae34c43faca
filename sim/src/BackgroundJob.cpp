#include "sim/BackgroundJob.h"

#include <stdexcept>
#include <utility>

namespace velmora {
namespace sim {

BackgroundJob::BackgroundJob() : thread_([this] { run(); }) {}

BackgroundJob::~BackgroundJob() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundJob::start(std::function<void()> job) {
  if (pending_) throw std::logic_error("BackgroundJob::start: the previous job was not waited for");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
    done_ = false;
    error_ = nullptr;
  }
  pending_ = true;
  changed_.notify_all();
}

void BackgroundJob::wait() {
  if (!pending_) return;
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    error = std::exchange(error_, nullptr);
  }
  pending_ = false;
  if (error) std::rethrow_exception(error);
}

void BackgroundJob::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || static_cast<bool>(job_); });
    if (stopping_) return;
    std::function<void()> job = std::move(job_);
    job_ = nullptr;
    lock.unlock();
    std::exception_ptr error;
    try {
      job();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    error_ = error;
    done_ = true;
    changed_.notify_all();
  }
}

}  // namespace sim
}  // namespace velmora
