#include "tls/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "tls/certificate.h"
#include "tls/openssl_ptr.h"
#include "tls/tls_error.h"

namespace hx::tls {
namespace {

// A session that a server gives out belongs to this context unless a connection is given a tag of its own.
constexpr unsigned char kDefaultTag[] = "harbinex";

// What both sides share: the protocol versions, the options and the modes of partial writes that the
// non-blocking stream relies on.
SslCtxPtr NewContext(const SSL_METHOD* method) {
  SslCtxPtr ctx(SSL_CTX_new(method));
  if (!ctx) return nullptr;
  if (SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(ctx.get(), TLS1_3_VERSION) != 1)
    return nullptr;
  // Old FTP clients close data connections without close_notify: that is the end of the data, not an
  // attack on it, since the transfer's size or its reply tells the client whether it has everything.
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                     SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_ENABLE_KTLS);
  // A write that had to wait may be retried from another buffer holding the same bytes, and a write
  // returns once a record is out, so that the stream can report what went.
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // A read takes what the socket holds rather than a record header and then its body: half the calls.
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  return ctx;
}

}  // namespace

TlsContext::~TlsContext() {
  SSL_CTX_free(m_ctx);
}

std::shared_ptr<TlsContext> TlsContext::MakeServer(const std::string& certificateFile,
                                                   const std::string& keyFile, std::string& error) {
  ERR_clear_error();
  auto fail = [&](const std::string& file) {
    error = file + ": " + TakeOpenSslError();
    return nullptr;
  };
  SslCtxPtr ctx = NewContext(TLS_server_method());
  if (!ctx) return fail(certificateFile);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), certificateFile.c_str()) != 1)
    return fail(certificateFile);
  // Also refuses a key that does not belong to the certificate ("key values mismatch").
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1)
    return fail(keyFile);
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_SERVER);
  SSL_CTX_set_session_id_context(ctx.get(), kDefaultTag, sizeof kDefaultTag - 1);
  // No certificate is asked of the client; one it sends anyway is never looked at.
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  std::string fingerprint = FingerprintOf(SSL_CTX_get0_certificate(ctx.get()));
  std::shared_ptr<TlsContext> context(new TlsContext(ctx.release(), Role::Server, Check::None));
  context->m_fingerprint = std::move(fingerprint);
  return context;
}

std::shared_ptr<TlsContext> TlsContext::MakeClient(Check check, std::string& error) {
  ERR_clear_error();
  SslCtxPtr ctx = NewContext(TLS_client_method());
  if (!ctx) {
    error = TakeOpenSslError();
    return nullptr;
  }
  // The sessions stay with the connections (SSL_get1_session), not in a cache that would only grow; the
  // client mode keeps a connection's session current with the tickets of TLS 1.3 that come after its
  // handshake.
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  if (check == Check::TrustStore) {
    if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
      error = "the system's trust store: " + TakeOpenSslError();
      return nullptr;
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  }
  return std::shared_ptr<TlsContext>(new TlsContext(ctx.release(), Role::Client, check));
}

}  // namespace hx::tls
