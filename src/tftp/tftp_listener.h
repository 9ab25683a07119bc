#pragma once

#include <asio/io_context.hpp>
#include <memory>

#include "app/app_context.h"
#include "app/listener.h"

namespace hx {

// The TFTP service: a UDP socket on every local address (IPv6 and IPv4 on one socket, IPv4 only with
// General/IPv6 off or without IPv6 on the host) and the port of TFTP/TPort, on the network thread. Every
// request datagram gets a session of its own, which goes on from a port of its own.
std::unique_ptr<Listener> MakeTftpListener(AppContext& context, asio::io_context& io);

}  // namespace hx
