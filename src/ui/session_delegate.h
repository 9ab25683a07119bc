#pragma once

#include <QStyledItemDelegate>

namespace hx {

// Paints the cells of the session list that are more than text: Progress as a bar with its share and rate
// when the total is known, and Bytes elided on the right, so that a narrow column keeps the leading digits
// and shows that more follow ("10,48…") instead of reading as a smaller number.
class SessionDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace hx
