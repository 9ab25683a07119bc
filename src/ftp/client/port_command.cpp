#include "ftp/client/port_command.h"

#include "app/shown_text.h"

namespace hx::ftpc {

std::string PortCommand(std::string_view dottedAddress, std::uint16_t port) {
  std::string address(dottedAddress);
  for (char& c : address) {
    if (c == '.') c = ',';
  }
  return "PORT " + address + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) + "\r\n";
}

std::string EprtCommand(std::string_view ipv6Address, std::uint16_t port) {
  return "EPRT |2|" + std::string(ipv6Address) + "|" + std::to_string(port) + "|\r\n";
}

std::string CommandColumnText(std::string_view command) {
  // The row is on the operator's screen and in screenshots: the password never is.
  return HidePassword(command.substr(0, command.find_first_of("\r\n")));
}

}  // namespace hx::ftpc
