#include "app/session_table.h"

#include <algorithm>

namespace hx {

std::deque<SessionRow>::iterator SessionTable::Position(int id) {
  return std::lower_bound(m_rows.begin(), m_rows.end(), id,
                          [](const SessionRow& row, int wanted) { return row.id > wanted; });
}

void SessionTable::InsertTop(int id) {
  SessionRow row;
  row.id = id;
  if (m_rows.empty() || m_rows.front().id < id)
    m_rows.push_front(std::move(row));
  else
    m_rows.insert(Position(id), std::move(row));
}

bool SessionTable::SetText(int id, int column, std::string text) {
  if (column < 0 || column >= kSessionColumns) return false;
  auto it = Position(id);
  if (it == m_rows.end() || it->id != id) return false;
  it->cells[static_cast<size_t>(column)] = std::move(text);
  return true;
}

const SessionRow* SessionTable::Find(int id) const {
  auto it = const_cast<SessionTable*>(this)->Position(id);
  return it == m_rows.end() || it->id != id ? nullptr : &*it;
}

}  // namespace hx
