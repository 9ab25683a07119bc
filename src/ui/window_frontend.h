#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/frontend.h"

namespace hx {

class Modals;

// One change of the session table, as the core reported it.
struct SessionNotice {
  enum class Kind { RowInserted, CellChanged, RowsRemoved, RowRemoved };
  Kind kind = Kind::CellChanged;
  int sessionId = 0;
  int column = 0;
  std::string text;
  // When a cell changed; unset (the epoch) for notices of other kinds.
  std::chrono::steady_clock::time_point at{};
};

// The window's side of the core. Any thread may report; notices are queued and handed to the GUI thread in
// batches (one queued call per batch), so a worker only ever takes a short lock and never waits for a
// repaint. A message box from any thread but the GUI thread is queued the same way, as a message for the
// window to show without a modal box: no session waits for the operator. On the GUI thread itself (a dialog's
// check, a switch of the log) the box is modal and returns when dismissed, as the window's own boxes do.
class WindowFrontend : public QObject, public Frontend {
  Q_OBJECT

 public:
  using NoticeSink = std::function<void(std::vector<SessionNotice>& batch)>;
  using MessageSink = std::function<void(const std::string& text)>;
  // How long notices gather before they go to the window as one batch.
  static constexpr int kBatchDelayMs = 20;

  explicit WindowFrontend(Modals& modals);

  void RowInserted(int sessionId) override;
  void CellChanged(int sessionId, int column, const std::string& text) override;
  void RowsRemoved() override;
  void RowRemoved(int sessionId) override;
  // Log entries are not shown: the window shows the log through its viewer, from the file.
  void MessageBox(const std::string& text) override;

  // Where batches go, on the GUI thread.
  void SetNoticeSink(NoticeSink sink) { m_sink = std::move(sink); }
  // Where the messages of other threads go, one call each and in order, on the GUI thread; without a sink
  // they are shown in modal boxes there.
  void SetMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
  // The owner of message boxes (the main window); may be unset.
  void SetDialogParent(QWidget* parent) { m_parent = parent; }
  // After shut-down no GUI thread serves calls any more: message boxes go to stderr, notices are dropped.
  void Detach() { m_detached.store(true); }

  // Hands the queued notices and messages to their sinks now (the queued call does the same later).
  void Drain();

 private:
  void Post(SessionNotice notice);
  void PostMessage(const std::string& text);
  // Asks for a Drain on the GUI thread unless one is asked for; the caller holds m_queueLock.
  bool DrainPostedLocked();
  void PostDrain();

  Modals& m_modals;
  QPointer<QWidget> m_parent;
  NoticeSink m_sink;
  MessageSink m_messageSink;
  std::atomic<bool> m_detached{false};
  std::mutex m_queueLock;
  std::vector<SessionNotice> m_queue;
  std::vector<std::string> m_messages;
  bool m_drainPosted = false;
};

}  // namespace hx
