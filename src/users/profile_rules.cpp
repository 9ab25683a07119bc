#include "users/profile_rules.h"

#include "app/text_util.h"

namespace hx {
namespace {

constexpr const char* kRightNames[kRightCount] = {"login",  "upload", "download", "overwrite",
                                                  "rename", "delete", "mkdir",    "rmdir"};

}  // namespace

std::string NoUserNameMessage() {
  return "No user name specified!\r\nPlease specify a username in the \"User Name:\" box below";
}

std::string UserExistsMessage(std::string_view name) {
  return "The user " + std::string(name) + " already exists!\r\nPlease specify a NEW user name";
}

std::string EditUserNotFoundMessage(std::string_view name) {
  return "The user name " + std::string(name) +
         " was not found!\r\nEnter the name of an existing user in the \"User Name:\" box below";
}

std::string DeleteUserNotFoundMessage(std::string_view name) {
  return "The user " + std::string(name) + " was not found!\r\nPlease specify a existing user name";
}

std::optional<std::string> CheckNewUserName(std::string_view name) {
  if (name.empty()) return NoUserNameMessage();
  if (name.size() > kMaxUserName) {
    return "User name must be no more than " + std::to_string(kMaxUserName) + " characters long!";
  }
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (c == '|' || u < 32 || u == 127)
      return std::string("User name may not contain \"|\" or control characters");
  }
  return std::nullopt;
}

std::optional<std::string> CheckNewPassword(std::string_view password) {
  if (password.size() < kMinPassword) {
    return "Password must be at least " + std::to_string(kMinPassword) + " characters long!";
  }
  if (password.size() > kMaxPassword) {
    return "Password must be no more than " + std::to_string(kMaxPassword) + " characters long!";
  }
  for (char c : password) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126) return std::string("Password may only hold printable ASCII characters");
  }
  return std::nullopt;
}

std::optional<std::array<bool, kRightCount>> ParseRightsList(std::string_view list, std::string& unknown) {
  std::array<bool, kRightCount> rights{};
  if (TrimBlanks(list).empty()) return rights;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string_view word =
        TrimBlanks(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
    bool known = false;
    for (int i = 0; i < kRightCount; ++i) {
      if (EqualsNoCase(word, kRightNames[i])) {
        rights[i] = true;
        known = true;
      }
    }
    if (!known) {
      unknown = std::string(word);
      return std::nullopt;
    }
    if (comma == std::string_view::npos) return rights;
    start = comma + 1;
  }
}

std::string FormatRightsList(const std::array<bool, kRightCount>& rights) {
  std::string list;
  for (int i = 0; i < kRightCount; ++i) {
    if (!rights[i]) continue;
    if (!list.empty()) list += ',';
    list += kRightNames[i];
  }
  return list.empty() ? "-" : list;
}

std::array<bool, kRightCount> DefaultNewUserRights() {
  std::array<bool, kRightCount> rights{};
  rights[static_cast<int>(Right::Login)] = true;
  rights[static_cast<int>(Right::Upload)] = true;
  rights[static_cast<int>(Right::Download)] = true;
  return rights;
}

}  // namespace hx
