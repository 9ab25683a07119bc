#pragma once

#include <QTableView>

namespace hx {

// The session list: a report view with fixed row heights (so a long list costs nothing to lay out) and a
// ruled grid: a line at the right edge of each column down to the bottom of the view, and a line below each
// row position that fits in the view, rows or no rows, like a sheet of ruled paper. The lines below the rows
// move with the rows when the list scrolls. The last column reaches to the window's edge; a header click
// sorts by its column, a third click returns to newest first.
class SessionView : public QTableView {
  Q_OBJECT

 public:
  explicit SessionView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace hx
