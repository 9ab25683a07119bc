#pragma once

#include <system_error>

namespace hx {

// Raises the soft limit of open files to the hard limit, as servers do: every session holds a socket and
// often a file, and the usual soft limit of 1024 refuses sessions long before the system runs short. Returns
// false when the limit could not be read or raised; the program then runs with the limit it was given.
bool RaiseOpenFileLimit();

// EMFILE or ENFILE: the process or the system has no descriptor left.
bool IsOutOfDescriptors(const std::error_code& error);

}  // namespace hx
