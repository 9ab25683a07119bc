#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hx {

// Passwords at rest. Field 1 of a profile holds a hash made by the system's crypt library (libxcrypt, the
// scheme of /etc/shadow): new and changed passwords get a yescrypt hash ("$y$..."), and a hash of any other
// scheme the library takes ("$6$", "$2b$", ...) is checked as well. Password files of earlier versions hold
// the reversible 20-character form of password_codec.h instead; it still logs in, and a successful login
// replaces it by a hash. No hash alphabet holds "|", so a hash never breaks the line format.

// yescrypt's cost: one check takes about 20 ms at 3 on the 2-core development machine (4 to 5 ms at 1, about
// 50 at 4, about 110 at the library's default of 5; bench/password-check). Slow enough that a stolen file is
// expensive to guess at, fast enough that a login does not keep a blocking-pool thread long.
inline constexpr unsigned long kPasswordHashCost = 3;

// What field 1 of a profile holds.
enum class StoredPasswordForm {
  Hash,     // a whole hash that the crypt library reproduces
  Encoded,  // the reversible form of earlier versions: replace it by a hash at the next login
  Unknown,  // neither: no password logs in with it
};

struct PasswordCheck {
  bool matches = false;
  StoredPasswordForm form = StoredPasswordForm::Unknown;
};

// Checks `plain` against a stored field: a hash is computed again with the stored setting and compared whole,
// in time that does not depend on where the two differ; the encoded form is decoded and compared the same
// way. A plain text the crypt library cannot take (a NUL byte, 512 bytes or more) matches no hash. Takes
// tens of milliseconds for a yescrypt hash; never throws.
PasswordCheck CheckStoredPassword(std::string_view plain, std::string_view stored);
// CheckStoredPassword(plain, stored).matches.
bool CheckPassword(std::string_view plain, std::string_view stored);

// A yescrypt hash of `plain` at kPasswordHashCost with a fresh salt from the system's random source;
// nullopt when there is none to be had or the crypt library refuses the text (a NUL byte, too long).
std::optional<std::string> HashPassword(std::string_view plain);
// The same with another scheme's prefix ("$6$", "$2b$") and cost (0: the library's default), for tests and
// the benchmark.
std::optional<std::string> HashPasswordWith(std::string_view plain, const char* prefix, unsigned long cost);

}  // namespace hx
