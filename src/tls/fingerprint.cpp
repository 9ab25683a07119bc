#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>

#include "tls/certificate.h"
#include "tls/openssl_ptr.h"
#include "tls/tls_context.h"

namespace hx::tls {
namespace {

constexpr char kPrefix[] = "SHA256:";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr std::size_t kDigestLength = 32;

std::string Show(const unsigned char* digest, std::size_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = kPrefix;
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string FingerprintOf(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  return Show(digest, length);
}

std::optional<std::string> CertificateFingerprint(const std::string& certificateFile, std::string& error) {
  ERR_clear_error();
  BioPtr file(BIO_new_file(certificateFile.c_str(), "r"));
  X509Ptr certificate(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!certificate) {
    error = certificateFile + ": " + TakeOpenSslError();
    return std::nullopt;
  }
  return FingerprintOf(certificate.get());
}

std::optional<std::string> ParseFingerprint(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  if (text.size() >= kPrefixLength) {
    bool prefixed = true;
    for (std::size_t i = 0; i < kPrefixLength; ++i)
      prefixed = prefixed && std::toupper(static_cast<unsigned char>(text[i])) == kPrefix[i];
    if (prefixed) text.remove_prefix(kPrefixLength);
  }
  // Either the bare digits or every byte's two digits with a colon between the bytes, never a mix.
  const bool colons = text.size() == kDigestLength * 3 - 1;
  if (!colons && text.size() != kDigestLength * 2) return std::nullopt;
  const std::size_t step = colons ? 3 : 2;
  unsigned char digest[kDigestLength];
  for (std::size_t i = 0; i < kDigestLength; ++i) {
    std::size_t at = i * step;
    if (colons && i > 0 && text[at - 1] != ':') return std::nullopt;
    int high = HexValue(text[at]);
    int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return Show(digest, kDigestLength);
}

}  // namespace hx::tls
