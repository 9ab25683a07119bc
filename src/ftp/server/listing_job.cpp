#include "ftp/server/listing_job.h"

#include "app/blocking_pool.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

ListingJob::ListingJob(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
                       BlockingPool& pool, ListingPart first, std::function<ListingPart()> nextPart,
                       std::optional<DataTls> tls)
    // A listing is not watched for stalls: its limit is the passive listener's, or the client's.
    : DataTransfer(host, worker, clock, std::move(socket), TransferSettings{.tls = std::move(tls)}),
      m_pool(pool),
      m_part(std::move(first)),
      m_nextPart(std::move(nextPart)) {}

void ListingJob::ConnectFailed(std::error_code error) {
  // A client that does not get TLS right is the client's business; the log has said why.
  if (error != kDataTlsRefused) m_host.Notice("Could not connect to peer. Aborting transfer.");
  m_host.Reply(reply::kCantOpenData);
  Finish();
}

void ListingJob::WritePart() {
  if (m_partWritten == m_part.text.size()) {
    OnWritten({});
    return;
  }
  m_stream->WriteSome(asio::buffer(m_part.text.data() + m_partWritten, m_part.text.size() - m_partWritten),
                      Bind([this](std::error_code error, size_t count) {
                        if (m_ended) return;
                        m_partWritten += count;
                        if (error)
                          OnWritten(error);
                        else
                          WritePart();
                      }));
}

void ListingJob::OnWritten(std::error_code error) {
  if (m_ended) return;
  if (error || m_part.last) {
    m_host.Reply(error ? reply::kTransferFailed : reply::kClosingData);
    Finish();
    return;
  }
  m_part.text.clear();
  m_partWritten = 0;
  bool queued = m_pool.Run(m_worker, m_nextPart, Hold([this](ListingPart part) {
                             if (m_ended) return;
                             m_part = std::move(part);
                             WritePart();
                           }),
                           BlockingPool::Admission::Continuation);
  // Only a pool that has stopped refuses: the listing is cut off.
  if (!queued) OnWritten(asio::error::operation_not_supported);
}

}  // namespace hx::ftpd
