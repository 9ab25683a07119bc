#pragma once

#include <array>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "app/app_context.h"
#include "app/clock.h"
#include "app/worker.h"
#include "tftp/block_pool.h"
#include "tftp/datagram_batch.h"
#include "tftp/engine_settings.h"
#include "tftp/transfer_engine.h"

namespace hx::tftp {

// The worker of one TFTP session, server or client: its own UDP socket and timer on the session loop, around
// a TransferEngine whose actions it carries out. The time it hands the engine and its timer are the
// context's clock. Subclasses decide how the session starts.
class TftpSession : public Worker {
 public:
  explicit TftpSession(AppContext& context);
  ~TftpSession() override;

 protected:
  // Opens the session socket of the peer's family on an ephemeral local port of any local address.
  std::error_code OpenSocket(const asio::ip::udp& family);
  TransferEngine& CreateEngine(Side side, bool clientSide);
  TransferEngine& Engine() { return *m_engine; }
  TimePoint Now() const { return m_context.clock.Now(); }

  // Carries out the engine's actions in order; a failed send that the engine wants to know about is
  // reported to it and ends this batch.
  void Execute(std::span<const Action> actions);
  // Receives datagrams for the engine until the session ends, as many at a time as a window holds.
  void StartReceiving();
  // Socket buffers for the window and block size of `options`: a window arrives and leaves at once, and the
  // default buffers drop most of a large one.
  void SizeBuffers(const TftpOptions& options);
  bool Ended() const { return m_ended; }

  void SetCell(int column, std::string_view text);
  void LogLine(std::string_view text);
  // Ends the session: the socket is closed at once, the file released right after the handler that ended
  // it, also when the session was stopped in the middle of a transfer.
  void Finish();
  void OnStopRequest() override;
  // Cancelling ends the transfer as the engine says; before the engine has started, the session just ends.
  void OnAction(SessionAction action) override;

  AppContext& m_context;
  ConfigEngineSettings m_settings;
  asio::ip::udp::socket m_socket;
  // The share of the blocks' memory that this session holds (sending side); returned when it ends.
  BlockPool::Reservation m_blocks;

 private:
  void OnReceived(const std::error_code& error, size_t length);
  // Sends what the batch holds; false when a failure ended this batch (the engine has been told).
  bool FlushSends();
  void SyncTimer();

  std::unique_ptr<ClockTimer> m_timer;
  bool m_timerPending = false;
  TimePoint m_timerExpiry{};
  std::uint64_t m_timerGeneration = 0;
  std::optional<TransferEngine> m_engine;
  bool m_ended = false;
  ReceiveBatch m_received;
  SendBatch m_sends;
};

}  // namespace hx::tftp
