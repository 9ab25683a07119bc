#include "ui/session_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "ui/session_model.h"

namespace hx {

void SessionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  // The leading digits say how big a count is: a narrow column cuts the last ones ("10,48…").
  if (index.column() == kListBytes) option->textElideMode = Qt::ElideRight;
}

void SessionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  double share = index.column() == kListProgress ? index.data(kShareRole).toDouble() : -1;
  if (share < 0) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // The row's selection shows beneath the bar.
  QStyleOptionViewItem background = option;
  initStyleOption(&background, index);
  background.text.clear();
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

  QStyleOptionProgressBar bar;
  bar.rect = option.rect.adjusted(1, 1, -2, -2);
  bar.state = option.state | QStyle::State_Horizontal;
  bar.direction = option.direction;
  bar.fontMetrics = option.fontMetrics;
  bar.palette = option.palette;
  bar.minimum = 0;
  bar.maximum = 1000;
  bar.progress = static_cast<int>(share * 1000 + 0.5);
  bar.text =
      option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, bar.rect.width());
  bar.textVisible = true;
  bar.textAlignment = Qt::AlignCenter;
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

}  // namespace hx
