#pragma once

namespace hx {

// Raises the soft limit of open files to the hard limit, as servers do: every session holds a socket and
// often a file, and the usual soft limit of 1024 refuses sessions long before the system runs short. Returns
// false when the limit could not be read or raised; the program then runs with the limit it was given.
bool RaiseOpenFileLimit();

}  // namespace hx
