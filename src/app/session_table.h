#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace hx {

// Columns of a session row.
enum SessionColumn : int {
  kColStartTime = 0,
  kColType = 1,
  kColPeer = 2,
  kColBytes = 3,
  kColCommand = 4,
  kColStatus = 5,
  // Not shown as a column: the size the transfer is known to reach, in bytes, for the share of Bytes that
  // has gone over; empty while unknown.
  kColTotal = 6,
  // Not shown as cells of their own: the file name the peer or the user asked for (the list's File column),
  // and the full local path of the file served or received ("Open containing folder"); empty while unknown.
  kColFile = 7,
  kColPath = 8,
  // Not shown: how the row's last file transfer ended, kOutcomeSucceeded or kOutcomeFailed; empty while one
  // runs or none has. A transfer's end is not always its session's (an FTP connection goes on, a TFTP
  // receiver dallies) nor its last reply's (an early 226), so the session says so itself.
  kColOutcome = 9,
};
inline constexpr int kSessionColumns = 10;
inline constexpr int kShownColumns = 6;
inline constexpr const char* kOutcomeSucceeded = "ok";
inline constexpr const char* kOutcomeFailed = "failed";

struct SessionRow {
  int id = 0;  // 0 is the version row
  std::array<std::string, kSessionColumns> cells;
};

// The rows of the session list, newest first. Not synchronised: the worker registry owns it and guards it
// with its lock. Ids only grow, so the rows stay ordered by id and a row is found by halving, however many
// sessions a busy server has.
class SessionTable {
 public:
  // A new row, at the top for an id above every other (as ids are handed out), else where its id belongs.
  void InsertTop(int id);
  // Returns false when no row has the id.
  bool SetText(int id, int column, std::string text);
  const SessionRow* Find(int id) const;
  // Removes every row for which `keep` is false; returns how many went.
  template <class Keep>
  size_t RemoveUnless(Keep keep) {
    size_t before = m_rows.size();
    std::erase_if(m_rows, [&](const SessionRow& r) { return !keep(r.id); });
    return before - m_rows.size();
  }
  // Removes up to `count` rows, oldest first, that are neither the version row nor `live`; returns their ids.
  template <class Live>
  std::vector<int> RemoveOldest(size_t count, Live live) {
    std::vector<int> removed;
    for (size_t i = m_rows.size(); i-- > 0 && removed.size() < count;) {
      int id = m_rows[i].id;
      if (id == 0 || live(id)) continue;
      removed.push_back(id);
      // Near the back of the deque: only the older rows kept behind it move.
      m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return removed;
  }
  std::vector<SessionRow> Rows() const { return {m_rows.begin(), m_rows.end()}; }
  bool Empty() const { return m_rows.empty(); }
  size_t Size() const { return m_rows.size(); }

 private:
  std::deque<SessionRow>::iterator Position(int id);

  std::deque<SessionRow> m_rows;  // index 0 is the top row; ids descend
};

}  // namespace hx
