#pragma once

// One job at a time on a thread of its own: the caller starts a job, does other work, then
// waits for the job's end. Lets a lockstep run overlap one computation with the rest of a cycle
// while every result still arrives at a step fixed in advance (the run stays deterministic).

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {
namespace sim {

/// A worker thread that runs the jobs handed to it one after the other. start() and wait() are
/// called from one owning thread; the job must not touch what the owner uses until wait().
class BackgroundJob {
 public:
  /// Starts the worker thread (idle until the first job).
  BackgroundJob();
  /// Waits for the running job (its exception, if any, is dropped) and stops the thread.
  ~BackgroundJob();
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  /// Hands `job` to the worker and returns at once.
  /// @throws std::logic_error when the previous job was not waited for.
  void start(std::function<void()> job);
  /// Blocks until the job started last has returned; rethrows what it threw. Returns at once
  /// when no job is pending.
  void wait();
  /// True from start() until the matching wait() returned.
  bool pending() const { return pending_; }

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;  ///< the job to run (empty when none is queued)
  bool done_ = true;           ///< the job started last has returned
  bool stopping_ = false;
  bool pending_ = false;  ///< owner side: a job started and not yet waited for
  std::exception_ptr error_;
  std::thread thread_;  ///< started last, after every member it uses
};

}  // namespace sim
}  // namespace velmora
