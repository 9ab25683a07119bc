#include "ui/session_model.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <utility>

namespace hx {

QString SessionColumnHeading(int column) {
  static const char* const kHeadings[kShownColumns] = {"Start Time", "Type",    "Peer",
                                                       "Bytes",      "Command", "Status"};
  return column >= 0 && column < kShownColumns ? kHeadings[column] : QString();
}

SessionModel::SessionModel(QObject* parent) : QAbstractTableModel(parent) {}

int SessionModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SessionModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kShownColumns;
}

QVariant SessionModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kShownColumns) return {};
  if (role == Qt::DisplayRole) return Cell(index.row(), index.column());
  if (role == Qt::TextAlignmentRole) {
    Qt::Alignment horizontal = index.column() == kColBytes ? Qt::AlignRight : Qt::AlignLeft;
    return QVariant::fromValue(horizontal | Qt::AlignVCenter);
  }
  return {};
}

QVariant SessionModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return SessionColumnHeading(section);
  if (role == Qt::TextAlignmentRole) {
    Qt::Alignment horizontal = section == kColBytes ? Qt::AlignRight : Qt::AlignLeft;
    return QVariant::fromValue(horizontal | Qt::AlignVCenter);
  }
  return {};
}

int SessionModel::IndexOf(int id) const {
  auto it = std::lower_bound(m_rows.begin(), m_rows.end(), id,
                             [](const SessionRow& row, int value) { return row.id < value; });
  return it != m_rows.end() && it->id == id ? static_cast<int>(it - m_rows.begin()) : -1;
}

int SessionModel::SessionIdAt(int row) const {
  int index = DisplayRow(row);
  return row >= 0 && index >= 0 ? m_rows[static_cast<size_t>(index)].id : -1;
}

QString SessionModel::Cell(int row, int column) const {
  int index = DisplayRow(row);
  if (row < 0 || index < 0 || column < 0 || column >= kSessionColumns) return {};
  return QString::fromStdString(m_rows[static_cast<size_t>(index)].cells[static_cast<size_t>(column)]);
}

void SessionModel::Insert(int id) {
  // Creators on different threads may report their rows out of order; the row goes where its id belongs.
  auto it = std::lower_bound(m_rows.begin(), m_rows.end(), id,
                             [](const SessionRow& row, int value) { return row.id < value; });
  if (it != m_rows.end() && it->id == id) return;
  int index = static_cast<int>(it - m_rows.begin());
  int displayRow = static_cast<int>(m_rows.size()) - index;
  beginInsertRows({}, displayRow, displayRow);
  SessionRow row;
  row.id = id;
  m_rows.insert(m_rows.begin() + index, std::move(row));
  endInsertRows();
}

void SessionModel::Apply(const std::vector<SessionNotice>& batch,
                         const std::function<std::vector<SessionRow>()>& snapshot) {
  // Cell changes are collected and announced once per cell, each on its own: a view repaints only the cells
  // it shows, so a burst of progress updates of rows out of sight costs nothing.
  std::set<std::pair<int, int>> changed;  // (id, column)
  auto flush = [&] {
    for (auto [id, column] : changed) {
      int index = IndexOf(id);
      if (index < 0) continue;
      QModelIndex cell = this->index(DisplayRow(index), column);
      emit dataChanged(cell, cell, {Qt::DisplayRole});
    }
    changed.clear();
  };
  for (const SessionNotice& notice : batch) {
    switch (notice.kind) {
      case SessionNotice::Kind::RowInserted:
        flush();
        Insert(notice.sessionId);
        break;
      case SessionNotice::Kind::CellChanged: {
        int index = IndexOf(notice.sessionId);
        if (index < 0 || notice.column < 0 || notice.column >= kSessionColumns) break;  // cleared meanwhile
        m_rows[static_cast<size_t>(index)].cells[static_cast<size_t>(notice.column)] = notice.text;
        // The total is kept for the Bytes column's share, not shown as a cell of its own.
        changed.emplace(notice.sessionId, notice.column < kShownColumns ? notice.column : int{kColBytes});
        break;
      }
      case SessionNotice::Kind::RowsRemoved:
        flush();
        SyncTo(snapshot());
        break;
    }
  }
  flush();
}

void SessionModel::SyncTo(const std::vector<SessionRow>& snapshot) {
  std::unordered_set<int> live;
  for (const SessionRow& row : snapshot) live.insert(row.id);
  // Remove from the top of the display down, in runs, so each run is one removal.
  for (int index = static_cast<int>(m_rows.size()) - 1; index >= 0;) {
    if (live.count(m_rows[static_cast<size_t>(index)].id)) {
      --index;
      continue;
    }
    int last = index;
    while (index >= 0 && !live.count(m_rows[static_cast<size_t>(index)].id)) --index;
    int first = index + 1;
    beginRemoveRows({}, DisplayRow(last), DisplayRow(first));
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    endRemoveRows();
  }
  for (const SessionRow& row : snapshot) {
    Insert(row.id);
    int index = IndexOf(row.id);
    if (m_rows[static_cast<size_t>(index)].cells != row.cells) {
      m_rows[static_cast<size_t>(index)].cells = row.cells;
      int display = DisplayRow(index);
      emit dataChanged(this->index(display, 0), this->index(display, kShownColumns - 1), {Qt::DisplayRole});
    }
  }
}

}  // namespace hx
