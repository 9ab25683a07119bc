#include "tls/tls_stream.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <asio/error.hpp>
#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <cerrno>
#include <optional>

#include "app/file_io.h"
#include "tls/certificate.h"
#include "tls/openssl_ptr.h"
#include "tls/tls_error.h"

namespace hx::tls {
namespace {

// What one read of a file for SendFileNow takes at most: OpenSSL then writes it in records of 16 KiB.
constexpr std::size_t kFileRead = 256 * 1024;
// OpenSSL's own words for a peer that ends the connection within the handshake.
constexpr char kEndedInHandshake[] = "unexpected eof while reading";

}  // namespace

TlsStream::TlsStream(asio::ip::tcp::socket socket, std::shared_ptr<TlsContext> context)
    : m_socket(std::move(socket)), m_context(std::move(context)) {
  std::error_code ignored;
  m_socket.non_blocking(true, ignored);
  // OpenSSL reads and writes the descriptor itself, which must not block either.
  m_socket.native_non_blocking(true, ignored);
  ERR_clear_error();
  m_ssl = SSL_new(m_context->Native());
  if (!m_ssl || SSL_set_fd(m_ssl, static_cast<int>(m_socket.native_handle())) != 1) {
    OpenSslFailure failure = TakeOpenSslFailure();
    m_broken = failure.code;
    m_failure = failure.reason;
    return;
  }
  if (m_context->GetRole() == TlsContext::Role::Server)
    SSL_set_accept_state(m_ssl);
  else
    SSL_set_connect_state(m_ssl);
}

TlsStream::~TlsStream() {
  if (m_ssl) SSL_free(m_ssl);  // the descriptor stays the socket's
}

void TlsStream::SetSessionTag(std::string_view tag) {
  if (!m_ssl) return;
  // OpenSSL keeps up to 32 bytes; a longer tag is known by its digest.
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(tag.data());
  if (tag.size() > SSL_MAX_SID_CTX_LENGTH &&
      EVP_Digest(tag.data(), tag.size(), digest, &length, EVP_sha256(), nullptr) == 1)
    SSL_set_session_id_context(m_ssl, digest, std::min<unsigned int>(length, SSL_MAX_SID_CTX_LENGTH));
  else
    SSL_set_session_id_context(
        m_ssl, bytes, static_cast<unsigned int>(std::min<std::size_t>(tag.size(), SSL_MAX_SID_CTX_LENGTH)));
}

void TlsStream::SendNoTickets() {
  if (m_ssl) SSL_set_num_tickets(m_ssl, 0);
}

void TlsStream::SetPeerName(const std::string& host) {
  if (!m_ssl) return;
  std::error_code notAddress;
  asio::ip::make_address(host, notAddress);
  if (notAddress) SSL_set_tlsext_host_name(m_ssl, host.c_str());
  if (m_context->GetCheck() != TlsContext::Check::TrustStore) return;
  if (notAddress)
    SSL_set1_host(m_ssl, host.c_str());
  else
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
}

void TlsStream::ResumeSessionOf(const TlsStream& other) {
  if (!m_ssl || !other.m_ssl) return;
  SessionPtr session(SSL_get1_session(other.m_ssl));
  if (session) SSL_set_session(m_ssl, session.get());
}

void TlsStream::Handshake(WaitHandler done) {
  Drive([this] { return TryHandshake(); },
        [done = std::move(done)](std::error_code error, std::size_t) { done(error); });
}

bool TlsStream::Resumed() const {
  return m_ssl && m_established && SSL_session_reused(m_ssl) == 1;
}

std::string TlsStream::Protocol() const {
  return m_ssl && m_established ? SSL_get_version(m_ssl) : "";
}

std::string TlsStream::Cipher() const {
  const SSL_CIPHER* cipher = m_ssl && m_established ? SSL_get_current_cipher(m_ssl) : nullptr;
  return cipher ? SSL_CIPHER_get_name(cipher) : "";
}

std::string TlsStream::PeerFingerprint() const {
  return m_ssl && m_established ? FingerprintOf(SSL_get0_peer_certificate(m_ssl)) : "";
}

bool TlsStream::KernelSends() const {
  return m_ssl && m_established && BIO_get_ktls_send(SSL_get_wbio(m_ssl)) > 0;
}

void TlsStream::ReadSome(asio::mutable_buffer buffer, IoHandler done) {
  if (buffer.size() == 0 && !Refusal()) return Post(std::move(done), {}, 0);
  Drive([this, buffer] { return TryRead(buffer); }, std::move(done));
}

void TlsStream::WriteSome(asio::const_buffer buffer, IoHandler done) {
  if (buffer.size() == 0 && !Refusal()) return Post(std::move(done), {}, 0);
  Drive([this, buffer] { return TryWrite(static_cast<const unsigned char*>(buffer.data()), buffer.size()); },
        std::move(done));
}

std::size_t TlsStream::WriteNow(asio::const_buffer buffer, std::error_code& error) {
  error.clear();
  if (buffer.size() == 0) return 0;
  Attempt attempt = TryWrite(static_cast<const unsigned char*>(buffer.data()), buffer.size());
  if (attempt.outcome == Attempt::kDone) return attempt.bytes;
  error = attempt.outcome == Attempt::kFailed ? attempt.error : asio::error::would_block;
  return 0;
}

std::size_t TlsStream::SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) {
  error = Refusal();
  if (error || count == 0) return 0;
  if (KernelSends()) return SendFileByKernel(fd, offset, count, error);
  if (m_bufferBytes > 0 && (fd != m_bufferFd || offset != m_bufferOffset)) {
    // The bytes OpenSSL holds must go out before any other.
    if (m_writeHeld) {
      error = std::make_error_code(std::errc::invalid_argument);
      return 0;
    }
    m_bufferBytes = 0;
  }
  if (m_bufferBytes == 0) {
    // Reads ahead of `count` (the caller's parts need not be the size of a good read), but never past the
    // file's end: the buffer of a small file is small.
    std::optional<std::uint64_t> size = FileSize(fd);
    std::size_t want = kFileRead;
    if (size)
      want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *size > offset ? *size - offset : 0));
    if (want == 0) return 0;
    if (m_fileBuffer.size() < want) m_fileBuffer.resize(want);
    long got = ReadAll(fd, m_fileBuffer.data(), want, offset);
    if (got < 0) {
      error = {errno, std::system_category()};
      return 0;
    }
    if (got == 0) return 0;
    m_bufferFd = fd;
    m_bufferOffset = offset;
    m_bufferStart = 0;
    m_bufferBytes = static_cast<std::size_t>(got);
  }
  Attempt attempt = TryWrite(m_fileBuffer.data() + m_bufferStart, std::min(count, m_bufferBytes));
  if (attempt.outcome != Attempt::kDone) {
    error = attempt.outcome == Attempt::kFailed ? attempt.error : asio::error::would_block;
    return 0;
  }
  m_bufferStart += attempt.bytes;
  m_bufferOffset += attempt.bytes;
  m_bufferBytes -= attempt.bytes;
  return attempt.bytes;
}

std::size_t TlsStream::SendFileByKernel(int fd, std::uint64_t offset, std::size_t count,
                                        std::error_code& error) {
  ERR_clear_error();
  errno = 0;
  ossl_ssize_t sent = SSL_sendfile(m_ssl, fd, static_cast<off_t>(offset), count, 0);
  int savedErrno = errno;
  if (sent >= 0) return static_cast<std::size_t>(sent);
  Attempt attempt = Classify(static_cast<int>(sent), savedErrno);
  if (attempt.outcome == Attempt::kFailed) {
    error = attempt.error;
    return 0;
  }
  m_writeWait =
      attempt.outcome == Attempt::kWantRead ? asio::socket_base::wait_read : asio::socket_base::wait_write;
  error = asio::error::would_block;
  return 0;
}

std::size_t TlsStream::ReceiveFileNow(int, std::size_t, std::error_code& error) {
  error = asio::error::operation_not_supported;
  return 0;
}

void TlsStream::WaitWritable(WaitHandler done) {
  m_socket.async_wait(m_writeWait, std::move(done));
}

// Bytes that OpenSSL has taken from the socket already make the stream readable while the socket is not.
void TlsStream::WaitReadable(WaitHandler done) {
  if (!m_established || m_broken) {
    m_socket.async_wait(asio::socket_base::wait_read, std::move(done));
    return;
  }
  Drive([this] { return TryPeek(); },
        [done = std::move(done)](std::error_code error, std::size_t) { done(error); });
}

void TlsStream::Cancel() {
  std::error_code ignored;
  m_socket.cancel(ignored);
}

void TlsStream::Close() {
  // A record cut short leaves the peer without close_notify, so that it sees the data was cut.
  if (m_ssl && m_established && !m_broken && !m_shutDown && !m_writeHeld) {
    m_shutDown = true;
    ERR_clear_error();
    SSL_shutdown(m_ssl);  // sends close_notify as far as the socket takes it; the peer's is not awaited
    ERR_clear_error();
  }
  std::error_code ignored;
  m_socket.close(ignored);
}

void TlsStream::Drive(Step step, IoHandler done, bool inHandler) {
  Attempt attempt = step();
  if (attempt.outcome == Attempt::kDone || attempt.outcome == Attempt::kFailed) {
    if (inHandler)
      done(attempt.error, attempt.bytes);
    else
      Post(std::move(done), attempt.error, attempt.bytes);
    return;
  }
  auto wait =
      attempt.outcome == Attempt::kWantRead ? asio::socket_base::wait_read : asio::socket_base::wait_write;
  m_socket.async_wait(wait, [this, alive = std::weak_ptr<char>(m_alive), step = std::move(step),
                             done = std::move(done)](std::error_code error) mutable {
    if (!error && alive.expired()) error = asio::error::operation_aborted;
    if (error) {
      done(error, 0);  // the stream may be gone: nothing of it is touched
      return;
    }
    Drive(std::move(step), std::move(done), true);
  });
}

void TlsStream::Post(IoHandler done, std::error_code error, std::size_t bytes) {
  asio::post(m_socket.get_executor(), [done = std::move(done), error, bytes] { done(error, bytes); });
}

TlsStream::Attempt TlsStream::Classify(int result, int savedErrno) {
  Attempt attempt{Attempt::kFailed, 0, {}};
  switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
      attempt.outcome = Attempt::kWantRead;
      return attempt;
    case SSL_ERROR_WANT_WRITE:
      attempt.outcome = Attempt::kWantWrite;
      return attempt;
    case SSL_ERROR_ZERO_RETURN:
      ERR_clear_error();
      attempt.error = asio::error::eof;
      return attempt;
    case SSL_ERROR_SYSCALL:
      if (ERR_peek_error() == 0) {
        // The system's failure (a reset connection), or an end without a word where OpenSSL took none.
        attempt.error = savedErrno != 0 ? std::error_code(savedErrno, std::system_category())
                                        : std::error_code(asio::error::eof);
        if (m_failure.empty()) m_failure = savedErrno != 0 ? attempt.error.message() : kEndedInHandshake;
        m_broken = attempt.error;
        return attempt;
      }
      [[fallthrough]];
    default: {
      OpenSslFailure failure = TakeOpenSslFailure();
      // A certificate check that failed says what was wrong with the certificate.
      long verifyResult = SSL_get_verify_result(m_ssl);
      if (!m_established && verifyResult != X509_V_OK) {
        failure.code = CertificateCheckError(verifyResult);
        failure.reason = failure.code.message();
      }
      if (m_failure.empty()) m_failure = failure.reason;
      m_broken = attempt.error = failure.code;
      return attempt;
    }
  }
}

std::error_code TlsStream::Refusal() const {
  if (m_broken) return m_broken;
  if (!m_established) return asio::error::not_connected;
  return {};
}

TlsStream::Attempt TlsStream::TryHandshake() {
  if (m_established) return {};
  if (m_broken) return {Attempt::kFailed, 0, m_broken};
  ERR_clear_error();
  errno = 0;
  int result = SSL_do_handshake(m_ssl);
  int savedErrno = errno;
  if (result == 1) {
    m_established = true;
    return {};
  }
  Attempt attempt = Classify(result, savedErrno);
  if (attempt.outcome == Attempt::kFailed && m_failure.empty()) m_failure = kEndedInHandshake;
  return attempt;
}

// Takes every record that has come, up to the buffer's size; a failure after some bytes waits for the next
// call.
TlsStream::Attempt TlsStream::TryRead(asio::mutable_buffer buffer) {
  if (std::error_code refused = Refusal()) return {Attempt::kFailed, 0, refused};
  auto* data = static_cast<unsigned char*>(buffer.data());
  std::size_t total = 0;
  while (total < buffer.size()) {
    std::size_t got = 0;
    ERR_clear_error();
    errno = 0;
    int result = SSL_read_ex(m_ssl, data + total, buffer.size() - total, &got);
    int savedErrno = errno;
    if (result == 1) {
      total += got;
      continue;
    }
    Attempt attempt = Classify(result, savedErrno);
    if (total == 0) return attempt;
    break;
  }
  return {Attempt::kDone, total, {}};
}

// Readable once a byte of data or the end has come; a failure shows in the read that follows.
TlsStream::Attempt TlsStream::TryPeek() {
  if (m_broken) return {};
  unsigned char byte = 0;
  std::size_t got = 0;
  ERR_clear_error();
  errno = 0;
  int result = SSL_peek_ex(m_ssl, &byte, 1, &got);
  int savedErrno = errno;
  if (result == 1) return {};
  Attempt attempt = Classify(result, savedErrno);
  return attempt.outcome == Attempt::kFailed ? Attempt{} : attempt;
}

TlsStream::Attempt TlsStream::TryWrite(const unsigned char* data, std::size_t size) {
  if (std::error_code refused = Refusal()) return {Attempt::kFailed, 0, refused};
  std::size_t total = 0;
  while (total < size) {
    std::size_t put = 0;
    ERR_clear_error();
    errno = 0;
    int result = SSL_write_ex(m_ssl, data + total, size - total, &put);
    int savedErrno = errno;
    if (result == 1) {
      m_writeHeld = false;
      total += put;
      continue;
    }
    Attempt attempt = Classify(result, savedErrno);
    if (attempt.outcome != Attempt::kFailed) {
      m_writeHeld = true;
      m_writeWait = attempt.outcome == Attempt::kWantRead ? asio::socket_base::wait_read
                                                          : asio::socket_base::wait_write;
    }
    if (total == 0) return attempt;
    break;
  }
  return {Attempt::kDone, total, {}};
}

}  // namespace hx::tls
