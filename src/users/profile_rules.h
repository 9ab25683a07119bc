#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "users/user_profile.h"

namespace hx {

inline constexpr size_t kMaxUserName = 19;
// Password lengths in characters (a UTF-8 sequence counts as one).
inline constexpr size_t kMinPassword = 6;
inline constexpr size_t kMaxPassword = 128;

// The refusals of the user dialogs, with the name filled in.
std::string NoUserNameMessage();
std::string UserExistsMessage(std::string_view name);
std::string EditUserNotFoundMessage(std::string_view name);
std::string DeleteUserNotFoundMessage(std::string_view name);

// A user name for a new profile: not empty, at most 19 characters, and nothing that would break the line
// format of the password file ("|" and control characters). Returns the refusal, or nullopt.
std::optional<std::string> CheckNewUserName(std::string_view name);

// "Password must be at least 6 characters long!" and "Password must be no more than 128 characters long!".
std::string PasswordTooShortMessage();
std::string PasswordTooLongMessage();

// The characters of a password: bytes 32 to 126 count one each, and so does every well-formed UTF-8 sequence
// of a character from U+0080 up; nullopt for anything else (control characters, DEL, broken or overlong
// sequences, surrogates), which a user could hardly type again the same way at a client.
std::optional<size_t> CountPasswordCharacters(std::string_view password);

// A newly entered plain password: 6 to 128 characters as counted above, and fewer than 512 bytes, which the
// crypt library takes (only 128 characters of four bytes each reach that). Returns the refusal, or nullopt.
std::optional<std::string> CheckNewPassword(std::string_view password);

// The rights named in a comma list of login, upload, download, overwrite, rename, delete, mkdir, rmdir
// (letter case and blanks around the names ignored; an empty list grants nothing). nullopt for an unknown
// name, which is put into `unknown`.
std::optional<std::array<bool, kRightCount>> ParseRightsList(std::string_view list, std::string& unknown);
// The granted rights as such a list, in field order; "-" when none is granted.
std::string FormatRightsList(const std::array<bool, kRightCount>& rights);

// The rights a new profile starts with: Login, Upload and Download.
std::array<bool, kRightCount> DefaultNewUserRights();

}  // namespace hx
