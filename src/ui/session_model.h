#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/session_table.h"
#include "ui/rate_meter.h"
#include "ui/window_frontend.h"

class QPalette;

namespace hx {

// The columns of the list: the shown cells of a row with the requested file after Peer, and the progress the
// window works out from them after Bytes.
enum ListColumn : int {
  kListTime = 0,
  kListType,
  kListPeer,
  kListFile,
  kListBytes,
  kListProgress,
  kListCommand,
  kListStatus,
};
inline constexpr int kListColumns = 8;

// Roles beyond Qt's own: the value a column sorts by, and the share of a progress bar (0..1, or -1 for none).
inline constexpr int kSortRole = Qt::UserRole;
inline constexpr int kShareRole = Qt::UserRole + 1;

// What is moving at one moment: the sessions that transfer and their rates together.
struct Activity {
  int running = 0;
  double bytesPerSecond = 0;
};

// The session list as the view sees it: a copy of the core's session table, kept current by the notices of
// the window's front end. Rows are shown newest first, which is the order of their ids (the version row, id
// 0, stays at the bottom), so the copy is kept sorted by id and a row is found by binary search however
// long the list grows.
//
// Progress of a row: a transfer starts with the first Bytes count after the row's last transfer ended, and
// is measured until it ends: when its session says so (the outcome cell), when an FTP client's Status ends
// it, or when its worker is gone. A transfer that succeeded shows "100 %" and its average rate from start to
// end; one that failed shows the share it reached, without a rate.
class SessionModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit SessionModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Applies a batch of notices; `snapshot` reads the core's table, for the notice that rows were removed.
  void Apply(const std::vector<SessionNotice>& batch,
             const std::function<std::vector<SessionRow>()>& snapshot);
  // Makes the copy equal to the core's table: rows gone are removed, new rows inserted, cells refreshed.
  void SyncTo(const std::vector<SessionRow>& snapshot);

  // Samples the byte counts of the transferring sessions and refreshes their Progress cells; the window calls
  // it a few times a second. `running` tells whether a session's worker is still there (none: all are); a
  // transfer whose worker has gone has ended. Returns what is moving.
  Activity Measure(RateMeter::Clock::time_point now, const std::function<bool(int)>& running = {});
  // Whether any transfer is being measured (the window asks for the running workers only then).
  bool Measuring() const { return !m_running.empty(); }

  // The session id of a shown row; -1 when out of range.
  int SessionIdAt(int row) const;
  // The shown row of a session id; -1 when it has none.
  int RowOf(int id) const;
  // A cell of the core's row (SessionColumn) at a shown row.
  QString Cell(int row, int column) const;
  // The text of a list column (ListColumn) at a shown row, as the list shows it.
  QString Shown(int row, int column) const;
  bool Failed(int row) const;

  // The colour of a failed session's Status.
  void SetErrorColour(QColor colour) { m_errorColour = colour; }

 private:
  struct Progress {
    std::string text;
    double share = -1;
  };
  // Where a transfer started: when, and the count it started from.
  struct Start {
    RateMeter::Clock::time_point at;
    std::uint64_t bytes = 0;
  };

  // Index into m_rows of the id, or -1.
  int IndexOf(int id) const;
  int DisplayRow(int index) const { return static_cast<int>(m_rows.size()) - 1 - index; }
  // The share of a session's progress bar (0..1), or -1 for none.
  double ShareOf(int id) const;
  void Insert(int id);
  void Remove(int id);
  // Forgets what was measured of a session whose row has gone.
  void Forget(int id);
  // Follows a changed cell, changed at `at`: a Bytes count starts a transfer, an outcome (or an FTP client's
  // ending Status) ends it.
  void Track(const SessionRow& row, int column, RateMeter::Clock::time_point at);
  // The transfer of the row ended at `at`: its progress is frozen.
  void EndTransfer(const SessionRow& row, bool succeeded, RateMeter::Clock::time_point at);
  // Shows a row's progress; false when it was shown already.
  bool ShowProgress(int id, Progress progress);
  void ProgressChanged(int id);

  std::vector<SessionRow> m_rows;            // ascending by id; display order is the reverse
  std::unordered_set<int> m_running;         // sessions whose transfer is measured
  std::unordered_map<int, Start> m_started;  // the start of each session's last transfer
  std::unordered_map<int, Progress> m_progress;
  RateMeter m_meter;
  QColor m_errorColour{0xc0, 0x1c, 0x28};
};

// Headings of the list's columns.
QString SessionColumnHeading(int column);
// The core's cell shown in a list column; -1 for Progress, which is no cell.
int CellOfColumn(int column);
// The colour of failure texts, for the palette's background: a red that reads on light and dark alike.
QColor ErrorColour(const QPalette& palette);

}  // namespace hx
