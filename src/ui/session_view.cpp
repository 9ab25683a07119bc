#include "ui/session_view.h"

#include <QHeaderView>
#include <QPainter>

namespace hx {

SessionView::SessionView(QWidget* parent) : QTableView(parent) {
  setShowGrid(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(8);
}

void SessionView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  QPainter painter(viewport());
  painter.setPen(QPen(palette().color(QPalette::Mid), 0));
  const int width = viewport()->width();
  const int height = viewport()->height();
  if (model()) {
    for (int column = 0; column < model()->columnCount(); ++column) {
      if (isColumnHidden(column)) continue;
      int edge = columnViewportPosition(column) + columnWidth(column) - 1;
      if (edge >= width) break;
      if (edge >= 0) painter.drawLine(edge, 0, edge, height);
    }
    if (model()->rowCount() > 0) {
      const int rowHeight = this->rowHeight(0);
      for (int k = 1; rowHeight > 0 && k <= height / rowHeight; ++k)
        painter.drawLine(0, k * rowHeight - 1, width, k * rowHeight - 1);
    }
  }
}

}  // namespace hx
