#include "tls/tls_error.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>

#include "tls/tls_context.h"

namespace hx::tls {
namespace {

// A packed error of a library without an entry of its own: OpenSSL's "ERR_PACK(ERR_LIB_NONE, 0, 0)".
constexpr int kNoReason = 0;

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "tls"; }
  std::string message(int value) const override {
    if (value < 0) return X509_verify_cert_error_string(-static_cast<long>(value));
    if (value == kNoReason) return "no reason given";
    const char* reason = ERR_reason_error_string(static_cast<unsigned long>(value));
    return reason ? reason : "TLS failure " + std::to_string(value);
  }
};

}  // namespace

const std::error_category& TlsCategory() {
  static const Category category;
  return category;
}

std::error_code CertificateCheckError(long verifyResult) {
  return {-static_cast<int>(verifyResult), TlsCategory()};
}

OpenSslFailure TakeOpenSslFailure() {
  const char* data = nullptr;
  int flags = 0;
  unsigned long first = ERR_peek_error_all(nullptr, nullptr, nullptr, &data, &flags);
  OpenSslFailure failure;
  if (first == 0) {
    failure.code = {kNoReason, TlsCategory()};
  } else if (ERR_SYSTEM_ERROR(first)) {
    failure.code = {static_cast<int>(ERR_GET_REASON(first)), std::system_category()};
  } else {
    // Without the flags OpenSSL keeps in the top bit, a packed error fits an int.
    failure.code = {static_cast<int>(first & INT_MAX), TlsCategory()};
  }
  failure.reason = failure.code.message();
  // The detail says what was expected or found ("Expecting: CERTIFICATE"); for the system's errors it
  // repeats the call and its file, which the caller names anyway.
  if (first != 0 && !ERR_SYSTEM_ERROR(first) && (flags & ERR_TXT_STRING) && data && *data)
    failure.reason += std::string(" (") + data + ")";
  ERR_clear_error();
  return failure;
}

std::string TakeOpenSslError() {
  return TakeOpenSslFailure().reason;
}

}  // namespace hx::tls
