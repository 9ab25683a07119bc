#include "ui/splash_panel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/art.h"

namespace hx {

SplashPanel::SplashPanel(QPixmap picture, int displayMs, QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(std::move(picture)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFocusPolicy(Qt::StrongFocus);
  m_timer.setSingleShot(true);
  m_timer.setInterval(displayMs);
  connect(&m_timer, &QTimer::timeout, this, &SplashPanel::End);
  if (!m_picture.isNull()) setFixedSize(m_picture.deviceIndependentSize().toSize());
}

bool SplashPanel::Open() {
  if (m_picture.isNull()) {
    deleteLater();
    return false;
  }
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (screen) move(screen->geometry().center() - rect().center());
  show();
  raise();
  activateWindow();
  m_timer.start();
  return true;
}

void SplashPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_picture);
}

void SplashPanel::keyPressEvent(QKeyEvent*) {
  End();
}

void SplashPanel::mousePressEvent(QMouseEvent*) {
  End();
}

void SplashPanel::End() {
  if (m_ended) return;
  m_ended = true;
  m_timer.stop();
  close();
}

SplashPanel* ShowSplash(QWidget* owner) {
  qreal ratio = owner ? owner->devicePixelRatioF() : qGuiApp->devicePixelRatio();
  auto* panel = new SplashPanel(SplashPicture(ratio), SplashPanel::kDisplayMs, owner);
  return panel->Open() ? panel : nullptr;
}

}  // namespace hx
