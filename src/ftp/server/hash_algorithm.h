#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hx::ftpd {

// The digests HASH offers, in the order FEAT lists them; SHA-256 is every session's first choice.
enum class HashAlgorithm { Sha256, Sha1, Md5 };

// The algorithm's name as the protocol spells it ("SHA-256", "SHA-1", "MD5").
std::string_view HashName(HashAlgorithm algorithm);
// The algorithm a client names, compared without regard to ASCII case; nullopt for one not offered.
std::optional<HashAlgorithm> ParseHashName(std::string_view name);
// FEAT's line: every algorithm, the session's choice marked with "*".
std::string HashFeatureLine(HashAlgorithm selected);

// HASH's answer for a whole file of `size` bytes: the range runs from 0 to the size, and the name is the
// client's own.
std::string HashReply(HashAlgorithm algorithm, std::uint64_t size, std::string_view digest,
                      std::string_view name);

}  // namespace hx::ftpd
