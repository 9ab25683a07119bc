#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace hx {

// The splash window: the splash picture, centred on the screen above everything, for three seconds or until a
// key or a mouse button reaches it. It deletes itself when it ends and never comes back.
class SplashPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDisplayMs = 3000;

  SplashPanel(QPixmap picture, int displayMs, QWidget* owner = nullptr);

  // Shows the splash and starts its timer; false (and nothing shown) without a picture.
  bool Open();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void End();

  QPixmap m_picture;
  QTimer m_timer;
  bool m_ended = false;
};

// Opens the program's splash over `owner`; returns the panel, or nullptr when the picture cannot be drawn.
SplashPanel* ShowSplash(QWidget* owner);

}  // namespace hx
