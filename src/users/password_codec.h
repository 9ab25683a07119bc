#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace hx {

// The reversible form in which earlier versions stored passwords: 20 printable characters. Character 0 is 'A'
// + the plain length, then one (key, cipher) pair per plain character, then random filler. Key, cipher and
// filler characters are never
// '|', so a stored password can never break the "||" record format of the password file. The program reads
// it (password_hash.h checks it and replaces it by a hash at the next login) but stores hashes only; the
// encoder is left for tests that make password files of earlier versions.
inline constexpr size_t kStoredPasswordLength = 20;
// The longest plain password the stored form holds (1 + 2 x 9 = 19 positions).
inline constexpr size_t kMaxEncodablePassword = 9;

// Encodes with fresh randomness (an engine seeded from std::random_device for this call only). Plain
// characters 32 to 126 decode back to themselves; other bytes are encoded but may not. Returns the empty
// text for a password longer than kMaxEncodablePassword, which no login ever matches.
std::string EncodePassword(std::string_view plain);
// The same with the caller's engine, so that tests can repeat a draw.
std::string EncodePasswordWith(std::string_view plain, std::mt19937& engine);

// Decodes a well-formed stored form; nullopt when it is empty, its length character is below 'A', or it is
// shorter than that character announces.
std::optional<std::string> TryDecodePassword(std::string_view stored);
// The plain text of a stored form; the empty text for a malformed one.
std::string DecodePassword(std::string_view stored);

}  // namespace hx
