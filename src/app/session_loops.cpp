#include "app/session_loops.h"

#include <sched.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace hx {

// Shared by the owner, every loop thread and every BlockingRegion, so that a thread left blocked at the end
// still finds its loop when it comes back.
struct SessionLoops::State {
  asio::io_context io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{asio::make_work_guard(io)};
  std::mutex lock;
  std::vector<std::thread> threads;
  size_t base = 0;
  size_t blocked = 0;
};

namespace {

// The loop the calling thread runs, if it is one of a SessionLoops' threads.
thread_local std::weak_ptr<SessionLoops::State> t_state;

// Threads added for blocked ones beyond this many are not worth it: that many slow lookups at once mean a
// resolver that does not answer.
constexpr size_t kMaxExtraThreads = 64;

void AddThread(const std::shared_ptr<SessionLoops::State>& state) {
  state->threads.emplace_back([state] {
    t_state = state;
    // A handler that throws is caught by its session's guard; anything that still escapes must not end the
    // loop for every other session.
    for (;;) {
      try {
        state->io.run();
        return;
      } catch (const std::exception&) {
      }
    }
  });
}

// The CPUs this process may run on. A thread more than that only takes turns with the others: with two
// threads on one CPU every packet of a lock-step transfer woke the other thread, and the transfer took
// 1.2 times as long as with one.
unsigned UsableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

SessionLoops::SessionLoops(unsigned threads) : m_state(std::make_shared<State>()) {
  m_state->base = threads ? threads : UsableCpus();
  std::lock_guard guard(m_state->lock);
  for (size_t i = 0; i < m_state->base; ++i) AddThread(m_state);
}

SessionLoops::~SessionLoops() {
  m_state->work.reset();
  m_state->io.stop();
  std::vector<std::thread> threads;
  bool blocked;
  {
    std::lock_guard guard(m_state->lock);
    threads.swap(m_state->threads);
    blocked = m_state->blocked > 0;
  }
  for (auto& thread : threads) {
    if (blocked)
      thread.detach();
    else
      thread.join();
  }
}

asio::io_context& SessionLoops::Context() {
  return m_state->io;
}

size_t SessionLoops::ThreadCount() const {
  std::lock_guard guard(m_state->lock);
  return m_state->threads.size();
}

BlockingRegion::BlockingRegion() : m_state(t_state.lock()) {
  if (!m_state) return;
  std::lock_guard guard(m_state->lock);
  ++m_state->blocked;
  size_t total = m_state->threads.size();
  size_t running = total > m_state->blocked ? total - m_state->blocked : 0;
  if (running < m_state->base && m_state->threads.size() < m_state->base + kMaxExtraThreads &&
      !m_state->io.stopped()) {
    try {
      AddThread(m_state);
    } catch (const std::system_error&) {
      // No thread to be had: the other sessions wait for the threads there are.
    }
  }
}

BlockingRegion::~BlockingRegion() {
  if (!m_state) return;
  std::lock_guard guard(m_state->lock);
  --m_state->blocked;
}

}  // namespace hx
