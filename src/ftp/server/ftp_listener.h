#pragma once

#include <asio/io_context.hpp>
#include <memory>

#include "app/app_context.h"
#include "app/listener.h"

namespace hx {

// The FTP service's listening socket on FPort and every local address (IPv6 and IPv4 on one socket, IPv4
// only with General/IPv6 off or without IPv6 on the host), on the network thread. Every
// accepted control connection gets a worker of its own.
std::unique_ptr<Listener> MakeFtpListener(AppContext& context, asio::io_context& network);

}  // namespace hx
