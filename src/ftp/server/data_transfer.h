#pragma once

#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "app/byte_stream.h"
#include "app/clock.h"
#include "app/worker.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/transfer_host.h"

namespace hx::ftpd {

// The error a transfer's ConnectFailed gets when the data connection's TLS failed or did not resume the
// control connection's session; the transfer has logged why.
inline const std::error_code kDataTlsRefused = std::make_error_code(std::errc::connection_aborted);

// What every data command's transfer does alike (RETR, STOR and APPE, LIST and NLST): it opens its data
// connection through a DataOpener after the 150 reply, watches it for stalls, and ends exactly once, telling
// its host. What it moves and which replies end it are the business of the kind (Download, Upload,
// ListingJob), which the base calls at these points:
//   Connected()            the connection is up; m_stream holds it
//   ConnectFailed(error)   it could not be opened (or did not come within FDataTimeout)
//   ConnectionReset()      it was made and reset by the client before the server saw it
//   Stalled()              no byte moved for FDataTimeout seconds ("FTP: No data moved ..." is logged)
//   Release()              the session ends: files go without a reply
//
// Every handler of a transfer goes through Bind: the worker counts it, so a session's end waits for it, and
// the transfer counts it, so that its session keeps it until none is left (Idle). Handlers that come after
// the end find m_ended set and return.
class DataTransfer {
 public:
  DataTransfer(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
               TransferSettings settings);
  virtual ~DataTransfer();
  DataTransfer(const DataTransfer&) = delete;
  DataTransfer& operator=(const DataTransfer&) = delete;

  // Starts opening the data connection. False when the system refused at once and the kind ended the
  // transfer on the spot (StartRefused), before its host ever held it.
  bool Connect(std::unique_ptr<DataOpener> opener);
  // ABOR.
  virtual void Abort() = 0;
  // The session ends: the transfer closes its connection and files without a reply.
  void Close();
  // Ended, and none of its handlers is left: it may be destroyed.
  bool Idle() const { return m_ended && m_handlers.load(std::memory_order_acquire) == 0; }
  // Whether the command's final reply has gone already (a download's early success under Quorin).
  virtual bool FinalReplySent() const { return false; }
  // Whether the session reads no command while it runs (a listing).
  virtual bool HoldsCommands() const { return false; }
  // How a file transfer ended, once it has: the data went whole or not. Unset for a listing.
  std::optional<bool> Succeeded() const { return m_succeeded; }

 protected:
  virtual void Connected() = 0;
  virtual void ConnectFailed(std::error_code error) = 0;
  virtual void ConnectionReset() = 0;
  virtual void Stalled() {}
  virtual void Release() {}
  // The system refused the connection at once: by default that is a connection that failed.
  virtual bool StartRefused(std::error_code error);

  // The data connection moved bytes: the stall limit counts from now.
  void Moved() { m_lastMoved = m_clock.Now(); }
  // Stops the connection and the timers; the transfer starts nothing after this.
  void Shut();
  // Shut, then tells the host: the last step of every ending.
  void Finish();

  template <class Handler>
  auto Bind(Handler handler) {
    return m_worker.Bind(Hold(std::move(handler)));
  }
  // Counts the handler as the transfer's only; for work that the worker's own Bind already wraps (the pool).
  template <class Handler>
  auto Hold(Handler handler) {
    return [held = Held(this), handler = std::move(handler)](auto&&... args) mutable {
      handler(std::forward<decltype(args)>(args)...);
    };
  }
  void Post(std::function<void()> fn);

  TransferHost& m_host;
  Worker& m_worker;
  Clock& m_clock;
  const TransferSettings m_settings;
  std::unique_ptr<ByteStream> m_stream;  // the data connection, once it is up
  std::unique_ptr<DataOpener> m_opener;
  bool m_ended = false;
  bool m_connected = false;
  std::optional<bool> m_succeeded;  // set by a file transfer when it ends

 private:
  class Held {
   public:
    explicit Held(DataTransfer* owner) : m_owner(owner) { m_owner->m_handlers.fetch_add(1); }
    Held(const Held& other) : m_owner(other.m_owner) {
      if (m_owner) m_owner->m_handlers.fetch_add(1);
    }
    Held(Held&& other) noexcept : m_owner(std::exchange(other.m_owner, nullptr)) {}
    Held& operator=(const Held&) = delete;
    ~Held() {
      if (m_owner) m_owner->m_handlers.fetch_sub(1, std::memory_order_acq_rel);
    }

   private:
    DataTransfer* m_owner;
  };

  void OnConnect(std::error_code error);
  void StartTls();
  void WatchForStall();

  asio::ip::tcp::socket m_socket;  // the connection while it is being opened
  std::unique_ptr<ClockTimer> m_stallTimer;
  Clock::TimePoint m_lastMoved;  // the watch's start, or the last byte moved
  std::atomic<int> m_handlers{0};
};

}  // namespace hx::ftpd
