#pragma once

#include <asio/io_context.hpp>
#include <atomic>
#include <future>
#include <thread>

namespace hx {

// A session's thread with its own event loop. The thread is created suspended (Create), registered, then
// resumed (Resume), so that a session has its row before it runs. Stop requests are posted to the event
// loop; the worker has ended when Run has returned.
class Worker {
 public:
  Worker();
  // The owner joins a running worker before destroying it (the registry does); the destructor itself only
  // releases a thread that was created but never resumed.
  virtual ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Creates the thread, which waits for Resume before it calls Run. False when no thread could be made.
  bool Create();
  void Resume();
  // True once Run has returned (the thread's exit code is set).
  bool Finished() const { return m_finished.load(std::memory_order_acquire); }
  // Asks the worker to end; safe from any thread, any number of times.
  void RequestStop();
  // Waits for the thread to end. Only for a worker that has finished or was asked to stop.
  void Join();

  int m_nSessionId = 0;

 protected:
  // The session's body, on the worker thread. The default runs the event loop until it has no more work.
  virtual void Run();
  // Called on the worker thread for a stop request. The default stops the event loop.
  virtual void OnStopRequest();

  asio::io_context m_io;

 private:
  void ThreadMain();

  std::thread m_thread;
  std::promise<void> m_resume;
  bool m_resumed = false;
  std::atomic<bool> m_finished{false};
};

// A number that names the calling thread in debug lines ("Thread %d").
int CurrentThreadNumber();

}  // namespace hx
