#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <future>
#include <optional>
#include <thread>
#include <type_traits>

namespace hx {

// The thread on which the listeners of both services receive, so that neither the window nor a session
// ever waits for them.
class NetworkThread {
 public:
  NetworkThread();
  ~NetworkThread();

  asio::io_context& Context() { return m_io; }

  // Runs `fn` on the network thread and returns its result; runs it at once when called from that thread.
  template <class F>
  auto RunSync(F fn) -> std::invoke_result_t<F> {
    if (std::this_thread::get_id() == m_thread.get_id()) return fn();
    std::packaged_task<std::invoke_result_t<F>()> task(std::move(fn));
    auto result = task.get_future();
    asio::post(m_io, [&task] { task(); });
    return result.get();
  }

 private:
  asio::io_context m_io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_work;
  std::thread m_thread;
};

}  // namespace hx
