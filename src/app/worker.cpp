#include "app/worker.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <system_error>

namespace hx {

Worker::Worker() = default;

Worker::~Worker() {
  if (m_thread.joinable()) {
    if (!m_resumed) m_resume = std::promise<void>();  // the thread sees a broken promise and leaves
    RequestStop();
    m_thread.join();
  }
}

bool Worker::Create() {
  try {
    m_thread = std::thread([this, started = m_resume.get_future()]() mutable {
      bool resumed = true;
      try {
        started.get();
      } catch (const std::future_error&) {
        resumed = false;
      }
      if (resumed) ThreadMain();
      m_finished.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Worker::Resume() {
  m_resumed = true;
  m_resume.set_value();
}

void Worker::RequestStop() {
  asio::post(m_io, [this] { OnStopRequest(); });
}

void Worker::Join() {
  if (m_thread.joinable()) m_thread.join();
}

void Worker::ThreadMain() {
  try {
    Run();
  } catch (const std::exception&) {
    // A session never takes the process down; whatever it showed stays in its row.
  }
}

void Worker::Run() { m_io.run(); }

void Worker::OnStopRequest() { m_io.stop(); }

int CurrentThreadNumber() { return static_cast<int>(::syscall(SYS_gettid)); }

}  // namespace hx
