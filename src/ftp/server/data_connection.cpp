#include "ftp/server/data_connection.h"

#include <sys/socket.h>

#include <asio/post.hpp>
#include <cerrno>

#include "app/listen_address.h"
#include "app/socket_error_text.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

std::string OpenDataSocket(asio::ip::tcp::socket& socket, std::uint16_t localPort,
                           const asio::ip::tcp& protocol, bool& portRefused) {
  portRefused = false;
  std::error_code error;
  socket.open(protocol, error);
  if (error) return std::string(reply::kCouldNotCreateSocket) + SocketErrorText(error) + "\r\n";
  // Every data connection leaves from the same port; without the option the second one could not bind
  // while the first lingers in TIME_WAIT.
  socket.set_option(asio::socket_base::reuse_address(true), error);
  // Data goes out in chunks smaller than a segment; without this every chunk would wait for the
  // acknowledgement of the one before, which the client delays.
  if (!error) socket.set_option(asio::ip::tcp::no_delay(true), error);
  if (!error) socket.non_blocking(true, error);
  if (error) {
    socket.close();
    return std::string(reply::kCouldNotSetOptions) + SocketErrorText(error) + "\r\n";
  }
  socket.bind(asio::ip::tcp::endpoint(protocol, localPort), error);
  portRefused = error && localPort != 0 && IsPermissionRefusal(error);
  if (portRefused) socket.bind(asio::ip::tcp::endpoint(protocol, 0), error);
  if (error) {
    socket.close();
    return std::string(reply::kCouldNotBind) + SocketErrorText(error) + "\r\n";
  }
  return {};
}

ConnectStart StartConnect(asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& peer,
                          std::error_code& error) {
  error.clear();
  int result;
  do {
    result = ::connect(socket.native_handle(), peer.data(), static_cast<socklen_t>(peer.size()));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return ConnectStart::Connected;
  if (errno == EINPROGRESS || errno == EAGAIN) return ConnectStart::InProgress;
  error = std::error_code(errno, std::system_category());
  return ConnectStart::Failed;
}

void AwaitConnect(asio::ip::tcp::socket& socket, std::function<void(std::error_code)> done) {
  socket.async_wait(asio::socket_base::wait_write, [&socket, done = std::move(done)](std::error_code error) {
    if (!error) {
      int code = 0;
      socklen_t length = sizeof code;
      if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
      if (code != 0) error = std::error_code(code, std::system_category());
    }
    done(error);
  });
}

bool ActiveOpener::Start(asio::ip::tcp::socket& socket, std::error_code& error,
                         std::function<void(std::error_code)> done) {
  switch (StartConnect(socket, m_target, error)) {
    case ConnectStart::Failed:
      return false;
    case ConnectStart::Connected:
      asio::post(socket.get_executor(), [done = std::move(done)] { done({}); });
      return true;
    case ConnectStart::InProgress:
      AwaitConnect(socket, std::move(done));
      return true;
  }
  return false;
}

bool ConnectedThenReset(const std::error_code& error) {
  return error == std::errc::connection_reset || error == std::errc::broken_pipe;
}

}  // namespace hx::ftpd
