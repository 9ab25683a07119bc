#include "ftp/server/data_transfer.h"

#include <asio/post.hpp>
#include <string>

#include "app/tcp_stream.h"
#include "tls/tls_stream.h"

namespace hx::ftpd {

DataTransfer::DataTransfer(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
                           TransferSettings settings)
    : m_host(host),
      m_worker(worker),
      m_clock(clock),
      m_settings(settings),
      m_socket(std::move(socket)),
      m_stallTimer(clock.MakeTimer(m_worker.Executor())),
      m_lastMoved(clock.Now()) {}

DataTransfer::~DataTransfer() = default;

bool DataTransfer::Connect(std::unique_ptr<DataOpener> opener) {
  m_opener = std::move(opener);
  std::error_code error;
  if (!m_opener->Start(m_socket, error, Bind([this](std::error_code e) { OnConnect(e); })))
    return StartRefused(error);
  WatchForStall();
  return true;
}

bool DataTransfer::StartRefused(std::error_code error) {
  Post([this, error] { OnConnect(error); });
  WatchForStall();
  return true;
}

void DataTransfer::Post(std::function<void()> fn) {
  asio::post(m_worker.Executor(), Bind(std::move(fn)));
}

void DataTransfer::OnConnect(std::error_code error) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (ConnectedThenReset(error)) {
    ConnectionReset();
    return;
  }
  if (error) {
    ConnectFailed(error);
    return;
  }
  if (m_settings.tls) {
    StartTls();
    return;
  }
  m_connected = true;
  m_stream = std::make_unique<TcpStream>(std::move(m_socket));
  Connected();
}

// Under PROT P the server's end of TLS comes first; the stall limit bounds a client that connects and never
// shakes hands. The connection counts as up only once it is encrypted.
void DataTransfer::StartTls() {
  auto stream = std::make_unique<tls::TlsStream>(std::move(m_socket), m_settings.tls->context);
  stream->SetSessionTag(m_settings.tls->sessionTag);
  // The client resumes its control connection's session; it needs no tickets from here.
  stream->SendNoTickets();
  tls::TlsStream& secured = *stream;
  m_stream = std::move(stream);
  secured.Handshake(Bind([this, &secured](std::error_code error) {
    if (m_ended || error == asio::error::operation_aborted) return;
    if (error) {
      m_host.Log("FTP: TLS handshake failed on the data connection: " +
                 (secured.FailureReason().empty() ? error.message() : secured.FailureReason()));
      ConnectFailed(kDataTlsRefused);
      return;
    }
    // Anybody could connect to a passive port; only the client holds the session it can resume.
    if (m_settings.tls->requireReuse && !secured.Resumed()) {
      m_host.Log("FTP: The data connection did not resume the TLS session of the control connection");
      ConnectFailed(kDataTlsRefused);
      return;
    }
    m_connected = true;
    Connected();
  }));
}

// One wait at a time, set for the limit after the last byte; bytes only move that time. A limit of 0 never
// fires: a listing is not watched.
void DataTransfer::WatchForStall() {
  if (m_settings.dataTimeout.count() <= 0 || m_ended) return;
  m_stallTimer->ExpiresAt(m_lastMoved + m_settings.dataTimeout);
  m_stallTimer->AsyncWait(Bind([this](std::error_code error) {
    if (error || m_ended) return;
    if (m_clock.Now() < m_lastMoved + m_settings.dataTimeout) {
      WatchForStall();
      return;
    }
    // No connection came within the limit: that is a connection that could not be opened, whichever of this
    // timer and a passive listener's own limit fires first.
    if (!m_connected) {
      m_opener->Cancel();  // closed before the reply, so that nobody connects after it
      OnConnect(asio::error::timed_out);
      return;
    }
    m_host.Log("FTP: No data moved for " + std::to_string(m_settings.dataTimeout.count()) + " seconds");
    Stalled();
  }));
}

void DataTransfer::Close() {
  Shut();
  Release();
}

void DataTransfer::Shut() {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  m_stallTimer->Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
  if (m_stream) m_stream->Close();
}

void DataTransfer::Finish() {
  Shut();
  m_host.Ended(*this);
}

}  // namespace hx::ftpd
