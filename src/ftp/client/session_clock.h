#pragma once

#include <chrono>
#include <functional>

namespace hx::ftpc {

// Where a client session takes the time from for every limit it keeps; empty means the steady clock. A test
// passes its own, so that the limits are tested without real waits.
using SessionClock = std::function<std::chrono::steady_clock::time_point()>;

}  // namespace hx::ftpc
