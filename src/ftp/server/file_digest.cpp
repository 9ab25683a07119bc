#include "ftp/server/file_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace hx::ftpd {
namespace {

const EVP_MD* DigestOf(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1:
      return EVP_sha1();
    case HashAlgorithm::Md5:
      return EVP_md5();
    case HashAlgorithm::Sha256:
      break;
  }
  return EVP_sha256();
}

std::string Hex(const unsigned char* bytes, unsigned size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (unsigned i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  return text;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::optional<FileDigestResult> FileDigest(SharedFile file, HashAlgorithm algorithm,
                                           const std::atomic<bool>& stop) {
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), DigestOf(algorithm), nullptr) != 1) return std::nullopt;
  // The whole file is read once, front to back: the kernel may read ahead as far as it likes.
  ::posix_fadvise(file.NativeHandle(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<unsigned char> block(1024 * 1024);
  std::uint64_t bytes = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return std::nullopt;
    long count = file.Read(block.data(), block.size());
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    if (EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(count)) != 1) return std::nullopt;
    bytes += static_cast<std::uint64_t>(count);
  }
  file.Close();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) return std::nullopt;
  return FileDigestResult{Hex(digest, size), bytes};
}

}  // namespace hx::ftpd
