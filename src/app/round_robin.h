#pragma once

#include <atomic>

namespace hx {

// Positions in a range handed out in turn to every caller of the process, from any thread: the passive
// listeners of all sessions take the ports of their range one after the other, so that a port comes round
// again only after every other one has had its turn.
class RoundRobin {
 public:
  // The next position from 0 to count - 1; 0 when count is 0.
  unsigned Next(unsigned count);

 private:
  std::atomic<unsigned> m_turn{0};
};

}  // namespace hx
