#pragma once

#include <string>

#include "ftp/server/login_rules.h"

namespace hx {
class Frontend;
}

namespace hx::ftpd {

// A PASS decided away from the session loop: checking a yescrypt hash takes tens of milliseconds.
struct PassDecision {
  LoginOutcome outcome;
  // The profile's stored password is in no known form: no password logs in with it.
  bool unknownStoredForm = false;
};

// Reads the password file of `appDir` (creating it when missing) and decides the login with DecideLogin.
// After a granted login whose password was stored in the old reversible form, replaces that form by the
// password's hash: under the file's lock, in one rewrite, and only while the line still holds the form that
// was checked. Safe on any thread; the password file's failures are reported through `frontend`.
PassDecision DecidePass(const std::string& appDir, Frontend& frontend, const std::string& user,
                        const std::string& password, const LoginSettings& settings);

}  // namespace hx::ftpd
