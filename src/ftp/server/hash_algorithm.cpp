#include "ftp/server/hash_algorithm.h"

#include <array>

#include "app/text_util.h"

namespace hx::ftpd {
namespace {

constexpr std::array kAlgorithms = {HashAlgorithm::Sha256, HashAlgorithm::Sha1, HashAlgorithm::Md5};

}  // namespace

std::string_view HashName(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1:
      return "SHA-1";
    case HashAlgorithm::Md5:
      return "MD5";
    case HashAlgorithm::Sha256:
      break;
  }
  return "SHA-256";
}

std::optional<HashAlgorithm> ParseHashName(std::string_view name) {
  for (HashAlgorithm algorithm : kAlgorithms)
    if (EqualsNoCase(name, HashName(algorithm))) return algorithm;
  return std::nullopt;
}

std::string HashFeatureLine(HashAlgorithm selected) {
  std::string line = "HASH ";
  for (HashAlgorithm algorithm : kAlgorithms) {
    if (algorithm != kAlgorithms.front()) line += ';';
    line += HashName(algorithm);
    if (algorithm == selected) line += '*';
  }
  return line + "\r\n";
}

std::string HashReply(HashAlgorithm algorithm, std::uint64_t size, std::string_view digest,
                      std::string_view name) {
  std::string reply = "213 ";
  reply.append(HashName(algorithm)).append(" 0-").append(std::to_string(size)).append(" ");
  return reply.append(digest).append(" ").append(name).append("\r\n");
}

}  // namespace hx::ftpd
