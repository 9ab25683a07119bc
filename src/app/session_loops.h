#pragma once

#include <asio/io_context.hpp>
#include <cstddef>
#include <memory>

namespace hx {

// The event loop that every session runs on: one io_context shared by a thread per CPU the process may use.
// A session is an object with a strand of this loop, so an idle session costs its sockets and no thread, and
// the loop's own descriptors (epoll, eventfd, timerfd) are paid once for the whole process.
//
// A handler that must wait for long (a host name lookup) does so inside a BlockingRegion: another thread
// joins the loop meanwhile, so the other sessions go on.
class SessionLoops {
 public:
  // `threads` 0: one per CPU the process may run on.
  explicit SessionLoops(unsigned threads = 0);
  // Stops the loop and waits for its threads. A thread still held in a BlockingRegion is left to itself:
  // it keeps what it needs, and the process ends with it.
  ~SessionLoops();
  SessionLoops(const SessionLoops&) = delete;
  SessionLoops& operator=(const SessionLoops&) = delete;

  asio::io_context& Context();
  size_t ThreadCount() const;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

// Marks a wait of a loop thread that may last (for the operator, say); a no-op on any other thread.
class BlockingRegion {
 public:
  BlockingRegion();
  ~BlockingRegion();
  BlockingRegion(const BlockingRegion&) = delete;
  BlockingRegion& operator=(const BlockingRegion&) = delete;

 private:
  std::shared_ptr<SessionLoops::State> m_state;
};

}  // namespace hx
