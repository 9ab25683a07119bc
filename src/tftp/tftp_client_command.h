#pragma once

#include <string>

#include "app/command_line.h"

namespace hx {

// `harbinex tftp get|put HOST[:PORT] REMOTE LOCAL [--blksize N] [--windowsize N] [--timeout S]`: runs one
// TFTP client session as the window would start it, with the settings of `appDir`; `line.args` starts after
// "tftp", the options anywhere in it. Prints the row's last Status on stdout and returns 0 only when the
// transfer succeeded, 1 when it did not or the form refused a value, 2 for wrong usage or a refused option
// value (named on stderr with the form's message).
int RunTftpClientCommand(CommandLine& line, const std::string& appDir);

}  // namespace hx
