#include "ui/window_frontend.h"

#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/shown_text.h"
#include "ui/modals.h"

namespace hx {

WindowFrontend::WindowFrontend(Modals& modals) : m_modals(modals) {}

void WindowFrontend::RowInserted(int sessionId) {
  Post({SessionNotice::Kind::RowInserted, sessionId, 0, {}});
}

void WindowFrontend::CellChanged(int sessionId, int column, const std::string& text) {
  // Stamped where it happened: a transfer's average rate must not depend on when the window catches up.
  Post({SessionNotice::Kind::CellChanged, sessionId, column, text, std::chrono::steady_clock::now()});
}

void WindowFrontend::RowsRemoved() {
  Post({SessionNotice::Kind::RowsRemoved, 0, 0, {}});
}

void WindowFrontend::RowRemoved(int sessionId) {
  Post({SessionNotice::Kind::RowRemoved, sessionId, 0, {}});
}

void WindowFrontend::Post(SessionNotice notice) {
  if (m_detached.load()) return;
  {
    std::lock_guard guard(m_queueLock);
    m_queue.push_back(std::move(notice));
    if (DrainPostedLocked()) return;
  }
  PostDrain();
}

void WindowFrontend::PostMessage(const std::string& text) {
  {
    std::lock_guard guard(m_queueLock);
    m_messages.push_back(text);
    if (DrainPostedLocked()) return;
  }
  PostDrain();
}

bool WindowFrontend::DrainPostedLocked() {
  bool posted = m_drainPosted;
  m_drainPosted = true;
  return posted;
}

void WindowFrontend::PostDrain() {
  // The batch is handed over a moment later, so that a busy server makes a few large batches (and a few
  // repaints) a second rather than one per notice.
  QMetaObject::invokeMethod(
      this, [this] { QTimer::singleShot(kBatchDelayMs, this, &WindowFrontend::Drain); },
      Qt::QueuedConnection);
}

void WindowFrontend::Drain() {
  std::vector<SessionNotice> batch;
  std::vector<std::string> messages;
  {
    std::lock_guard guard(m_queueLock);
    batch.swap(m_queue);
    messages.swap(m_messages);
    m_drainPosted = false;
  }
  if (!batch.empty() && m_sink) m_sink(batch);
  for (const std::string& text : messages) {
    if (m_messageSink)
      m_messageSink(text);
    else
      m_modals.Message(m_parent, text);
  }
}

void WindowFrontend::MessageBox(const std::string& text) {
  if (m_detached.load()) {
    std::fprintf(stderr, "harbinex: %s\n", EscapeControlCharsKeepingLines(text).c_str());
    return;
  }
  if (QThread::currentThread() == thread()) {
    m_modals.Message(m_parent, text);
    return;
  }
  // A session goes on at once: a box that waited for the operator would hold its thread, and a peer that
  // makes a failure happen again and again would hold every thread of the servers.
  PostMessage(text);
}

}  // namespace hx
