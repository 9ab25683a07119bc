#include "users/password_codec.h"

namespace hx {
namespace {

constexpr unsigned char kLengthBase = 'A';
constexpr unsigned char kSeparatorChar = '|';

// A random character from "!" to "}", never the record separator's character.
unsigned char DrawCharacter(std::mt19937& engine) {
  std::uniform_int_distribution<int> draw('!', '}');
  for (;;) {
    auto c = static_cast<unsigned char>(draw(engine));
    if (c != kSeparatorChar) return c;
  }
}

unsigned char Cipher(unsigned char key, unsigned char plain) {
  auto c = static_cast<unsigned char>(key + plain - 31);
  if (c > 126) c = static_cast<unsigned char>(c - 95);
  return c;
}

}  // namespace

std::string EncodePasswordWith(std::string_view plain, std::mt19937& engine) {
  if (plain.size() > kMaxEncodablePassword) return {};
  std::string stored(kStoredPasswordLength, '\0');
  stored[0] = static_cast<char>(kLengthBase + plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    auto p = static_cast<unsigned char>(plain[i]);
    unsigned char key = 0;
    unsigned char cipher = 0;
    // A key whose cipher would be the separator's character is drawn again: at most two keys of the 92 do
    // that for any plain byte. Decoding does not depend on which key was drawn.
    do {
      key = DrawCharacter(engine);
      cipher = Cipher(key, p);
    } while (cipher == kSeparatorChar);
    stored[2 * i + 1] = static_cast<char>(key);
    stored[2 * i + 2] = static_cast<char>(cipher);
  }
  for (size_t i = 2 * plain.size() + 1; i < kStoredPasswordLength; ++i) {
    stored[i] = static_cast<char>(DrawCharacter(engine));
  }
  return stored;
}

std::string EncodePassword(std::string_view plain) {
  std::random_device seed;
  std::mt19937 engine(seed());
  return EncodePasswordWith(plain, engine);
}

std::optional<std::string> TryDecodePassword(std::string_view stored) {
  if (stored.empty()) return std::nullopt;
  auto lengthChar = static_cast<unsigned char>(stored[0]);
  if (lengthChar < kLengthBase) return std::nullopt;
  size_t n = lengthChar - kLengthBase;
  if (stored.size() < 2 * n + 1) return std::nullopt;
  std::string plain(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    auto k = static_cast<unsigned char>(stored[2 * i + 1]);
    auto c = static_cast<unsigned char>(stored[2 * i + 2]);
    plain[i] = static_cast<char>(c > k ? c - k + 31 : c - k + 126);
  }
  return plain;
}

std::string DecodePassword(std::string_view stored) {
  return TryDecodePassword(stored).value_or(std::string());
}

}  // namespace hx
