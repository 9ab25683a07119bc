#include "app/host_port.h"

namespace hx {

HostPortText SplitHostPort(std::string_view text, std::string_view defaultPort) {
  if (text.starts_with('[')) {
    size_t close = text.find(']');
    if (close != std::string_view::npos) {
      std::string_view rest = text.substr(close + 1);
      std::string host(text.substr(1, close - 1));
      if (rest.empty()) return {host, std::string(defaultPort)};
      if (rest.starts_with(':')) return {host, std::string(rest.substr(1))};
    }
    // Anything else is no bracketed address; it fails as a host name.
    return {std::string(text), std::string(defaultPort)};
  }
  size_t colon = text.rfind(':');
  // Two colons or more: an IPv6 address, whose last group must not be taken for a port.
  if (colon == std::string_view::npos || text.find(':') != colon)
    return {std::string(text), std::string(defaultPort)};
  return {std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

std::string FormHost(std::string_view text) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  return std::string(text);
}

}  // namespace hx
