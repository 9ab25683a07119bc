#pragma once

#include <asio/ip/tcp.hpp>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "ftp/server/data_connection.h"
#include "ftp/server/listing_reader.h"

namespace hx {
class BlockingPool;
class Worker;
}  // namespace hx

namespace hx::ftpd {

class ControlSession;

// One LIST or NLST on its data connection: connect, send the listing, reply "226 Closing data connection",
// close. The session reads no command while it runs. A connect that fails shows "Could not connect to
// peer. Aborting transfer." and gets "425 Can't open data connection"; a client that drops the connection
// before the listing is sent gets "426 Transfer terminated abnormally".
//
// The listing comes a part at a time: each part after the first is made by `nextPart` on the blocking pool
// once the one before has been written, so that a folder of any size is sent in bounded memory.
class ListingJob : public std::enable_shared_from_this<ListingJob> {
 public:
  ListingJob(ControlSession& session, BlockingPool& pool, Worker& worker, asio::ip::tcp::socket socket,
             ListingPart first, std::function<ListingPart()> nextPart);

  // Starts opening the data connection after the 150 reply; the outcome arrives on the session's loop.
  void Connect(std::unique_ptr<DataOpener> opener);
  // The session ends: close without a reply.
  void Close();

 private:
  void OnConnect(std::error_code error);
  void WritePart();
  void OnWritten(std::error_code error);
  void End();

  ControlSession& m_session;
  BlockingPool& m_pool;
  Worker& m_worker;
  asio::ip::tcp::socket m_socket;
  std::unique_ptr<DataOpener> m_opener;
  ListingPart m_part;  // the part being written
  std::function<ListingPart()> m_nextPart;
  bool m_ended = false;
};

}  // namespace hx::ftpd
