#pragma once

#include <asio/ip/tcp.hpp>
#include <functional>
#include <system_error>

#include "ftp/server/data_transfer.h"
#include "ftp/server/listing_reader.h"

namespace hx {
class BlockingPool;
}  // namespace hx

namespace hx::ftpd {

// One LIST or NLST on its data connection: connect, send the listing, reply "226 Closing data connection",
// close. The session reads no command while it runs. A connect that fails shows "Could not connect to
// peer. Aborting transfer." and gets "425 Can't open data connection"; a client that drops the connection
// before the listing is sent gets "426 Transfer terminated abnormally".
//
// The listing comes a part at a time: each part after the first is made by `nextPart` on the blocking pool
// once the one before has been written, so that a folder of any size is sent in bounded memory.
class ListingJob : public DataTransfer {
 public:
  ListingJob(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
             BlockingPool& pool, ListingPart first, std::function<ListingPart()> nextPart,
             std::optional<DataTls> tls);

  // A listing has no ABOR of its own: no command is read while it runs.
  void Abort() override {}
  bool HoldsCommands() const override { return true; }

 private:
  void Connected() override { WritePart(); }
  void ConnectFailed(std::error_code error) override;
  void ConnectionReset() override { OnWritten(asio::error::connection_reset); }

  void WritePart();
  void OnWritten(std::error_code error);

  BlockingPool& m_pool;
  ListingPart m_part;        // the part being written
  size_t m_partWritten = 0;  // what of it has gone out
  std::function<ListingPart()> m_nextPart;
};

}  // namespace hx::ftpd
