#include "support/ftp_session/tls_test_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hx::test {

TlsTestClient::~TlsTestClient() {
  if (m_ssl) SSL_free(m_ssl);
  if (m_ctx) SSL_CTX_free(m_ctx);
  ::close(m_fd);
}

bool TlsTestClient::StartTls(const TlsTestClient* resume) {
  m_ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_CLIENT);
  m_ssl = SSL_new(m_ctx);
  SSL_set_fd(m_ssl, m_fd);
  if (resume && resume->m_ssl) {
    SSL_SESSION* session = SSL_get1_session(resume->m_ssl);
    SSL_set_session(m_ssl, session);
    SSL_SESSION_free(session);
  }
  if (SSL_connect(m_ssl) == 1) return true;
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  m_failure = text;
  SSL_free(m_ssl);
  m_ssl = nullptr;
  return false;
}

bool TlsTestClient::Resumed() const {
  return m_ssl && SSL_session_reused(m_ssl) == 1;
}

bool TlsTestClient::Send(std::string_view bytes) {
  if (!m_ssl)
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  return SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

long TlsTestClient::Read(char* buffer, int size) {
  if (m_ssl) return SSL_read(m_ssl, buffer, size);
  return ::recv(m_fd, buffer, static_cast<size_t>(size), 0);
}

std::string TlsTestClient::Line() {
  for (;;) {
    size_t end = m_pending.find("\r\n");
    if (end != std::string::npos) {
      std::string line = m_pending.substr(0, end + 2);
      m_pending.erase(0, end + 2);
      return line;
    }
    char buffer[4096];
    long count = Read(buffer, sizeof buffer);
    if (count <= 0) return {};
    m_pending.append(buffer, static_cast<size_t>(count));
  }
}

std::string TlsTestClient::Command(const std::string& line) {
  Send(line + "\r\n");
  return Line();
}

std::string TlsTestClient::ReadAll() {
  std::string all = std::move(m_pending);
  char buffer[65536];
  for (long count; (count = Read(buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(count));
  return all;
}

bool TlsTestClient::Closed() {
  char byte;
  return m_pending.empty() && Read(&byte, 1) <= 0;
}

}  // namespace hx::test
