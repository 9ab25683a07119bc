#pragma once

#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/byte_stream.h"
#include "tls/tls_context.h"

using SSL = struct ssl_st;

namespace hx::tls {

// A TLS connection as a ByteStream, OpenSSL on the socket's own descriptor: the socket never blocks, and
// OpenSSL's wants (read, write) become waits on the socket. Where the kernel takes over the encryption
// (kTLS), files go out with SSL_sendfile; otherwise they are read in large parts and written in records of
// 16 KiB. ReceiveFileNow is not supported: the caller reads and writes.
//
// Handshake first; reads and writes before it has succeeded fail with not_connected. Close sends the peer
// close_notify, once, without waiting, and closes the socket.
//
// OpenSSL's rule for non-blocking writes holds for every write call: after one that took nothing
// (would_block) or less than it was given, the next write begins with the bytes that were not taken.
// OpenSSL writes to the descriptor with write(2), so the process ignores SIGPIPE. The handlers of reads
// and writes call OpenSSL, which must never run twice at once on a connection: the socket's executor is
// a strand (or one thread runs it), and every call is made on it.
class TlsStream : public ByteStream {
 public:
  // `socket` is connected; it is made non-blocking.
  TlsStream(asio::ip::tcp::socket socket, std::shared_ptr<TlsContext> context);
  ~TlsStream() override;

  // Before the handshake. A server: sessions of this connection resume only on connections with the same
  // tag (the FTP server gives every control connection its own, and its data connections the same one).
  void SetSessionTag(std::string_view tag);
  // A server: no session tickets go out on this connection (a data connection; its client resumes the
  // control connection's session).
  void SendNoTickets();
  // A client: the name sent in the handshake (SNI, not for an address) and checked against the certificate
  // when the context checks against the trust store.
  void SetPeerName(const std::string& host);
  // A client: offer the session that `other` has now (a data connection resumes its control connection's).
  void ResumeSessionOf(const TlsStream& other);

  // Runs the handshake of the context's role. On failure `done` gets an error and FailureReason() says why
  // in OpenSSL's words (a certificate check names what was wrong with the certificate).
  void Handshake(WaitHandler done);
  const std::string& FailureReason() const { return m_failure; }

  // After the handshake.
  bool Resumed() const;
  std::string Protocol() const;  // "TLSv1.3"
  std::string Cipher() const;    // "TLS_AES_256_GCM_SHA384"
  // The peer's certificate as TlsContext::Fingerprint shows it; empty when it sent none.
  std::string PeerFingerprint() const;
  // Whether files go out through the kernel's TLS.
  bool KernelSends() const;

  void ReadSome(asio::mutable_buffer buffer, IoHandler done) override;
  void WriteSome(asio::const_buffer buffer, IoHandler done) override;
  std::size_t WriteNow(asio::const_buffer buffer, std::error_code& error) override;
  std::size_t SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) override;
  std::size_t ReceiveFileNow(int fd, std::size_t count, std::error_code& error) override;
  void WaitWritable(WaitHandler done) override;
  void WaitReadable(WaitHandler done) override;
  void Cancel() override;
  void Close() override;
  bool IsOpen() const override { return m_socket.is_open(); }

 private:
  // What one try of an OpenSSL call came to: done (with `bytes`), a wait for the socket, or a failure.
  struct Attempt {
    enum Outcome { kDone, kWantRead, kWantWrite, kFailed } outcome = kDone;
    std::size_t bytes = 0;
    std::error_code error;
  };
  using Step = std::function<Attempt()>;

  // Tries `step` until it is done or fails, waiting on the socket for what OpenSSL wants in between; then
  // `done` runs on the socket's executor. `inHandler`: called from a completion, so `done` may run at once.
  void Drive(Step step, IoHandler done, bool inHandler = false);
  // Runs `done` later on the socket's executor.
  void Post(IoHandler done, std::error_code error, std::size_t bytes);
  // The result of an OpenSSL call that did not succeed, `savedErrno` taken right after it; a failure is
  // kept for FailureReason and, unless it is the peer's orderly end, ends the connection for every later
  // call.
  Attempt Classify(int result, int savedErrno);
  // Why reads and writes are refused now: not connected yet, or broken; nothing when they may go on.
  std::error_code Refusal() const;
  Attempt TryHandshake();
  Attempt TryRead(asio::mutable_buffer buffer);
  Attempt TryPeek();
  // Writes as many records as the socket takes; OpenSSL keeps the one it could not send (m_writeHeld).
  Attempt TryWrite(const unsigned char* data, std::size_t size);
  std::size_t SendFileByKernel(int fd, std::uint64_t offset, std::size_t count, std::error_code& error);

  asio::ip::tcp::socket m_socket;
  std::shared_ptr<TlsContext> m_context;
  SSL* m_ssl = nullptr;
  std::string m_failure;
  bool m_established = false;
  // The failure after which OpenSSL must not be called again (and no close_notify goes out).
  std::error_code m_broken;
  bool m_shutDown = false;  // Close has sent close_notify
  // OpenSSL holds a record that the socket did not take yet: the next write must begin with the bytes of
  // the last one (OpenSSL sends the record, then counts them as written), and what it waits for.
  bool m_writeHeld = false;
  asio::socket_base::wait_type m_writeWait = asio::socket_base::wait_write;
  // File bytes read for SendFileNow that OpenSSL has not taken yet: m_bufferBytes of them from index
  // m_bufferStart of m_fileBuffer, which are the bytes of file m_bufferFd at m_bufferOffset. A write that
  // must wait is retried with the same bytes, from here.
  std::vector<unsigned char> m_fileBuffer;
  std::uint64_t m_bufferOffset = 0;
  std::size_t m_bufferStart = 0;
  std::size_t m_bufferBytes = 0;
  int m_bufferFd = -1;
  // Held by the stream alone: a handler that runs after the stream is gone finds its weak copy expired.
  std::shared_ptr<char> m_alive = std::make_shared<char>();
};

}  // namespace hx::tls
