#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QModelIndex;

namespace hx {

class SessionView;
class WorkerRegistry;
enum class SessionAction;

// What the operator does to the rows of the session list: a context menu on the rows, the Delete key and
// Ctrl+C. "Cancel transfer" and "Disconnect" go to the sessions through the worker registry, which posts
// them to each session's strand and returns at once: the window never waits for a session. The sessions
// answer their peers and log the action themselves; the window logs what it does with a row itself (a copy,
// an opened folder), a line per row. Every item is enabled only where it applies to the selected rows.
class SessionActions : public QObject {
  Q_OBJECT

 public:
  // `openUrl` opens a folder's address with the desktop's opener (the window's option; tests catch it);
  // `log` writes a transfer-log line of a source (cfg::kSourceTftp, cfg::kSourceFtp).
  SessionActions(SessionView& list, WorkerRegistry& registry, std::function<bool(const std::string&)> openUrl,
                 std::function<void(int source, const std::string& line)> log, QObject* parent = nullptr);

  // Brings the items up to date for the selected rows and shows the menu at `position` of the list.
  void ShowMenu(const QPoint& position);
  QMenu* Menu() const { return m_menu; }
  // Enables the items that apply to the selected rows.
  void UpdateItems();

  void CancelTransfer();
  void Disconnect();
  // Delete: cancels a running transfer, and disconnects an FTP connection that has none.
  void DeleteKey();
  // The selected rows as the list shows them, a line each, the cells tab-separated.
  void Copy();
  // The peer addresses of the selected rows, a line each.
  void CopyAddress();
  // Opens the folder of the file the selected row served or received.
  void OpenContainingFolder();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Selected {
    int sessionId;
    int viewRow;
    QString type;
    QString peer;
    QString path;
  };
  // The selected rows, in the order the list shows them.
  std::vector<Selected> SelectedRows() const;
  // Sends `action` to every selected session that offers it now (kOffers... `mask`).
  void ActOnSelected(SessionAction action, unsigned mask);
  // Logs "<service>: <what> <row's peer or path> <done> by the operator" in the row's service's log.
  void LogDone(const Selected& row, const std::string& what) const;

  SessionView& m_list;
  WorkerRegistry& m_registry;
  std::function<bool(const std::string&)> m_openUrl;
  std::function<void(int, const std::string&)> m_log;
  QMenu* m_menu;
  QAction* m_cancel;
  QAction* m_disconnect;
  QAction* m_copy;
  QAction* m_copyAddress;
  QAction* m_openFolder;
};

}  // namespace hx
