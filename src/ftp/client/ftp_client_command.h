#pragma once

#include <string>

#include "app/command_line.h"

namespace hx {

// `harbinex ftp get|put HOST[:PORT] USER PASSWORD REMOTE LOCAL [--passive] [--tls | --tls-implicit]
// [--fingerprint SHA256:HEX | --insecure]`: runs one FTP client session as the window would start it, with
// the settings of `appDir`; `line.args` starts after "ftp". --passive asks the server for the data address
// (EPSV, then PASV) instead of offering one. --tls secures the session with AUTH TLS, --tls-implicit from the
// first byte (port 990 unless one is given); the server's certificate is then checked against the system's
// trust store and the host name, or compared with --fingerprint, or not checked with --insecure, which says
// so on stderr. PASSWORD "-" reads one line of standard input. Prints the row's last Status on stdout and
// returns 0 only when the transfer succeeded, 1 when it did not or the values were refused, 2 for wrong usage
// (a malformed fingerprint included).
int RunFtpClientCommand(CommandLine& line, const std::string& appDir);

}  // namespace hx
