#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

using X509 = struct x509_st;

namespace hx::tls {

// Makes an ECDSA P-256 key and a certificate signed by it (SHA-256), valid from now for 10 years, with
// `hostName` as subject CN and, with `addresses` (textual IPv4 and IPv6 addresses), as SubjectAltName.
// Writes the certificate to `certificateFile` and the key to `keyFile` with mode 0600, each replacing its
// file whole. Returns the empty text, or what failed.
std::string MakeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                      const std::string& hostName, const std::vector<std::string>& addresses);

// This host's name and its addresses other than loopback, for a new certificate.
std::string LocalHostName();
std::vector<std::string> LocalAddresses();

// A certificate's SHA-256 digest as "SHA256:AB:CD:..." (upper-case hex, a colon between the bytes); empty
// without a certificate.
std::string FingerprintOf(const X509* certificate);
// The first certificate of a PEM file as "SHA256:AB:CD:..."; nullopt with `error` when it cannot be read.
std::optional<std::string> CertificateFingerprint(const std::string& certificateFile, std::string& error);

// A fingerprint as the user types it: "SHA256:" (any case, optional) then 64 hex digits, with or without
// colons between the bytes; returned in the form Fingerprint shows. nullopt for anything else.
std::optional<std::string> ParseFingerprint(std::string_view text);

}  // namespace hx::tls
