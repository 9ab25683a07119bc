#pragma once

#include <asio/io_context.hpp>
#include <memory>

#include "app/app_context.h"
#include "app/listener.h"

namespace hx {

// The FTP service's listening socket on FPort (IPv4, all local addresses), on the network thread. Every
// accepted control connection gets a worker of its own.
std::unique_ptr<Listener> MakeFtpListener(AppContext& context, asio::io_context& network);

}  // namespace hx
