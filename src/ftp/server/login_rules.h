#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace hx::ftpd {

// Fields of a session profile: the layout of a password-file line.
enum ProfileField : int {
  kFieldName = 0,
  kFieldPassword = 1,
  kFieldDirectory = 2,
  kFieldLogin = 3,
  kFieldUpload = 4,
  kFieldDownload = 5,
  kFieldOverwrite = 6,
  kFieldRename = 7,
  kFieldDelete = 8,
  kFieldMakeDirs = 9,
  kFieldRemoveDirs = 10,
};

// Field n of a profile read as an integer (leading blanks, optional sign, digits); 0 when missing or empty.
// Nonzero grants the right.
int GetRight(std::string_view profile, int field);

// The profile of every login while user-level security is off: all eight rights.
std::string AllRightsProfile(std::string_view user, std::string_view password, std::string_view root);
// The anonymous profile made up from the settings: upload, download and overwrite as configured, no other
// right (the Login field is not consulted for it).
std::string AnonymousProfile(std::string_view password, std::string_view root, int upload, int download,
                             int overwrite);

// The session's root from a profile's directory field: every "\" becomes "/", and a missing final "/" is
// added, so that relative paths never run into the directory's name.
std::string TakeOverRoot(std::string_view directory);

// The settings a login consults, read when PASS arrives.
struct LoginSettings {
  int userSecurity = 1;
  int anonAllowed = 0;
  int allowUpload = 1;
  int allowDownload = 1;
  int overwrite = 0;
  std::string anonymousRoot;  // FDLDir
};

struct LoginOutcome {
  bool granted = false;
  // The session's new profile; nullopt keeps the profile the session had (an anonymous login refused by
  // the settings).
  std::optional<std::string> profile;
};

// Decides a PASS. `find` returns the password-file line of a name (exact, case-sensitive) or the empty text.
// A granted profile whose directory field is empty is refused: an empty root would open the whole file
// system.
LoginOutcome DecideLogin(const std::string& user, const std::string& password, const LoginSettings& settings,
                         const std::function<std::string(std::string_view name)>& find,
                         const std::function<bool(std::string_view plain, std::string_view stored)>& check);

// Guessing passwords: every refused login is answered only after this pause, and the connection ends with
// the refusal that reaches this count.
inline constexpr std::chrono::seconds kFailedLoginPause{1};
inline constexpr int kMaxFailedLogins = 5;

// The log entry of a refused login, with the user name as given.
std::string LoginDeniedLogText(std::string_view user);

}  // namespace hx::ftpd
