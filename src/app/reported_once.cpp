#include "app/reported_once.h"

namespace hx {

bool ReportedOnce::First(const std::string& key) {
  std::lock_guard lock(m_lock);
  if (m_keys.size() >= kLimit && !m_keys.contains(key)) m_keys.clear();
  return m_keys.insert(key).second;
}

}  // namespace hx
