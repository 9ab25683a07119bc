#pragma once

#include <QLineEdit>
#include <QSortFilterProxyModel>

namespace hx {

class SessionModel;

// The session list as the view shows it: the rows that hold the filter text in any column (case does not
// matter), sorted by the clicked header, with the version row last in either order. A changed cell
// re-filters and re-sorts its own row only, so a thousand rows with two hundred transfers running cost no
// more than the rows that move.
class SessionFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit SessionFilter(SessionModel* model, QObject* parent = nullptr);

  // Shows only the rows that hold `text`; an empty text shows every row.
  void SetText(const QString& text);
  const QString& Text() const { return m_text; }

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  SessionModel* m_model;
  QString m_text;
};

// The box above the session list: what is typed filters the list at once; Escape empties it.
class SessionFilterBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit SessionFilterBox(SessionFilter* filter, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace hx
