#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>

namespace hx {

// The keys of faults already reported, so that a fault that every attempt meets (a profile whose stored
// password no check can match) is logged once instead of at every attempt. Safe from any thread. Holds at
// most kLimit keys: when full it forgets them all, so that the worst is a fault reported again.
class ReportedOnce {
 public:
  static constexpr size_t kLimit = 4096;

  // True the first time it is asked about `key` (and again after the keys were forgotten).
  bool First(const std::string& key);

 private:
  std::mutex m_lock;
  std::unordered_set<std::string> m_keys;
};

}  // namespace hx
