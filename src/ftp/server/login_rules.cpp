#include "ftp/server/login_rules.h"

#include <algorithm>

#include "app/config_store.h"
#include "app/text_util.h"
#include "users/extract_field.h"

namespace hx::ftpd {
namespace {

// A client's text in a made-up profile must not add fields: a password such as "x||/||1" would otherwise
// choose the session's root and rights.
std::string WithoutBars(std::string_view text) {
  std::string result(text);
  std::erase(result, '|');
  return result;
}

std::string JoinProfile(std::string_view name, std::string_view password, std::string_view root,
                        const int (&rights)[8]) {
  std::string profile;
  profile.append(WithoutBars(name)).append("||").append(WithoutBars(password)).append("||").append(root);
  for (int right : rights) profile.append("||").append(std::to_string(right));
  return profile;
}

}  // namespace

int GetRight(std::string_view profile, int field) {
  return ParseProfileInt(ExtractField(profile, kProfileSeparator, field));
}

std::string AllRightsProfile(std::string_view user, std::string_view password, std::string_view root) {
  const int rights[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  return JoinProfile(user, password, root, rights);
}

std::string AnonymousProfile(std::string_view password, std::string_view root, int upload, int download,
                             int overwrite) {
  const int rights[8] = {0, upload, download, overwrite, 0, 0, 0, 0};
  return JoinProfile("anonymous", password, root, rights);
}

std::string TakeOverRoot(std::string_view directory) {
  std::string root(directory);
  std::replace(root.begin(), root.end(), '\\', '/');
  if (!root.empty() && root.back() != '/') root += '/';
  return root;
}

LoginOutcome DecideLogin(const std::string& user, const std::string& password, const LoginSettings& settings,
                         const std::function<std::string(std::string_view name)>& find,
                         const std::function<bool(std::string_view plain, std::string_view stored)>& check) {
  auto grant = [](std::string profile) {
    bool usable = !ExtractField(profile, kProfileSeparator, kFieldDirectory).empty();
    return LoginOutcome{usable, std::move(profile)};
  };
  if (settings.userSecurity == 0) return grant(AllRightsProfile(user, password, settings.anonymousRoot));

  if (EqualsNoCase(user, "anonymous")) {
    std::string profile = find("anonymous");
    if (!profile.empty()) {
      if (GetRight(profile, kFieldLogin) == 0) return {false, std::move(profile)};
      return grant(std::move(profile));
    }
    if (settings.anonAllowed == 0) return {false, std::nullopt};
    return grant(AnonymousProfile(password, settings.anonymousRoot, settings.allowUpload,
                                  settings.allowDownload, settings.overwrite));
  }

  std::string profile = find(user);
  if (profile.empty() || GetRight(profile, kFieldLogin) == 0) return {false, std::move(profile)};
  if (!check(password, ExtractField(profile, kProfileSeparator, kFieldPassword)))
    return {false, std::move(profile)};
  return grant(std::move(profile));
}

std::string LoginDeniedLogText(std::string_view user) {
  return "FTP: User " + std::string(user) + " attempted access. User profile denied access";
}

}  // namespace hx::ftpd
