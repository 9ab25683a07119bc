#include "tls/certificate.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <asio/ip/address.hpp>
#include <cerrno>
#include <cstring>

#include "app/file_io.h"
#include "tls/openssl_ptr.h"
#include "tls/tls_context.h"

namespace hx::tls {
namespace {

constexpr long kValidDays = 3653;      // ten years with their leap days
constexpr long kBackdateSeconds = 60;  // a peer whose clock is a little behind still accepts it
constexpr std::size_t kCommonNameMax = 64;

// The certificate's own name, and every name and address a client may reach this host by.
bool AddNames(X509* certificate, const std::string& hostName, const std::vector<std::string>& addresses) {
  X509_NAME* subject = X509_get_subject_name(certificate);
  std::string commonName = hostName.substr(0, kCommonNameMax);
  if (X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                 0) != 1 ||
      X509_set_issuer_name(certificate, subject) != 1)
    return false;
  GeneralNamesPtr names(GENERAL_NAMES_new());
  if (!names) return false;
  // Takes the name, also when it cannot be added.
  auto add = [&](GENERAL_NAME* name) {
    if (name && sk_GENERAL_NAME_push(names.get(), name) > 0) return true;
    GENERAL_NAME_free(name);
    return false;
  };
  if (!add(a2i_GENERAL_NAME(nullptr, nullptr, nullptr, GEN_DNS, hostName.c_str(), 0))) return false;
  for (const std::string& address : addresses) {
    if (!add(a2i_GENERAL_NAME(nullptr, nullptr, nullptr, GEN_IPADD, address.c_str(), 0))) return false;
  }
  return X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

// A certificate that serves a server and nothing else: not an authority, signing handshakes only.
bool AddUses(X509* certificate) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
  const std::pair<int, const char*> extensions[] = {
      {NID_basic_constraints, "critical,CA:FALSE"},
      {NID_key_usage, "critical,digitalSignature"},
      {NID_ext_key_usage, "serverAuth"},
  };
  for (const auto& [nid, value] : extensions) {
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) return false;
  }
  return true;
}

// A random positive serial of 128 bits, so that no two certificates of this host share one.
bool SetSerial(X509* certificate) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[0] &= 0x7F;  // an INTEGER of 16 bytes, never a 17th for the sign
  bytes[0] |= 0x40;  // and never a shorter one
  BignumPtr serial(BN_bin2bn(bytes, sizeof bytes, nullptr));
  return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate));
}

X509Ptr MakeCertificate(EVP_PKEY* key, const std::string& hostName,
                        const std::vector<std::string>& addresses) {
  X509Ptr certificate(X509_new());
  if (!certificate || X509_set_version(certificate.get(), X509_VERSION_3) != 1 ||
      !SetSerial(certificate.get()) ||
      !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kBackdateSeconds) ||
      !X509_time_adj_ex(X509_getm_notAfter(certificate.get()), kValidDays, 0, nullptr) ||
      X509_set_pubkey(certificate.get(), key) != 1 || !AddNames(certificate.get(), hostName, addresses) ||
      !AddUses(certificate.get()) || X509_sign(certificate.get(), key, EVP_sha256()) <= 0)
    return nullptr;
  return certificate;
}

std::optional<std::string> BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  if (size <= 0) return std::nullopt;
  return std::string(data, static_cast<std::size_t>(size));
}

// Writes `content` to a new file beside `path` and returns its name: the file has `mode` before it holds a
// byte (mkostemp makes it 0600, which a key keeps) and is on the disk when this returns.
std::string WriteBeside(const std::string& path, const std::string& content, mode_t mode,
                        std::string& error) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return {};
  }
  bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
  int code = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    code = errno;
  }
  if (!written) {
    ::unlink(temporary.c_str());
    error = path + ": " + std::strerror(code);
    return {};
  }
  return temporary;
}

}  // namespace

std::string MakeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                      const std::string& hostName,
                                      const std::vector<std::string>& addresses) {
  ERR_clear_error();
  KeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr certificate = key ? MakeCertificate(key.get(), hostName, addresses) : nullptr;
  BioPtr keyPem(BIO_new(BIO_s_mem()));
  BioPtr certificatePem(BIO_new(BIO_s_mem()));
  if (!certificate || !keyPem || !certificatePem ||
      PEM_write_bio_PrivateKey(keyPem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(certificatePem.get(), certificate.get()) != 1)
    return "a new certificate: " + TakeOpenSslError();
  std::optional<std::string> keyText = BioText(keyPem.get());
  std::optional<std::string> certificateText = BioText(certificatePem.get());
  if (!keyText || !certificateText) return "a new certificate: out of memory";

  // Both files are complete beside their targets before either replaces its target, so that a failure
  // leaves the pair as it was. One file for both holds the key first, and keeps the key's mode.
  std::string error;
  const bool oneFile = certificateFile == keyFile;
  std::string keyTemporary =
      WriteBeside(keyFile, oneFile ? *keyText + *certificateText : *keyText, 0600, error);
  if (keyTemporary.empty()) return error;
  std::string certificateTemporary;
  if (!oneFile) {
    certificateTemporary = WriteBeside(certificateFile, *certificateText, 0644, error);
    if (certificateTemporary.empty()) {
      ::unlink(keyTemporary.c_str());
      return error;
    }
  }
  if (::rename(keyTemporary.c_str(), keyFile.c_str()) != 0) {
    error = keyFile + ": " + std::strerror(errno);
    ::unlink(keyTemporary.c_str());
    if (!oneFile) ::unlink(certificateTemporary.c_str());
    return error;
  }
  if (!oneFile && ::rename(certificateTemporary.c_str(), certificateFile.c_str()) != 0) {
    error = certificateFile + ": " + std::strerror(errno);
    ::unlink(certificateTemporary.c_str());
    return error;
  }
  return {};
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// A link-local IPv6 address needs its interface to be reached, which no certificate can name.
std::vector<std::string> LocalAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || (entry->ifa_flags & IFF_LOOPBACK)) continue;
    asio::ip::address address;
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      address = asio::ip::address_v4(ntohl(in->sin_addr.s_addr));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      asio::ip::address_v6::bytes_type bytes;
      std::memcpy(bytes.data(), in6->sin6_addr.s6_addr, bytes.size());
      asio::ip::address_v6 v6(bytes);
      if (v6.is_link_local()) continue;
      address = v6;
    } else {
      continue;
    }
    if (address.is_loopback()) continue;
    std::string text = address.to_string();
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.push_back(text);
  }
  ::freeifaddrs(list);
  return addresses;
}

}  // namespace hx::tls
