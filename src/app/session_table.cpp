#include "app/session_table.h"

#include <algorithm>

namespace hx {

void SessionTable::InsertTop(int id) {
  SessionRow row;
  row.id = id;
  m_rows.insert(m_rows.begin(), std::move(row));
}

bool SessionTable::SetText(int id, int column, std::string text) {
  if (column < 0 || column >= kSessionColumns) return false;
  auto it = std::find_if(m_rows.begin(), m_rows.end(), [id](const SessionRow& r) { return r.id == id; });
  if (it == m_rows.end()) return false;
  it->cells[static_cast<size_t>(column)] = std::move(text);
  return true;
}

const SessionRow* SessionTable::Find(int id) const {
  auto it = std::find_if(m_rows.begin(), m_rows.end(), [id](const SessionRow& r) { return r.id == id; });
  return it == m_rows.end() ? nullptr : &*it;
}

}  // namespace hx
