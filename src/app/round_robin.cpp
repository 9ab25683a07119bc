#include "app/round_robin.h"

namespace hx {

unsigned RoundRobin::Next(unsigned count) {
  if (count == 0) return 0;
  // Wrapping at 2^32 only makes one turn shorter when count is not a power of two.
  return m_turn.fetch_add(1, std::memory_order_relaxed) % count;
}

}  // namespace hx
