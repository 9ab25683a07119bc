#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace hx {

// The icon of the program in the system tray, with its menu. It exists only when the desktop has a tray;
// otherwise every operation is a no-op and the window says why where it matters. Hiding and showing are
// idempotent.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  TrayIcon();
  ~TrayIcon() override;

  // Creates the icon, visible from now on, when `trayAvailable`; returns whether it was created.
  bool Install(QWidget* owner, const QString& tip, const QIcon& icon, QMenu* menu, bool trayAvailable);
  // Takes the icon out of the tray (the window is shown instead).
  void RemoveFromTray();
  // Puts the icon back into the tray (the window is hidden).
  void AddToTray();
  // Removes the icon for good.
  void DropIcon();

  bool Available() const { return m_bTrayAvailable; }
  bool IconRemoved() const { return m_bIconRemoved; }
  bool Visible() const;

 signals:
  // The icon was double-clicked: the window opens its About box.
  void DoubleClicked();

 private:
  bool m_bTrayAvailable = false;
  bool m_bIconRemoved = false;
  QSystemTrayIcon* m_icon = nullptr;
};

}  // namespace hx
