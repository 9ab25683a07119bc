#pragma once

#include <asio/awaitable.hpp>
#include <asio/buffer.hpp>
#include <cstddef>
#include <system_error>

#include "app/byte_stream.h"

namespace hx {
class ClockTimer;
}
namespace hx::tls {
class TlsStream;
}

namespace hx::ftpc {

// The waits of the client session's coroutines on the calls that take a handler: a ByteStream's, a TLS
// handshake's and a timer's. Each resumes the coroutine where the stream or timer runs its handlers, on the
// session's strand; a failure (operation_aborted after a Close included) comes back in `error`.

// What one read gave: at least one byte, or none with an error (eof at the peer's orderly end).
asio::awaitable<std::size_t> AwaitRead(ByteStream& stream, asio::mutable_buffer buffer,
                                       std::error_code& error);
// Writes the whole buffer unless it fails.
asio::awaitable<void> AwaitWriteAll(ByteStream& stream, asio::const_buffer buffer, std::error_code& error);
asio::awaitable<void> AwaitHandshake(tls::TlsStream& stream, std::error_code& error);
asio::awaitable<void> AwaitWritable(ByteStream& stream, std::error_code& error);
// Returns once `timer` has come due or has been cancelled: the waiter looks at what changed either way.
asio::awaitable<void> AwaitTimer(ClockTimer& timer);

}  // namespace hx::ftpc
