#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/frontend.h"

namespace hx {

class Modals;

// One change of the session table, as the core reported it.
struct SessionNotice {
  enum class Kind { RowInserted, CellChanged, RowsRemoved };
  Kind kind = Kind::CellChanged;
  int sessionId = 0;
  int column = 0;
  std::string text;
};

// The window's side of the core. Any thread may report; notices are queued and handed to the GUI thread in
// batches (one queued call per batch), so a worker only ever takes a short lock and never waits for a repaint.
// A message box is the one call that blocks its caller: a worker waits until the box has been dismissed,
// while the GUI thread goes on serving everyone else.
class WindowFrontend : public QObject, public Frontend {
  Q_OBJECT

 public:
  using NoticeSink = std::function<void(std::vector<SessionNotice>& batch)>;
  // How long notices gather before they go to the window as one batch.
  static constexpr int kBatchDelayMs = 20;

  explicit WindowFrontend(Modals& modals);

  void RowInserted(int sessionId) override;
  void CellChanged(int sessionId, int column, const std::string& text) override;
  void RowsRemoved() override;
  // Log entries are not shown: the window shows the log through its viewer, from the file.
  void MessageBox(const std::string& text) override;

  // Where batches go, on the GUI thread.
  void SetNoticeSink(NoticeSink sink) { m_sink = std::move(sink); }
  // The owner of message boxes (the main window); may be unset.
  void SetDialogParent(QWidget* parent) { m_parent = parent; }
  // After shut-down no GUI thread serves calls any more: message boxes go to stderr, notices are dropped.
  void Detach() { m_detached.store(true); }

  // Hands the queued notices to the sink now (the queued call does the same later).
  void Drain();

 private:
  void Post(SessionNotice notice);

  Modals& m_modals;
  QPointer<QWidget> m_parent;
  NoticeSink m_sink;
  std::atomic<bool> m_detached{false};
  std::mutex m_queueLock;
  std::vector<SessionNotice> m_queue;
  bool m_drainPosted = false;
};

}  // namespace hx
