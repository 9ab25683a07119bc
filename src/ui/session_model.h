#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <vector>

#include "app/session_table.h"
#include "ui/window_frontend.h"

namespace hx {

// The session list as the view sees it: a copy of the core's session table, kept current by the notices of
// the window's front end. Rows are shown newest first, which is the order of their ids (the version row, id
// 0, stays at the bottom), so the copy is kept sorted by id and a row is found by binary search however
// long the list grows.
class SessionModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit SessionModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Applies a batch of notices; `snapshot` reads the core's table, for the notice that rows were removed.
  void Apply(const std::vector<SessionNotice>& batch, const std::function<std::vector<SessionRow>()>& snapshot);
  // Makes the copy equal to the core's table: rows gone are removed, new rows inserted, cells refreshed.
  void SyncTo(const std::vector<SessionRow>& snapshot);

  // The session id of a shown row; -1 when out of range.
  int SessionIdAt(int row) const;
  QString Cell(int row, int column) const;

 private:
  // Index into m_rows of the id, or -1.
  int IndexOf(int id) const;
  int DisplayRow(int index) const { return static_cast<int>(m_rows.size()) - 1 - index; }
  void Insert(int id);

  std::vector<SessionRow> m_rows;  // ascending by id; display order is the reverse
};

// Headings and alignment of the six columns.
QString SessionColumnHeading(int column);

}  // namespace hx
