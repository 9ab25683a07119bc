#include "ftp/server/password_login.h"

#include <optional>

#include "users/password_file.h"
#include "users/password_hash.h"

namespace hx::ftpd {

PassDecision DecidePass(const std::string& appDir, Frontend& frontend, const std::string& user,
                        const std::string& password, const LoginSettings& settings) {
  PasswordFile store(appDir, frontend);
  std::optional<StoredPasswordForm> checkedForm;
  std::string checkedStored;
  auto check = [&](std::string_view plain, std::string_view stored) {
    PasswordCheck result = CheckStoredPassword(plain, stored);
    checkedForm = result.form;
    checkedStored = stored;
    return result.matches;
  };
  PassDecision decision;
  decision.outcome = DecideLogin(
      user, password, settings, [&store](std::string_view name) { return store.Find(name); }, check);
  decision.unknownStoredForm = checkedForm == StoredPasswordForm::Unknown;
  if (decision.outcome.granted && checkedForm == StoredPasswordForm::Encoded) {
    // Without a hash (no random bytes to be had) the old form stays and is replaced at a later login.
    if (std::optional<std::string> hash = HashPassword(password))
      store.ReplacePassword(user, checkedStored, *hash);
  }
  return decision;
}

}  // namespace hx::ftpd
