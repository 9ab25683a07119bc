#include "tftp/tftp_session.h"

#include <asio/error.hpp>

#include "app/config_keys.h"
#include "app/frontend.h"
#include "app/socket_error_text.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"

namespace hx::tftp {

TftpSession::TftpSession(AppContext& context)
    : Worker(context.registry.Loops()),
      m_context(context),
      m_settings(context.config),
      m_socket(m_executor),
      m_timer(m_executor) {}

TftpSession::~TftpSession() = default;

std::error_code TftpSession::OpenSocket(const asio::ip::udp& family) {
  std::error_code error;
  m_socket.open(family, error);
  if (!error) m_socket.bind(Endpoint(family, 0), error);
  if (error) m_socket.close();
  return error;
}

TransferEngine& TftpSession::CreateEngine(Side side, bool clientSide) {
  return m_engine.emplace(TransferEngine::Options{side, clientSide, CurrentThreadNumber()}, m_settings);
}

void TftpSession::SetCell(int column, std::string_view text) {
  m_context.registry.SetSessionText(m_nSessionId, column, text);
}

void TftpSession::LogLine(std::string_view text) {
  m_context.log.OnLogLine(cfg::kSourceTftp, text);
}

void TftpSession::Execute(std::span<const Action> actions) {
  bool drain = false;
  for (const Action& action : actions) {
    switch (action.kind) {
      case Action::Kind::Send: {
        std::error_code error;
        m_socket.send_to(asio::buffer(action.bytes.data(), action.bytes.size()), action.to, 0, error);
        if (error && action.reportFailure) {
          // The engine's next actions replace what is left of this batch.
          Execute(m_engine->OnSendFailed(WinsockErrorNumber(error)));
          return;
        }
        break;
      }
      case Action::Kind::ArmTimer:
      case Action::Kind::KillTimer:
        break;  // the timer follows the engine's deadline once the batch is done
      case Action::Kind::SetCell:
        SetCell(action.column, action.text);
        break;
      case Action::Kind::Log:
        LogLine(action.text);
        break;
      case Action::Kind::Debug:
        m_context.log.OnDebugLine(cfg::kSourceTftp, action.text);
        break;
      case Action::Kind::MessageBox:
        m_context.frontend.MessageBox(action.text);
        break;
      case Action::Kind::DrainQueued:
        drain = true;
        break;
      case Action::Kind::End:
        Finish();
        return;
    }
  }
  if (drain) Drain();
  if (!m_ended) SyncTimer();
}

void TftpSession::StartReceiving() {
  if (m_ended) return;
  m_socket.async_receive_from(
      asio::buffer(m_rxBuffer), m_rxFrom,
      Bind([this](const std::error_code& error, size_t length) { OnReceived(error, length); }));
}

void TftpSession::OnReceived(const std::error_code& error, size_t length) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (error) {
    Execute(m_engine->OnReceiveFailed(WinsockErrorNumber(error)));
  } else {
    bool oversized = length > kMaxPacket;
    Execute(m_engine->OnDatagram(std::span(m_rxBuffer.data(), oversized ? kMaxPacket : length), m_rxFrom,
                                 Clock::now(), oversized));
  }
  StartReceiving();
}

void TftpSession::Drain() {
  // Only what is queued now: datagrams of the peer are dropped, any other source still gets its answer.
  for (int i = 0; i < 1024 && !m_ended; ++i) {
    std::error_code error;
    if (m_socket.available(error) == 0 || error) return;
    Endpoint from;
    size_t length = m_socket.receive_from(asio::buffer(m_rxBuffer), from, 0, error);
    if (error) return;
    if (m_engine->Peer() && from == *m_engine->Peer()) continue;
    bool oversized = length > kMaxPacket;
    Execute(m_engine->OnDatagram(std::span(m_rxBuffer.data(), oversized ? kMaxPacket : length), from,
                                 Clock::now(), oversized));
  }
}

void TftpSession::SyncTimer() {
  // One wait is kept outstanding; a deadline that moved later is caught up with when the wait ends, so that
  // the steady flow of packets does not touch the timer at all.
  std::optional<TimePoint> wanted = m_engine ? m_engine->Deadline() : std::nullopt;
  if (!wanted || (m_timerPending && m_timerExpiry <= *wanted)) return;
  m_timer.expires_at(*wanted);
  m_timerExpiry = *wanted;
  m_timerPending = true;
  m_timer.async_wait(Bind([this, generation = ++m_timerGeneration](const std::error_code& error) {
    if (generation != m_timerGeneration) return;  // replaced by a nearer deadline
    m_timerPending = false;
    if (m_ended || error) return;
    Execute(m_engine->OnTimer(Clock::now()));
  }));
}

void TftpSession::OnStopRequest() { Finish(); }

void TftpSession::Finish() {
  if (m_ended) return;
  m_ended = true;
  std::error_code ignored;
  m_timer.cancel();
  m_socket.close(ignored);
  // The engine (and with it the file) goes once the actions that ended it are done with.
  Post([this] {
    m_engine.reset();
    End();
  });
}

}  // namespace hx::tftp
