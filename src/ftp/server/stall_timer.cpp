#include "ftp/server/stall_timer.h"

namespace hx::ftpd {

StallTimer::StallTimer(const asio::any_io_executor& executor, std::chrono::seconds limit)
    : m_timer(executor), m_limit(limit), m_lastMoved(std::chrono::steady_clock::now()) {}

void StallTimer::Watch(std::shared_ptr<void> transfer, std::function<void()> stalled) {
  if (m_limit.count() <= 0) return;
  m_timer.expires_at(m_lastMoved + m_limit);
  m_timer.async_wait([this, transfer = std::move(transfer), stalled = std::move(stalled)](std::error_code error) {
    if (error) return;
    if (std::chrono::steady_clock::now() < m_lastMoved + m_limit)
      Watch(transfer, stalled);
    else
      stalled();
  });
}

}  // namespace hx::ftpd
