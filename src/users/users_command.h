#pragma once

#include <string>

#include "app/command_line.h"

namespace hx {

// `harbinex users list|add|edit|delete ...`: keeps the password file of `appDir` with the rules of the user
// dialogs. `line.args` starts after "users". Refusals are printed on stderr as "harbinex: TEXT". Returns the
// exit status: 0 done, 1 refused, 2 wrong usage.
int RunUsersCommand(CommandLine& line, const std::string& appDir);

}  // namespace hx
