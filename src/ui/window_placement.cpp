#include "ui/window_placement.h"

#include <QStyle>

namespace hx {

QRect FirstStartGeometry(const QRect& available) {
  QSize size(qRound(available.width() * kFirstStartShare), qRound(available.height() * kFirstStartShare));
  return QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available);
}

}  // namespace hx
