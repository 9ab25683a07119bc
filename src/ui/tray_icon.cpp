#include "ui/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace hx {

TrayIcon::TrayIcon() = default;

TrayIcon::~TrayIcon() {
  DropIcon();
}

bool TrayIcon::Install(QWidget* owner, const QString& tip, const QIcon& icon, QMenu* menu,
                       bool trayAvailable) {
  if (!trayAvailable || !owner || m_icon) return m_bTrayAvailable;
  m_icon = new QSystemTrayIcon(icon, this);
  m_icon->setToolTip(tip);
  m_icon->setContextMenu(menu);
  connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) emit DoubleClicked();
  });
  m_icon->show();
  m_bTrayAvailable = true;
  m_bIconRemoved = false;
  return true;
}

void TrayIcon::RemoveFromTray() {
  if (!m_bTrayAvailable || m_bIconRemoved) return;
  m_icon->hide();
  m_bIconRemoved = true;
}

void TrayIcon::AddToTray() {
  if (!m_bTrayAvailable || !m_bIconRemoved) return;
  m_icon->show();
  m_bIconRemoved = false;
}

void TrayIcon::DropIcon() {
  if (!m_bTrayAvailable) return;
  m_icon->hide();
  delete m_icon;
  m_icon = nullptr;
  m_bTrayAvailable = false;
}

bool TrayIcon::Visible() const {
  return m_bTrayAvailable && !m_bIconRemoved;
}

}  // namespace hx
