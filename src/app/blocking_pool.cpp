#include "app/blocking_pool.h"

#include <system_error>

namespace hx {

BlockingPool::BlockingPool(size_t threads, size_t queueLimit)
    : m_threadCount(threads > 0 ? threads : 1), m_queueLimit(queueLimit) {}

BlockingPool::~BlockingPool() {
  Stop();
}

bool BlockingPool::Submit(std::unique_ptr<JobBase> job, Admission admission) {
  std::unique_lock guard(m_lock);
  if (m_stopped) return false;
  if (admission == Admission::New && m_queue.size() >= m_queueLimit) return false;
  if (m_threads.size() < m_threadCount) {
    try {
      m_threads.emplace_back([this] { ThreadMain(); });
    } catch (const std::system_error&) {
      // The threads there are take the job; with none at all it cannot run.
      if (m_threads.empty()) return false;
    }
  }
  m_queue.push_back(std::move(job));
  guard.unlock();
  m_wake.notify_one();
  return true;
}

void BlockingPool::ThreadMain() {
  for (;;) {
    std::unique_ptr<JobBase> job;
    {
      std::unique_lock guard(m_lock);
      m_wake.wait(guard, [this] { return m_stopped || !m_queue.empty(); });
      if (m_stopped) return;
      job = std::move(m_queue.front());
      m_queue.pop_front();
    }
    job->Execute();
  }
}

void BlockingPool::Stop() {
  std::deque<std::unique_ptr<JobBase>> dropped;
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(m_lock);
    m_stopped = true;
    dropped.swap(m_queue);
    threads.swap(m_threads);
  }
  m_wake.notify_all();
  // Outside the lock: releasing a job releases its session's handler.
  dropped.clear();
  for (std::thread& thread : threads) thread.join();
}

size_t BlockingPool::Waiting() const {
  std::lock_guard guard(m_lock);
  return m_queue.size();
}

}  // namespace hx
