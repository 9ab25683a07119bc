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

// yescrypt's cost, the library's default (16 MiB a check): one check takes about 25 ms of one core of the
// 2-core development machine (5 ms at 3, 10 at 4; bench/password-check), up to four times that while other
// work loads both cores. Slow enough that a stolen file is expensive to guess at (about 40 guesses a second a
// core), fast enough that a login keeps a thread of the pool for password checks only briefly.
inline constexpr unsigned long kPasswordHashCost = 5;

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

}  // namespace hx
