// The certificate probe: one connection on a loop of its own, as far as the server's certificate, then
// closed.
#include "ftp/client/certificate_probe.h"

#include <array>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <memory>

#include "app/socket_error_text.h"
#include "app/tcp_stream.h"
#include "ftp/client/reply_reader.h"
#include "ftp/client/session_awaits.h"
#include "tls/tls_context.h"
#include "tls/tls_stream.h"

namespace hx::ftpc {
namespace {

// The error a host name that cannot be resolved reports, as the connect of the socket layer gives it.
constexpr int kUnknownHostError = 10022;

// What one probe holds; closed when its time is up, so that every wait ends.
struct Probe {
  explicit Probe(asio::io_context& io) : resolver(io), socket(io) {}

  void Close() {
    std::error_code ignored;
    resolver.cancel();
    socket.close(ignored);
    if (stream) stream->Close();
  }

  asio::ip::tcp::resolver resolver;
  asio::ip::tcp::socket socket;        // while it connects
  std::unique_ptr<ByteStream> stream;  // then plain, or TLS
  ReplyLineBuffer reader;
  std::optional<std::string> fingerprint;
  std::string error;
  bool done = false;
};

asio::awaitable<bool> Connect(Probe& probe, const std::string& host, std::uint16_t port) {
  std::error_code ec;
  auto results = co_await probe.resolver.async_resolve(host, std::to_string(port),
                                                       asio::redirect_error(asio::use_awaitable, ec));
  if (ec || results.empty()) {
    probe.error = "Unable to connect to host : " + SocketErrorText(kUnknownHostError);
    co_return false;
  }
  for (const auto& entry : results) {
    probe.socket.close(ec);
    co_await probe.socket.async_connect(entry.endpoint(), asio::redirect_error(asio::use_awaitable, ec));
    if (!ec) break;
  }
  if (ec) {
    probe.error = "Unable to connect to host : " + SocketErrorText(ec);
    co_return false;
  }
  probe.stream = std::make_unique<TcpStream>(std::move(probe.socket));
  co_return true;
}

// Reads one whole reply; true when it begins with `digit`, else false with the failure or the reply's line.
asio::awaitable<bool> ExpectReply(Probe& probe, char digit) {
  std::array<char, 4096> buffer;
  std::string line;
  for (;;) {
    while (probe.reader.NextLine(line)) {
      ReplyStep step = ClassifyReplyLine(digit, line);
      if (step == ReplyStep::Accepted) co_return true;
      if (step == ReplyStep::Refused) {
        probe.error = line;
        co_return false;
      }
    }
    if (probe.reader.Overlong()) {
      probe.error = "Error reading from socket: Reply line too long";
      co_return false;
    }
    std::error_code ec;
    std::size_t n = co_await AwaitRead(*probe.stream, asio::buffer(buffer), ec);
    if (ec) {
      probe.error = "Error reading from socket: " +
                    (ec == asio::error::eof ? std::string("Connection closed by the server") : ec.message());
      co_return false;
    }
    probe.reader.Append(std::string_view(buffer.data(), n));
  }
}

asio::awaitable<void> Run(Probe& probe, std::string host, std::uint16_t port, bool implicit,
                          std::shared_ptr<tls::TlsContext> context) {
  // (Each await stands on a line of its own: the compiler mishandles one inside a condition.)
  bool ok = co_await Connect(probe, host, port);
  if (!ok) co_return;
  if (!implicit) {
    ok = co_await ExpectReply(probe, '2');
    if (!ok) co_return;
    std::error_code ec;
    static constexpr std::string_view kAuth = "AUTH TLS\r\n";
    co_await AwaitWriteAll(*probe.stream, asio::buffer(kAuth), ec);
    if (ec) {
      probe.error = "Error writing to socket: " + ec.message();
      co_return;
    }
    ok = co_await ExpectReply(probe, '2');
    if (!ok) co_return;
  }
  auto tlsStream = std::make_unique<tls::TlsStream>(std::move(*probe.stream->Socket()), context);
  tlsStream->SetPeerName(host);
  tls::TlsStream& stream = *tlsStream;
  probe.stream = std::move(tlsStream);
  std::error_code ec;
  co_await AwaitHandshake(stream, ec);
  if (ec) {
    probe.error = "TLS handshake failed: " + stream.FailureReason();
    co_return;
  }
  probe.fingerprint = stream.PeerFingerprint();
  if (probe.fingerprint->empty()) {
    probe.fingerprint.reset();
    probe.error = "The server sent no certificate";
  }
}

}  // namespace

std::optional<std::string> ProbeCertificate(const std::string& host, std::uint16_t port, bool implicit,
                                            std::chrono::seconds limit, std::string& error) {
  std::string contextError;
  std::shared_ptr<tls::TlsContext> context =
      tls::TlsContext::MakeClient(tls::TlsContext::Check::None, contextError);
  if (!context) {
    error = "Unable to set up TLS: " + contextError;
    return std::nullopt;
  }
  asio::io_context io;
  Probe probe(io);
  asio::co_spawn(io, Run(probe, host, port, implicit, context), [&probe](std::exception_ptr failure) {
    if (failure && probe.error.empty()) probe.error = "Error: the probe failed unexpectedly";
    probe.done = true;
  });
  io.run_for(limit);
  if (!probe.done) {
    // Closed, every wait of the probe ends at once; the loop runs until the probe has returned.
    probe.Close();
    io.restart();
    io.run();
    probe.fingerprint.reset();
    probe.error = "Connection timed out";
  }
  if (probe.stream) probe.stream->Close();
  if (!probe.fingerprint) error = probe.error;
  return probe.fingerprint;
}

}  // namespace hx::ftpc
