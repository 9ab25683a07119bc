#include "ui/session_view.h"

#include <QHeaderView>
#include <QPainter>

#include "ui/session_delegate.h"

namespace hx {

SessionView::SessionView(QWidget* parent) : QTableView(parent) {
  setShowGrid(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setItemDelegate(new SessionDelegate(this));
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(8);
  // No column is sorted at first: the rows stay newest first until a header is clicked.
  horizontalHeader()->setSortIndicatorClearable(true);
  horizontalHeader()->setSortIndicator(-1, Qt::DescendingOrder);
  setSortingEnabled(true);
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
      // Row k starts at k * rowHeight - verticalOffset() (all rows have one height), also past the last row.
      const int rowHeight = this->rowHeight(0);
      const int offset = verticalOffset();
      for (int k = rowHeight > 0 ? offset / rowHeight + 1 : 0; rowHeight > 0; ++k) {
        int y = k * rowHeight - offset - 1;
        if (y >= height) break;
        if (y >= 0) painter.drawLine(0, y, width, y);
      }
    }
  }
}

}  // namespace hx
