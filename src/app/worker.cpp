#include "app/worker.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "app/session_loops.h"

namespace hx {
namespace {

thread_local int t_threadNumber = 0;

}  // namespace

Worker::Worker(SessionLoops& loops) : m_executor(asio::make_strand(loops.Context())) {}

Worker::~Worker() = default;

bool Worker::Create() {
  try {
    return Prepare();
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::system_error&) {
    return false;
  }
}

void Worker::Resume() {
  Post([this] { Run(); });
}

bool Worker::Finished() const {
  return m_ended.load(std::memory_order_acquire) && m_pending.load(std::memory_order_acquire) == 0;
}

void Worker::RequestStop() {
  Post([this] {
    if (!HasEnded()) OnStopRequest();
  });
}

void Worker::Act(SessionAction action) {
  Post([this, action] {
    if (!HasEnded()) OnAction(action);
  });
}

unsigned Worker::OfferedActions() const {
  return HasEnded() ? 0 : m_offered.load(std::memory_order_acquire);
}

void Worker::Join() {
  // Rare (the end of the program, tests): a short poll keeps the handlers' bookkeeping to one counter.
  while (!Finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Worker::Fail() {
  try {
    OnStopRequest();
  } catch (const std::exception&) {
  }
  End();
}

Worker::ThreadNumberScope::ThreadNumberScope(int number) : m_previous(t_threadNumber) {
  t_threadNumber = number;
}

Worker::ThreadNumberScope::~ThreadNumberScope() {
  t_threadNumber = m_previous;
}

int CurrentThreadNumber() {
  return t_threadNumber != 0 ? t_threadNumber : static_cast<int>(::syscall(SYS_gettid));
}

}  // namespace hx
