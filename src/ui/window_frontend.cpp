#include "ui/window_frontend.h"

#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/session_loops.h"
#include "app/shown_text.h"
#include "ui/modals.h"

namespace hx {

WindowFrontend::WindowFrontend(Modals& modals) : m_modals(modals) {}

void WindowFrontend::RowInserted(int sessionId) {
  Post({SessionNotice::Kind::RowInserted, sessionId, 0, {}});
}

void WindowFrontend::CellChanged(int sessionId, int column, const std::string& text) {
  Post({SessionNotice::Kind::CellChanged, sessionId, column, text});
}

void WindowFrontend::RowsRemoved() { Post({SessionNotice::Kind::RowsRemoved, 0, 0, {}}); }

void WindowFrontend::Post(SessionNotice notice) {
  if (m_detached.load()) return;
  {
    std::lock_guard guard(m_queueLock);
    m_queue.push_back(std::move(notice));
    if (m_drainPosted) return;
    m_drainPosted = true;
  }
  // The batch is handed over a moment later, so that a busy server makes a few large batches (and a few
  // repaints) a second rather than one per notice.
  QMetaObject::invokeMethod(
      this, [this] { QTimer::singleShot(kBatchDelayMs, this, &WindowFrontend::Drain); }, Qt::QueuedConnection);
}

void WindowFrontend::Drain() {
  std::vector<SessionNotice> batch;
  {
    std::lock_guard guard(m_queueLock);
    batch.swap(m_queue);
    m_drainPosted = false;
  }
  if (!batch.empty() && m_sink) m_sink(batch);
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
  // The GUI thread never waits for a thread that can be in here (it runs such calls beside its own event
  // loop, see RunBesideGui), so this cannot deadlock. A session loop thread is replaced meanwhile.
  BlockingRegion waitForOperator;
  QMetaObject::invokeMethod(
      this, [this, &text] { m_modals.Message(m_parent, text); }, Qt::BlockingQueuedConnection);
}

}  // namespace hx
