#include "app/listen_address.h"

namespace hx {

bool IsNoIpv6(const std::error_code& error) {
  return error == std::errc::address_family_not_supported || error == std::errc::address_not_available;
}

}  // namespace hx
