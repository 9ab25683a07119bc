#include "app/listen_address.h"

#include "app/socket_error_text.h"

namespace hx {

// Asio's own system category knows no portable conditions: the error's number decides, as for its text.
bool IsPermissionRefusal(const std::error_code& error) {
  return WinsockErrorNumber(error) == 10013;
}

std::string ListenFailureText(std::string_view service, const ListenFailure& failure, int port,
                              std::string_view portKey) {
  std::string text(service);
  if (failure.step == ListenFailure::Step::Bind && IsPermissionRefusal(failure.error))
    return text.append(": port ")
        .append(std::to_string(port))
        .append(" needs root or CAP_NET_BIND_SERVICE; set ")
        .append(portKey);
  text +=
      failure.step == ListenFailure::Step::Open ? ": Couldn't create socket: " : ": Couldn't bind socket: ";
  return text + SocketErrorText(failure.error);
}

bool IsNoIpv6(const std::error_code& error) {
  return error == std::errc::address_family_not_supported || error == std::errc::address_not_available;
}

}  // namespace hx
