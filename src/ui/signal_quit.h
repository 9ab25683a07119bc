#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace hx {

// Turns SIGINT and SIGTERM into a call on the GUI thread, so that a window ended by its desktop session or by
// kill ends like one closed by the operator: sessions stopped, files closed, exit code 0. The handler only
// writes a byte to a pipe; the notifier reads it on the GUI thread. One instance at a time.
class SignalQuit : public QObject {
  Q_OBJECT

 public:
  explicit SignalQuit(std::function<void()> onSignal);
  ~SignalQuit() override;

 private:
  static void Handler(int signal);

  std::function<void()> m_onSignal;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace hx
