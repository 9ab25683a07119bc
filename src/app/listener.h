#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/app_context.h"

namespace hx {

// A service's listening socket. It lives on the network thread; destroying it closes the socket and switches
// the service off, while the sessions it started run on.
class Listener {
 public:
  virtual ~Listener() = default;
  // Creates and binds the socket and starts receiving. False after the failure has been shown in a
  // message box.
  virtual bool Open() = 0;
  // The local port, once open (the port the system chose when the configured port is 0).
  virtual std::uint16_t Port() const = 0;
  // After a failed Open: whether another socket held the port.
  virtual bool PortTaken() const { return false; }
};

using ListenerFactory = std::function<std::unique_ptr<Listener>(AppContext&, asio::io_context&)>;

}  // namespace hx
