#pragma once

#include <string_view>

namespace hx {

// What a row's Status says about its session, read from the texts the sessions set (no Qt here).
// A failure is recognised by a table of the texts the sessions set when they fail, never by the words in it.
// `command` is the row's Command: at the FTP server a refusal is a failure when it answers a transfer, a
// login or the goodbye of a session that kept a failure (see RefusalFails).
bool IsFailureStatus(std::string_view type, std::string_view status, std::string_view command = {});
// The session (or, on an FTP control connection, its transfer) has come to an end, well or not.
bool IsEndStatus(std::string_view type, std::string_view status);

}  // namespace hx
