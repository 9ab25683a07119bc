#pragma once

#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
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
  asio::ip::tcp::socket m_socket;
  std::shared_ptr<TlsContext> m_context;
  SSL* m_ssl = nullptr;
  std::string m_failure;
  bool m_established = false;
  // File bytes read for SendFileNow that OpenSSL has not taken yet: a write that must wait is retried with
  // the same bytes.
  std::vector<unsigned char> m_fileBuffer;
  std::uint64_t m_bufferOffset = 0;  // of the file, where m_fileBuffer's bytes start
  std::size_t m_bufferBytes = 0;
  int m_bufferFd = -1;
};

}  // namespace hx::tls
