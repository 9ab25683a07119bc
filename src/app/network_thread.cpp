#include "app/network_thread.h"

namespace hx {

NetworkThread::NetworkThread() : m_work(asio::make_work_guard(m_io)) {
  m_thread = std::thread([this] { m_io.run(); });
}

NetworkThread::~NetworkThread() {
  m_work.reset();
  m_io.stop();
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace hx
