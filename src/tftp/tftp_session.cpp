#include "tftp/tftp_session.h"

#include <sys/socket.h>

#include <algorithm>
#include <asio/error.hpp>
#include <cerrno>

#include "app/config_keys.h"
#include "app/frontend.h"
#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"

namespace hx::tftp {
namespace {

// Datagrams taken with one call at most, and by a sending side.
constexpr int kMaxBatch = 64;
constexpr int kSendingBatch = 4;

}  // namespace

TftpSession::TftpSession(AppContext& context)
    : Worker(context.registry.Loops()),
      m_context(context),
      m_settings(context.config),
      m_socket(m_executor),
      m_timer(context.clock.MakeTimer(m_executor)) {
  Offer(kOffersCancel);
}

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
  for (const Action& action : actions) {
    if (action.kind != Action::Kind::Send && !m_sends.Empty() && !FlushSends()) return;
    switch (action.kind) {
      case Action::Kind::Send:
        m_sends.Add(action.bytes, action.to, action.reportFailure);
        break;
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
      case Action::Kind::End:
        Finish();
        return;
    }
  }
  if (!m_sends.Empty() && !FlushSends()) return;
  if (!m_ended) SyncTimer();
}

bool TftpSession::FlushSends() {
  int failure = m_sends.Flush(m_socket.native_handle());
  if (failure == 0) return true;
  // The engine's next actions replace what is left of this batch.
  Execute(m_engine->OnSendFailed(
      WinsockErrorNumber(std::error_code(failure, asio::error::get_system_category()))));
  return false;
}

void TftpSession::SizeBuffers(const TftpOptions& options) {
  int window = options.windowSize.value_or(1);
  if (window <= 1) return;
  size_t datagram = kHeaderSize + static_cast<size_t>(options.blockSize.value_or(kBlockSize));
  // Each datagram costs about twice its size in buffer; a few megabytes at most.
  int bytes =
      static_cast<int>(std::min<size_t>(static_cast<size_t>(window) * 2 * (datagram + 64), 16u << 20));
  int fd = m_socket.native_handle();
  for (int option : {SO_RCVBUF, SO_SNDBUF}) {
    // Beyond the system's limit only with the right to override it; without, the limit is what there is.
    int forced = option == SO_RCVBUF ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
    if (::setsockopt(fd, SOL_SOCKET, forced, &bytes, sizeof bytes) != 0)
      ::setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes);
  }
}

void TftpSession::StartReceiving() {
  if (m_ended) return;
  // The first datagram is waited for as a plain receive (asio tries it at once, and needs no change of the
  // descriptor's registration); the rest of a window that came with it is taken in one more call. A sending
  // side gets an ACK per window, and a few at a time are plenty.
  int batch = m_engine->SendingSide() ? kSendingBatch : m_engine->WindowSize();
  auto count = static_cast<size_t>(std::clamp(batch, 1, kMaxBatch));
  std::span<std::uint8_t> first = m_received.First(count, m_engine->MaxDatagram());
  m_socket.async_receive_from(
      asio::buffer(first.data(), first.size()), m_received.FirstSource(),
      Bind([this](const std::error_code& error, size_t length) { OnReceived(error, length); }));
}

void TftpSession::OnReceived(const std::error_code& error, size_t length) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (error) {
    Execute(m_engine->OnReceiveFailed(WinsockErrorNumber(error)));
    StartReceiving();
    return;
  }
  int received = m_received.ReceiveMore(m_socket.native_handle(), length);
  // Every datagram that has come goes to the engine in order: it ignores what is stale (an ACK of a block
  // acknowledged already, a block received already), so the newest ACK is the one that moves the transfer.
  for (int i = 0; i < received && !m_ended; ++i)
    Execute(m_engine->OnDatagram(m_received.Bytes(i), m_received.From(i), Now(), m_received.Cut(i)));
  StartReceiving();
}

void TftpSession::SyncTimer() {
  // One wait is kept outstanding; a deadline that moved later is caught up with when the wait ends, so that
  // the steady flow of packets does not touch the timer at all.
  std::optional<TimePoint> wanted = m_engine ? m_engine->Deadline() : std::nullopt;
  if (!wanted || (m_timerPending && m_timerExpiry <= *wanted)) return;
  m_timer->ExpiresAt(*wanted);
  m_timerExpiry = *wanted;
  m_timerPending = true;
  m_timer->AsyncWait(Bind([this, generation = ++m_timerGeneration](const std::error_code& error) {
    if (generation != m_timerGeneration) return;  // replaced by a nearer deadline
    m_timerPending = false;
    if (m_ended || error) return;
    Execute(m_engine->OnTimer(Now()));
  }));
}

void TftpSession::OnStopRequest() {
  Finish();
}

void TftpSession::OnAction(SessionAction action) {
  if (action != SessionAction::CancelTransfer || m_ended) return;
  if (m_engine) {
    Execute(m_engine->Cancel());
    return;
  }
  SetCell(kColStatus, kCancelledText);
  LogLine("TFTP: Transfer cancelled by the operator");
  Finish();
}

void TftpSession::Finish() {
  if (m_ended) return;
  m_ended = true;
  Offer(0);
  std::error_code ignored;
  m_timer->Cancel();
  m_socket.close(ignored);
  // The engine (and with it the file and the blocks) goes once the actions that ended it are done with.
  Post([this] {
    m_engine.reset();
    m_blocks = {};
    End();
  });
}

}  // namespace hx::tftp
