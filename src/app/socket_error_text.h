#pragma once

#include <string>
#include <system_error>

namespace hx {

// The text of the socket error table for a WinSock-style error number; empty when the table has no entry.
// Callers append it to their own prefix without a separator.
std::string SocketErrorText(int error);

// Maps an error of the socket layer (errno values, Asio's resolver errors) onto the WinSock number whose
// text SocketErrorText shows. Errors without a counterpart give their own value, which has no text.
int WinsockErrorNumber(const std::error_code& error);

// SocketErrorText(WinsockErrorNumber(error)).
std::string SocketErrorText(const std::error_code& error);

}  // namespace hx
