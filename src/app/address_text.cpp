#include "app/address_text.h"

namespace hx {

asio::ip::address Unmapped(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  return address;
}

std::string AddressText(const asio::ip::address& address) {
  return Unmapped(address).to_string();
}

std::string HostPortShown(std::string_view host, unsigned port) {
  std::string shown =
      host.find(':') == std::string_view::npos ? std::string(host) : "[" + std::string(host) + "]";
  return shown + ":" + std::to_string(port);
}

}  // namespace hx
