#pragma once

#include <string>
#include <string_view>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;
using SSL_SESSION = struct ssl_session_st;

namespace hx::test {

// Lines over a blocking socket, clear or (after StartTls) encrypted, for tests that speak FTP themselves.
// The server's certificate is not checked. Owns the socket.
class TlsTestClient {
 public:
  explicit TlsTestClient(int fd) : m_fd(fd) {}
  ~TlsTestClient();
  TlsTestClient(const TlsTestClient&) = delete;
  TlsTestClient& operator=(const TlsTestClient&) = delete;

  // The client's handshake; `resume` offers the session of another client (a data connection resumes its
  // control connection's). False with OpenSSL's reason in Failure().
  bool StartTls(const TlsTestClient* resume = nullptr);
  bool Resumed() const;
  const std::string& Failure() const { return m_failure; }

  bool Send(std::string_view bytes);
  // The next line with its CR LF; empty on the end, an error or the socket's time limit.
  std::string Line();
  // Sends the line with CR LF and returns the first reply line.
  std::string Command(const std::string& line);
  // Everything until the peer ends the stream.
  std::string ReadAll();
  // True when the peer has closed (a read gives the end or an error).
  bool Closed();
  int Fd() const { return m_fd; }

 private:
  long Read(char* buffer, int size);

  int m_fd;
  SSL_CTX* m_ctx = nullptr;
  SSL* m_ssl = nullptr;
  std::string m_pending;
  std::string m_failure;
};

}  // namespace hx::test
