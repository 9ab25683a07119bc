#include "users/password_hash.h"

#include <crypt.h>

#include <cstring>
#include <memory>

#include "users/password_codec.h"

namespace hx {
namespace {

// crypt_rn's work area: its output and a copy of the pass phrase, about 32 KiB, so it is not put on the
// stack of a pool thread. Wiped on release, so that no plain text stays behind in freed memory.
struct CryptArea {
  CryptArea() : data(std::make_unique<crypt_data>()) {}
  ~CryptArea() { explicit_bzero(data.get(), sizeof *data); }
  CryptArea(const CryptArea&) = delete;
  CryptArea& operator=(const CryptArea&) = delete;
  std::unique_ptr<crypt_data> data;
};

// The crypt library takes a NUL-terminated phrase: a plain text with a NUL in it would be cut short there, so
// "secret\0anything" would pass for "secret".
bool CryptTakes(std::string_view plain) {
  return plain.find('\0') == std::string_view::npos && plain.size() < CRYPT_MAX_PASSPHRASE_SIZE;
}

// nullptr when the library refuses (it then writes a failure token beginning with "*" instead).
const char* Crypt(std::string_view plain, const char* setting, CryptArea& area) {
  std::memcpy(area.data->input, plain.data(), plain.size());
  area.data->input[plain.size()] = '\0';
  const char* result = crypt_rn(area.data->input, setting, area.data.get(), sizeof *area.data);
  if (result == nullptr || result[0] == '*') return nullptr;
  return result;
}

// Equal sizes and bytes, looking at every byte whatever the first difference. The size itself is not
// hidden: a hash's size follows from its setting, which is stored in it.
bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  volatile unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

bool IsEncodedForm(std::string_view stored) {
  return stored.size() == kStoredPasswordLength && TryDecodePassword(stored).has_value();
}

}  // namespace

PasswordCheck CheckStoredPassword(std::string_view plain, std::string_view stored) {
  if (IsEncodedForm(stored)) {
    std::string decoded = DecodePassword(stored);
    bool matches = SameBytes(plain, decoded);
    explicit_bzero(decoded.data(), decoded.size());
    return {matches, StoredPasswordForm::Encoded};
  }
  // The setting must be a C string too; a stored field with a NUL in it is no hash.
  const std::string setting(stored);
  if (setting.find('\0') != std::string::npos) return {false, StoredPasswordForm::Unknown};
  int salt = crypt_checksalt(setting.c_str());
  if (salt == CRYPT_SALT_INVALID || salt == CRYPT_SALT_METHOD_DISABLED)
    return {false, StoredPasswordForm::Unknown};
  // Said to be a hash; a plain text the library cannot take matches none, whatever the field holds.
  if (!CryptTakes(plain)) return {false, StoredPasswordForm::Hash};
  CryptArea area;
  const char* computed = Crypt(plain, setting.c_str(), area);
  // A field that the library refuses, or that is only a setting (a salt without its hash: the computed hash
  // is longer), can never match.
  if (computed == nullptr || std::strlen(computed) != stored.size())
    return {false, StoredPasswordForm::Unknown};
  return {SameBytes(computed, stored), StoredPasswordForm::Hash};
}

bool CheckPassword(std::string_view plain, std::string_view stored) {
  return CheckStoredPassword(plain, stored).matches;
}

std::optional<std::string> HashPassword(std::string_view plain) {
  if (!CryptTakes(plain)) return std::nullopt;
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // No random bytes given: the library takes them from the system's source (getrandom).
  if (crypt_gensalt_rn("$y$", kPasswordHashCost, nullptr, 0, setting, sizeof setting) == nullptr)
    return std::nullopt;
  CryptArea area;
  const char* hash = Crypt(plain, setting, area);
  if (hash == nullptr) return std::nullopt;
  return std::string(hash);
}

}  // namespace hx
