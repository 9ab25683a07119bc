#pragma once

#include <memory>
#include <string>

using SSL_CTX = struct ssl_ctx_st;

namespace hx::tls {

// One side's OpenSSL context: TLS 1.2 and 1.3 only, the system's cipher policy, no compression, no
// renegotiation. Every connection made from one context shares its session cache and ticket keys, so that
// a data connection can resume the session of its control connection.
class TlsContext {
 public:
  enum class Role { Server, Client };
  // How a client checks the server's certificate.
  enum class Check {
    TrustStore,  // against the system's trust store and the host name (TlsStream::SetPeerName)
    None,        // not at all: the caller compares the fingerprint itself, or was told to trust anything
  };

  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // A server's context with the certificate chain and the private key of these PEM files; nullptr with
  // `error` (the file and OpenSSL's reason) when either cannot be read or they do not belong together.
  static std::shared_ptr<TlsContext> MakeServer(const std::string& certificateFile,
                                                const std::string& keyFile, std::string& error);
  static std::shared_ptr<TlsContext> MakeClient(Check check, std::string& error);

  SSL_CTX* Native() const { return m_ctx; }
  Role GetRole() const { return m_role; }
  Check GetCheck() const { return m_check; }
  // A server's certificate: "SHA256:" and its digest as colon-separated upper-case hex.
  const std::string& Fingerprint() const { return m_fingerprint; }

 private:
  TlsContext(SSL_CTX* ctx, Role role, Check check) : m_ctx(ctx), m_role(role), m_check(check) {}

  SSL_CTX* m_ctx;
  Role m_role;
  Check m_check;
  std::string m_fingerprint;
};

// OpenSSL's reason for the last failure of this thread, and its error queue emptied: "no reason given" when
// the queue holds nothing.
std::string TakeOpenSslError();

}  // namespace hx::tls
