#pragma once

#include <asio/post.hpp>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/worker.h"

namespace hx {

// A few threads for file-system work that can take long (reading a whole file, listing a large folder), so
// that the session loops only move bytes and decide replies. A session hands over work that touches nothing
// of the session, and gets the result back on its strand; meanwhile every other session goes on.
//
// The queue is bounded: new work beyond kQueueLimit waiting jobs is refused at once, and the session answers
// that it is busy, instead of every request of a flood waiting behind the others. The next step of work that
// was already admitted (the next part of a listing being sent) is always taken, so that a transfer under way
// is never cut off by others' requests; there is at most one such step per session.
//
// The threads start with the first job. Stop drops the jobs that wait (their sessions' handlers are released
// unrun) and waits for the running ones.
class BlockingPool {
 public:
  static constexpr size_t kThreads = 2;
  static constexpr size_t kQueueLimit = 64;

  enum class Admission {
    New,           // refused when the queue is full
    Continuation,  // the next step of admitted work: always queued while the pool runs
  };

  explicit BlockingPool(size_t threads = kThreads, size_t queueLimit = kQueueLimit);
  ~BlockingPool();
  BlockingPool(const BlockingPool&) = delete;
  BlockingPool& operator=(const BlockingPool&) = delete;

  // Runs `work()` on a pool thread, then `done(result)` on the worker's strand, bound through the worker like
  // any handler of its session: the worker does not finish while the result is on its way, and `done` must
  // check that its session has not ended meanwhile. `work` must not touch the session; an exception it
  // throws ends the session as one thrown by a handler does. False, with nothing run, when the work is
  // refused (queue full, pool stopped, no thread to be had).
  template <class Work, class Done>
  bool Run(Worker& worker, Work work, Done done, Admission admission = Admission::New) {
    using Result = std::invoke_result_t<Work&>;
    auto finish = worker.Bind([done = std::move(done)](std::optional<Result> result) mutable {
      if (!result) throw std::runtime_error("blocking work failed");
      done(std::move(*result));
    });
    auto job = [work = std::move(work), finish = std::move(finish), executor = worker.Executor()]() mutable {
      std::optional<Result> result;
      try {
        result.emplace(work());
      } catch (const std::exception&) {
      }
      asio::post(executor, [finish = std::move(finish), result = std::move(result)]() mutable {
        finish(std::move(result));
      });
    };
    return Submit(std::make_unique<Job<decltype(job)>>(std::move(job)), admission);
  }

  // Refuses new work, drops what waits and waits for the running jobs. Safe to call more than once.
  void Stop();

  // Jobs waiting for a thread, for tests.
  size_t Waiting() const;

 private:
  struct JobBase {
    virtual ~JobBase() = default;
    virtual void Execute() = 0;
  };
  template <class Fn>
  struct Job final : JobBase {
    explicit Job(Fn fn) : m_fn(std::move(fn)) {}
    void Execute() override { m_fn(); }
    Fn m_fn;
  };

  bool Submit(std::unique_ptr<JobBase> job, Admission admission);
  void ThreadMain();

  const size_t m_threadCount;
  const size_t m_queueLimit;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<std::unique_ptr<JobBase>> m_queue;
  std::vector<std::thread> m_threads;
  bool m_stopped = false;
};

}  // namespace hx
