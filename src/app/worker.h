#pragma once

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <atomic>
#include <utility>

#include "app/address_counts.h"

namespace hx {

class SessionLoops;

// What the operator can do to a running session from its row.
enum class SessionAction { CancelTransfer, Disconnect };
// The actions a session offers now, as bits of a mask.
inline constexpr unsigned kOffersCancel = 1;
inline constexpr unsigned kOffersDisconnect = 2;
// The Status of a client or TFTP transfer that the operator cancelled, and the text of the TFTP ERROR.
inline constexpr const char* kCancelledText = "Transfer cancelled by the operator";

// What a session's handlers run on: a strand of the shared session loop, so that no two of them overlap.
using SessionExecutor = asio::strand<asio::io_context::executor_type>;

// One session (a TFTP transfer, an FTP connection, a client transfer) as an object on the shared session
// loop. It is created (Create: it takes the descriptors it needs, and failing that it is refused before it
// has a row), registered, then resumed (Resume: Run is posted to its strand), so that a session has its row
// before it runs. Stop requests are posted to its strand.
//
// Every completion handler of the session goes through Bind, which counts it as pending: the worker has
// finished once its session has ended (End) and no handler of it is left, and only then may its owner
// destroy it.
class Worker {
 public:
  explicit Worker(SessionLoops& loops);
  virtual ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Prepares the session; false when it cannot have what it needs (descriptors, memory).
  bool Create();
  void Resume();
  // True once the session has ended and none of its handlers is pending.
  bool Finished() const;
  // Asks the worker to end; safe from any thread, any number of times.
  void RequestStop();
  // Posts the operator's action to the session's strand and returns at once; a session to which it does
  // not apply (any more) ignores it. Safe from any thread.
  void Act(SessionAction action);
  // The actions that apply to the session now (kOffers... bits); none once it has ended. Any thread.
  unsigned OfferedActions() const;
  // The session says which actions apply to it now; called on its strand.
  void Offer(unsigned actions) { m_offered.store(actions, std::memory_order_release); }
  // Waits until the worker has finished. Only for a worker that has finished or was asked to stop.
  void Join();

  const SessionExecutor& Executor() const { return m_executor; }
  // The slot of the peer address this session counts against; it is given back when the worker is destroyed.
  void HoldAddressSlot(AddressSlot slot) { m_addressSlot = std::move(slot); }

  // Wraps a completion handler of this session (see the class note). The handler runs with the session's
  // number as the thread number of debug lines, and an exception it throws ends the session.
  template <class Handler>
  auto Bind(Handler handler) {
    return [pending = Pending(this), handler = std::move(handler)](auto&&... args) mutable {
      pending.Owner()->Invoke([&] { handler(std::forward<decltype(args)>(args)...); });
    };
  }
  // Runs `fn` on the session's strand, later.
  template <class Fn>
  void Post(Fn fn) {
    asio::post(m_executor, Bind(std::move(fn)));
  }

  int m_nSessionId = 0;

 protected:
  // Before registration: takes what the session cannot run without. False refuses the session.
  virtual bool Prepare() { return true; }
  // The session's start, on its strand. A worker with nothing to do (the default) has ended at once.
  virtual void Run() { End(); }
  // Called on the strand for a stop request to a session that has not ended. The default ends it.
  virtual void OnStopRequest() { End(); }
  // Called on the strand for an operator's action on a session that has not ended. The default ignores it.
  virtual void OnAction(SessionAction) {}
  // The session has ended: it starts nothing new, and its sockets and files are closed or closing.
  void End() { m_ended.store(true, std::memory_order_release); }
  bool HasEnded() const { return m_ended.load(std::memory_order_acquire); }

  SessionExecutor m_executor;

 private:
  // Counts one handler as pending for as long as it exists; a copy (a handler kept in a std::function) counts
  // as one more.
  class Pending {
   public:
    explicit Pending(Worker* owner) : m_owner(owner) {
      m_owner->m_pending.fetch_add(1, std::memory_order_relaxed);
    }
    Pending(const Pending& other) : m_owner(other.m_owner) {
      if (m_owner) m_owner->m_pending.fetch_add(1, std::memory_order_relaxed);
    }
    Pending(Pending&& other) noexcept : m_owner(std::exchange(other.m_owner, nullptr)) {}
    Pending& operator=(Pending&&) = delete;
    // The last touch of the worker: once the count is down, its owner may destroy it.
    ~Pending() {
      if (m_owner) m_owner->m_pending.fetch_sub(1, std::memory_order_acq_rel);
    }
    Worker* Owner() const { return m_owner; }

   private:
    Worker* m_owner;
  };

  template <class Fn>
  void Invoke(Fn&& fn) {
    ThreadNumberScope scope(m_nSessionId);
    try {
      fn();
    } catch (const std::exception&) {
      Fail();
    }
  }
  // A handler threw: the session is stopped and ends; whatever it showed stays in its row.
  void Fail();

  class ThreadNumberScope {
   public:
    explicit ThreadNumberScope(int number);
    ~ThreadNumberScope();

   private:
    int m_previous;
  };

  AddressSlot m_addressSlot;
  std::atomic<int> m_pending{0};
  std::atomic<bool> m_ended{false};
  std::atomic<unsigned> m_offered{0};
};

// The number that names the running session in debug lines ("Thread %d"): the session's id inside one of its
// handlers, the system's thread id elsewhere.
int CurrentThreadNumber();

}  // namespace hx
