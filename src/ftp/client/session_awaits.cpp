#include "ftp/client/session_awaits.h"

#include <asio/async_result.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <memory>
#include <utility>

#include "app/clock.h"
#include "tls/tls_stream.h"

namespace hx::ftpc {
namespace {

// The streams' and timers' handlers are std::functions, which must be copyable; a coroutine's completion
// handler can only be moved, so the copies share it.
template <typename Handler>
auto Shared(Handler handler) {
  auto held = std::make_shared<Handler>(std::move(handler));
  return [held](auto... results) { (*held)(results...); };
}

}  // namespace

asio::awaitable<std::size_t> AwaitRead(ByteStream& stream, asio::mutable_buffer buffer,
                                       std::error_code& error) {
  auto token = asio::redirect_error(asio::use_awaitable, error);
  co_return co_await asio::async_initiate<decltype(token), void(std::error_code, std::size_t)>(
      [&stream, buffer](auto handler) { stream.ReadSome(buffer, Shared(std::move(handler))); }, token);
}

asio::awaitable<void> AwaitWriteAll(ByteStream& stream, asio::const_buffer buffer, std::error_code& error) {
  auto token = asio::redirect_error(asio::use_awaitable, error);
  while (buffer.size() > 0) {
    std::size_t written = co_await asio::async_initiate<decltype(token), void(std::error_code, std::size_t)>(
        [&stream, buffer](auto handler) { stream.WriteSome(buffer, Shared(std::move(handler))); }, token);
    if (error) co_return;
    buffer += written;
  }
}

asio::awaitable<void> AwaitHandshake(tls::TlsStream& stream, std::error_code& error) {
  auto token = asio::redirect_error(asio::use_awaitable, error);
  co_await asio::async_initiate<decltype(token), void(std::error_code)>(
      [&stream](auto handler) { stream.Handshake(Shared(std::move(handler))); }, token);
}

asio::awaitable<void> AwaitWritable(ByteStream& stream, std::error_code& error) {
  auto token = asio::redirect_error(asio::use_awaitable, error);
  co_await asio::async_initiate<decltype(token), void(std::error_code)>(
      [&stream](auto handler) { stream.WaitWritable(Shared(std::move(handler))); }, token);
}

asio::awaitable<void> AwaitTimer(ClockTimer& timer) {
  std::error_code ignored;
  auto token = asio::redirect_error(asio::use_awaitable, ignored);
  co_await asio::async_initiate<decltype(token), void(std::error_code)>(
      [&timer](auto handler) { timer.AsyncWait(Shared(std::move(handler))); }, token);
}

}  // namespace hx::ftpc
