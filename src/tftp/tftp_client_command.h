#pragma once

#include <string>

#include "app/command_line.h"

namespace hx {

// `harbinex tftp get|put HOST[:PORT] REMOTE LOCAL`: runs one TFTP client session as the window would start it,
// with the settings of `appDir`; `line.args` starts after "tftp". Prints the row's last Status on stdout and
// returns 0 only when the transfer succeeded, 1 when it did not or the values were refused, 2 for wrong usage.
int RunTftpClientCommand(CommandLine& line, const std::string& appDir);

}  // namespace hx
