#include "users/profile_rules.h"

#include "app/text_util.h"

namespace hx {
namespace {

constexpr const char* kRightNames[kRightCount] = {"login",  "upload", "download", "overwrite",
                                                  "rename", "delete", "mkdir",    "rmdir"};

// A UTF-8 sequence by its first byte: its length, the smallest character of that length (anything less is
// overlong) and the value bits of the first byte. Length 0 for a byte that begins no sequence: a control
// character, DEL or a continuation byte.
struct SequenceStart {
  size_t length;
  char32_t least;
  char32_t bits;
};

SequenceStart SequenceStartOf(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return {2, 0x80, lead & 0x1Fu};
  if ((lead & 0xF0) == 0xE0) return {3, 0x800, lead & 0x0Fu};
  if ((lead & 0xF8) == 0xF0) return {4, 0x10000, lead & 0x07u};
  return {0, 0, 0};
}

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

std::string PasswordTooShortMessage() {
  return "Password must be at least " + std::to_string(kMinPassword) + " characters long!";
}

std::string PasswordTooLongMessage() {
  return "Password must be no more than " + std::to_string(kMaxPassword) + " characters long!";
}

std::optional<size_t> CountPasswordCharacters(std::string_view password) {
  size_t count = 0;
  for (size_t i = 0; i < password.size(); ++count) {
    auto lead = static_cast<unsigned char>(password[i]);
    if (lead >= 32 && lead <= 126) {
      ++i;
      continue;
    }
    SequenceStart start = SequenceStartOf(lead);
    if (start.length == 0 || password.size() - i < start.length) return std::nullopt;
    char32_t value = start.bits;
    for (size_t k = 1; k < start.length; ++k) {
      auto next = static_cast<unsigned char>(password[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < start.least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    i += start.length;
  }
  return count;
}

std::optional<std::string> CheckNewPassword(std::string_view password) {
  std::optional<size_t> characters = CountPasswordCharacters(password);
  if (!characters) return std::string("Password may only hold printable characters");
  if (*characters < kMinPassword) return PasswordTooShortMessage();
  // The crypt library takes at most 511 bytes.
  if (*characters > kMaxPassword || password.size() >= 512) return PasswordTooLongMessage();
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
