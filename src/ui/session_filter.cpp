#include "ui/session_filter.h"

#include <QKeyEvent>

#include "ui/session_model.h"

namespace hx {

SessionFilter::SessionFilter(SessionModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), m_model(model) {
  setSourceModel(model);
  setSortRole(kSortRole);
  setDynamicSortFilter(true);
}

void SessionFilter::SetText(const QString& text) {
  if (text == m_text) return;
  m_text = text;
  invalidateRowsFilter();
}

bool SessionFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  if (m_text.isEmpty()) return true;
  for (int column = 0; column < kListColumns; ++column)
    if (m_model->Shown(sourceRow, column).contains(m_text, Qt::CaseInsensitive)) return true;
  return false;
}

bool SessionFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  // The descending order is the ascending one read backwards: the version row is the greatest of all in
  // ascending order and the least in descending order, so that it ends last either way.
  const bool leftVersion = m_model->SessionIdAt(left.row()) == 0;
  const bool rightVersion = m_model->SessionIdAt(right.row()) == 0;
  if (leftVersion || rightVersion) {
    if (leftVersion == rightVersion) return false;
    return (sortOrder() == Qt::DescendingOrder) == leftVersion;
  }
  return QSortFilterProxyModel::lessThan(left, right);
}

SessionFilterBox::SessionFilterBox(SessionFilter* filter, QWidget* parent) : QLineEdit(parent) {
  setPlaceholderText("Filter the list (Ctrl+F)");
  setClearButtonEnabled(true);
  setAccessibleName("Filter");
  connect(this, &QLineEdit::textChanged, filter, &SessionFilter::SetText);
}

void SessionFilterBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
    clear();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace hx
