#include "app/resource_limits.h"

#include <sys/resource.h>

#include <asio/error.hpp>
#include <cerrno>

namespace hx {

bool RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur == limit.rlim_max) return true;
  limit.rlim_cur = limit.rlim_max;
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool IsOutOfDescriptors(const std::error_code& error) {
  // Asio reports system errors in a category of its own, which does not compare equal to std::errc.
  bool system = error.category() == asio::error::get_system_category() ||
                error.category() == std::system_category() || error.category() == std::generic_category();
  return system && (error.value() == EMFILE || error.value() == ENFILE);
}

}  // namespace hx
