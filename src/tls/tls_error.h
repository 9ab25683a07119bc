#pragma once

#include <string>
#include <system_error>

namespace hx::tls {

// Error codes of OpenSSL's failures: the value is OpenSSL's packed error (library and reason), and the
// message its reason ("wrong version number"); a negative value is a failed certificate check, the
// negated verify result, with X509_verify_cert_error_string as its message ("self-signed certificate").
// Failures of the system (a reset connection) are errors of the system category instead.
const std::error_category& TlsCategory();
std::error_code CertificateCheckError(long verifyResult);

// The oldest entry of this thread's error queue (the cause; the later ones only say which call failed) as
// text and code, with the queue emptied. No entry: "no reason given" and a code of TlsCategory.
struct OpenSslFailure {
  std::string reason;
  std::error_code code;
};
OpenSslFailure TakeOpenSslFailure();

}  // namespace hx::tls
