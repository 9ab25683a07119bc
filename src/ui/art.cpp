#include "ui/art.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <memory>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitArtResource() {
  Q_INIT_RESOURCE(art);
}

namespace hx {
namespace {

// Draws an SVG file at whatever size the icon is asked for; the disabled look comes from the style.
class SvgIconEngine : public QIconEngine {
 public:
  explicit SvgIconEngine(QString file)
      : m_file(std::move(file)), m_renderer(std::make_shared<QSvgRenderer>(m_file)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap picture = scaledPixmap(rect.size() * ratio, mode, state, ratio);
    painter->drawPixmap(rect, picture);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  // `size` is in device pixels; `scale` is the ratio the pixmap is for.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
    QSize device = size;
    QImage image(device, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (m_renderer->isValid()) {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      m_renderer->render(&painter, QRectF(QPointF(0, 0), QSizeF(device)));
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    if (mode == QIcon::Disabled && qApp) {
      QStyleOption option;
      pixmap = qApp->style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
    }
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
  QIconEngine* clone() const override { return new SvgIconEngine(*this); }
  QString key() const override { return QStringLiteral("hx-svg"); }

 private:
  QString m_file;
  std::shared_ptr<QSvgRenderer> m_renderer;
};

QIcon SvgIcon(const char* name) {
  return QIcon(new SvgIconEngine(QStringLiteral(":/art/") + name));
}

}  // namespace

void InitUiResources() {
  InitArtResource();
}

QIcon ProgramIcon() {
  return SvgIcon("program.svg");
}

QIcon ToolbarIcon(ToolbarImage image) {
  switch (image) {
    case ToolbarImage::TftpOn:
      return SvgIcon("tftp_on.svg");
    case ToolbarImage::FtpOn:
      return SvgIcon("ftp_on.svg");
    case ToolbarImage::Config:
      return SvgIcon("config.svg");
    case ToolbarImage::Exit:
      return SvgIcon("exit.svg");
    case ToolbarImage::TftpOff:
      return SvgIcon("tftp_off.svg");
    case ToolbarImage::FtpOff:
      return SvgIcon("ftp_off.svg");
  }
  return {};
}

QPixmap SplashPicture(qreal devicePixelRatio) {
  QSvgRenderer renderer(QStringLiteral(":/art/splash.svg"));
  if (!renderer.isValid()) return {};
  QSize logical = renderer.defaultSize();
  QImage image(logical * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
  painter.end();
  QPixmap pixmap = QPixmap::fromImage(std::move(image));
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

}  // namespace hx
