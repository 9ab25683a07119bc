#include "ftp/server/listing_job.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include "app/blocking_pool.h"
#include "app/worker.h"
#include "ftp/server/control_session.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

ListingJob::ListingJob(ControlSession& session, BlockingPool& pool, Worker& worker,
                       asio::ip::tcp::socket socket, ListingPart first, std::function<ListingPart()> nextPart)
    : m_session(session),
      m_pool(pool),
      m_worker(worker),
      m_socket(std::move(socket)),
      m_part(std::move(first)),
      m_nextPart(std::move(nextPart)) {}

void ListingJob::Connect(std::unique_ptr<DataOpener> opener) {
  m_opener = std::move(opener);
  std::error_code error;
  if (!m_opener->Start(m_socket, error,
                       [self = shared_from_this()](std::error_code e) { self->OnConnect(e); }))
    asio::post(m_socket.get_executor(), [self = shared_from_this(), error] { self->OnConnect(error); });
}

void ListingJob::Close() {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
}

void ListingJob::OnConnect(std::error_code error) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (ConnectedThenReset(error)) {
    OnWritten(error);
    return;
  }
  if (error) {
    m_session.ShowMessage("Could not connect to peer. Aborting transfer.");
    m_session.SendReply(reply::kCantOpenData);
    End();
    return;
  }
  WritePart();
}

void ListingJob::WritePart() {
  asio::async_write(m_socket, asio::buffer(m_part.text),
                    [self = shared_from_this()](std::error_code e, size_t) { self->OnWritten(e); });
}

void ListingJob::OnWritten(std::error_code error) {
  if (m_ended) return;
  if (error || m_part.last) {
    m_session.SendReply(error ? reply::kTransferFailed : reply::kClosingData);
    End();
    return;
  }
  m_part.text.clear();
  bool queued = m_pool.Run(
      m_worker, m_nextPart,
      [self = shared_from_this()](ListingPart part) {
        if (self->m_ended) return;
        self->m_part = std::move(part);
        self->WritePart();
      },
      BlockingPool::Admission::Continuation);
  // Only a pool that has stopped refuses: the listing is cut off.
  if (!queued) OnWritten(asio::error::operation_not_supported);
}

void ListingJob::End() {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
  m_session.ListingEnded();
}

}  // namespace hx::ftpd
