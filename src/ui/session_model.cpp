#include "ui/session_model.h"

#include <QBrush>
#include <QPalette>
#include <algorithm>
#include <set>
#include <utility>

#include "ui/session_status.h"

namespace hx {

QString SessionColumnHeading(int column) {
  static const char* const kHeadings[kListColumns] = {"Start Time", "Type",     "Peer",    "File",
                                                      "Bytes",      "Progress", "Command", "Status"};
  return column >= 0 && column < kListColumns ? kHeadings[column] : QString();
}

int CellOfColumn(int column) {
  static const int kCells[kListColumns] = {kColStartTime, kColType, kColPeer,    kColFile,
                                           kColBytes,     -1,       kColCommand, kColStatus};
  return column >= 0 && column < kListColumns ? kCells[column] : -1;
}

QColor ErrorColour(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < 128 ? QColor(0xff, 0x7b, 0x72)
                                                         : QColor(0xc0, 0x1c, 0x28);
}

namespace {

// The list column that shows a cell; -1 for the cells no column shows (the total shows in Progress when
// the window next measures).
int ColumnOfCell(int cell) {
  if (cell == kColPath) return kListFile;  // its tooltip
  for (int column = 0; column < kListColumns; ++column)
    if (CellOfColumn(column) == cell) return column;
  return -1;
}

bool IsFtpClientRow(const SessionRow& row) {
  return row.cells[kColType] == "Ftp Client" || row.cells[kColType] == "Ftps Cli";
}

// A TFTP session ends with its transfer, so a failed transfer is a failed session.
bool IsTftpRow(const SessionRow& row) {
  return row.cells[kColType].starts_with("Tftp");
}

}  // namespace

SessionModel::SessionModel(QObject* parent) : QAbstractTableModel(parent) {}

int SessionModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SessionModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kListColumns;
}

QVariant SessionModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kListColumns) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      // The File column shows the name asked for; its tip, the file it is on this machine.
      if (role == Qt::ToolTipRole && column == kListFile && !Cell(index.row(), kColPath).isEmpty())
        return Cell(index.row(), kColPath);
      QString text = Shown(index.row(), column);
      if (role == Qt::ToolTipRole && text.isEmpty()) return {};
      return text;
    }
    case Qt::TextAlignmentRole: {
      Qt::Alignment horizontal = column == kListBytes ? Qt::AlignRight : Qt::AlignLeft;
      return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    case Qt::ForegroundRole:
      if (column == kListStatus && Failed(index.row())) return QBrush(m_errorColour);
      return {};
    case kShareRole:
      return ShareOf(SessionIdAt(index.row()));
    case kSortRole: {
      const SessionRow& row = m_rows[static_cast<size_t>(DisplayRow(index.row()))];
      if (column == kListTime) return row.id;  // the order the sessions started in
      if (column == kListBytes)
        return QVariant::fromValue<qulonglong>(ParseCount(row.cells[kColBytes]).value_or(0));
      if (column == kListProgress) return ShareOf(row.id);
      return Shown(index.row(), column);
    }
    default:
      return {};
  }
}

QVariant SessionModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return SessionColumnHeading(section);
  if (role == Qt::TextAlignmentRole) {
    Qt::Alignment horizontal = section == kListBytes ? Qt::AlignRight : Qt::AlignLeft;
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

double SessionModel::ShareOf(int id) const {
  auto it = m_progress.find(id);
  return it == m_progress.end() ? -1.0 : it->second.share;
}

int SessionModel::RowOf(int id) const {
  int index = IndexOf(id);
  return index < 0 ? -1 : DisplayRow(index);
}

QString SessionModel::Cell(int row, int column) const {
  int index = DisplayRow(row);
  if (row < 0 || index < 0 || column < 0 || column >= kSessionColumns) return {};
  return QString::fromStdString(m_rows[static_cast<size_t>(index)].cells[static_cast<size_t>(column)]);
}

QString SessionModel::Shown(int row, int column) const {
  int index = DisplayRow(row);
  if (row < 0 || index < 0) return {};
  const SessionRow& session = m_rows[static_cast<size_t>(index)];
  if (column == kListProgress) {
    auto it = m_progress.find(session.id);
    return it == m_progress.end() ? QString() : QString::fromStdString(it->second.text);
  }
  if (column == kListBytes) return QString::fromStdString(GroupThousands(session.cells[kColBytes]));
  int cell = CellOfColumn(column);
  return cell < 0 ? QString() : QString::fromStdString(session.cells[static_cast<size_t>(cell)]);
}

bool SessionModel::Failed(int row) const {
  int index = DisplayRow(row);
  if (row < 0 || index < 0) return false;
  const SessionRow& session = m_rows[static_cast<size_t>(index)];
  if (session.id == 0) return false;
  return IsFailureStatus(session.cells[kColType], session.cells[kColStatus], session.cells[kColCommand]) ||
         (IsTftpRow(session) && session.cells[kColOutcome] == kOutcomeFailed);
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

void SessionModel::Remove(int id) {
  int index = IndexOf(id);
  if (index < 0) return;
  int displayRow = DisplayRow(index);
  beginRemoveRows({}, displayRow, displayRow);
  Forget(id);
  m_rows.erase(m_rows.begin() + index);
  endRemoveRows();
}

void SessionModel::Forget(int id) {
  m_running.erase(id);
  m_started.erase(id);
  m_progress.erase(id);
  m_meter.Forget(id);
}

void SessionModel::Track(const SessionRow& row, int column, RateMeter::Clock::time_point at) {
  if (row.id == 0) return;  // the version row
  const bool ended = !row.cells[kColOutcome].empty();
  if (column == kColBytes && !ended && !m_running.count(row.id)) {
    m_running.insert(row.id);
    m_started[row.id] = {at, ParseCount(row.cells[kColBytes]).value_or(0)};
    m_meter.Forget(row.id);
  } else if (column == kColOutcome && ended) {
    EndTransfer(row, row.cells[kColOutcome] == kOutcomeSucceeded, at);
  } else if (column == kColStatus && m_running.count(row.id) && IsFtpClientRow(row) &&
             IsEndStatus(row.cells[kColType], row.cells[kColStatus])) {
    // The FTP client's transfer is its session, which its first closing reply (or a failure) ends.
    EndTransfer(row, !IsFailureStatus(row.cells[kColType], row.cells[kColStatus]), at);
  }
}

void SessionModel::EndTransfer(const SessionRow& row, bool succeeded, RateMeter::Clock::time_point at) {
  m_running.erase(row.id);
  m_meter.Forget(row.id);
  std::uint64_t bytes = ParseCount(row.cells[kColBytes]).value_or(0);
  Progress progress;
  if (succeeded) {
    progress.text = "100 %";
    progress.share = 1.0;
    auto start = m_started.find(row.id);
    if (start != m_started.end() && at > start->second.at && bytes >= start->second.bytes) {
      double seconds = std::chrono::duration<double>(at - start->second.at).count();
      progress.text += " \u00b7 " + FormatRate(static_cast<double>(bytes - start->second.bytes) / seconds);
    }
  } else if (auto total = ParseCount(row.cells[kColTotal]); total && *total > 0) {
    // Where it stopped, and no rate: nothing moves any more.
    std::uint64_t done = std::min(bytes, *total);
    progress.text = std::to_string(done * 100 / *total) + " %";
    progress.share = static_cast<double>(done) / static_cast<double>(*total);
  }
  if (ShowProgress(row.id, std::move(progress))) ProgressChanged(row.id);
}

bool SessionModel::ShowProgress(int id, Progress progress) {
  auto shown = m_progress.find(id);
  if (progress.text.empty() && progress.share < 0) {
    if (shown == m_progress.end()) return false;
    m_progress.erase(shown);
    return true;
  }
  if (shown != m_progress.end() && shown->second.text == progress.text &&
      shown->second.share == progress.share)
    return false;
  m_progress[id] = std::move(progress);
  return true;
}

void SessionModel::ProgressChanged(int id) {
  int index = IndexOf(id);
  if (index < 0) return;
  QModelIndex cell = this->index(DisplayRow(index), kListProgress);
  emit dataChanged(cell, cell, {Qt::DisplayRole, kSortRole});
}

void SessionModel::Apply(const std::vector<SessionNotice>& batch,
                         const std::function<std::vector<SessionRow>()>& snapshot) {
  // Cell changes are collected and announced once per cell, each on its own: a view repaints only the cells
  // it shows, so a burst of progress updates of rows out of sight costs nothing.
  std::set<std::pair<int, int>> changed;  // (id, list column)
  auto flush = [&] {
    for (auto [id, column] : changed) {
      int index = IndexOf(id);
      if (index < 0) continue;
      QModelIndex cell = this->index(DisplayRow(index), column);
      emit dataChanged(cell, cell, {Qt::DisplayRole, kSortRole});
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
        SessionRow& row = m_rows[static_cast<size_t>(index)];
        row.cells[static_cast<size_t>(notice.column)] = notice.text;
        Track(row, notice.column,
              notice.at == RateMeter::Clock::time_point{} ? RateMeter::Clock::now() : notice.at);
        if (int column = ColumnOfCell(notice.column); column >= 0) changed.emplace(notice.sessionId, column);
        break;
      }
      case SessionNotice::Kind::RowRemoved:
        flush();
        Remove(notice.sessionId);
        break;
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
    for (int gone = first; gone <= last; ++gone) Forget(m_rows[static_cast<size_t>(gone)].id);
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    endRemoveRows();
  }
  const auto now = RateMeter::Clock::now();
  for (const SessionRow& row : snapshot) {
    Insert(row.id);
    int index = IndexOf(row.id);
    SessionRow& mine = m_rows[static_cast<size_t>(index)];
    if (mine.cells != row.cells) {
      auto before = std::exchange(mine.cells, row.cells);
      // In the order the sessions write them: the count before the end.
      for (size_t cell : {kColBytes, kColOutcome, kColStatus})
        if (before[cell] != mine.cells[cell]) Track(mine, static_cast<int>(cell), now);
      int display = DisplayRow(index);
      emit dataChanged(this->index(display, 0), this->index(display, kListColumns - 1),
                       {Qt::DisplayRole, kSortRole});
    }
  }
}

Activity SessionModel::Measure(RateMeter::Clock::time_point now, const std::function<bool(int)>& running) {
  Activity activity;
  std::vector<int> gone;
  for (int id : m_running) {
    int index = IndexOf(id);
    if (index < 0 || (running && !running(id))) {
      gone.push_back(id);
      continue;
    }
    const SessionRow& row = m_rows[static_cast<size_t>(index)];
    std::uint64_t bytes = ParseCount(row.cells[kColBytes]).value_or(0);
    double rate = m_meter.Sample(id, bytes, now);
    Progress progress;
    std::optional<int> percent;
    if (auto total = ParseCount(row.cells[kColTotal]); total && *total > 0) {
      std::uint64_t done = std::min(bytes, *total);
      percent = static_cast<int>(done * 100 / *total);
      progress.share = static_cast<double>(done) / static_cast<double>(*total);
    }
    progress.text = FormatProgress(percent, rate);
    ++activity.running;
    activity.bytesPerSecond += rate;
    if (ShowProgress(id, std::move(progress))) ProgressChanged(id);
  }
  // A worker that went without saying how its transfer ended: it did not end well.
  for (int id : gone) {
    int index = IndexOf(id);
    if (index >= 0)
      EndTransfer(m_rows[static_cast<size_t>(index)], false, now);
    else
      Forget(id);
  }
  return activity;
}

}  // namespace hx
