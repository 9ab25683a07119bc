#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "tftp/tftp_options.h"

namespace hx::tftp {

// The memory that sending TFTP sessions hold for their blocks in flight, shared by all sessions of the
// program and counted against a ceiling. A session reserves what its window needs before it grants the
// window, and the reservation goes back when the session ends. Safe to use from any thread.
class BlockPool {
 public:
  // What one session holds; returned to the pool when destroyed.
  class Reservation {
   public:
    Reservation() = default;
    Reservation(Reservation&& other) noexcept;
    Reservation& operator=(Reservation&& other) noexcept;
    ~Reservation();
    size_t Bytes() const { return m_bytes; }

   private:
    friend class BlockPool;
    Reservation(BlockPool* pool, size_t bytes) : m_pool(pool), m_bytes(bytes) {}
    BlockPool* m_pool = nullptr;
    size_t m_bytes = 0;
  };

  // Reserves `blocks` buffers of `blockBytes` each, or as many as fit below `limitBytes` (0: no ceiling), but
  // always at least one: a session in lock-step holds one block whatever the load. Returns the reservation
  // and the number of buffers it covers.
  std::pair<Reservation, size_t> Reserve(size_t blocks, size_t blockBytes, std::uint64_t limitBytes);
  std::uint64_t InUse() const;

 private:
  void Release(size_t bytes);

  mutable std::mutex m_lock;
  std::uint64_t m_inUse = 0;
};

// Reserves what a sending side holds with the options `granted` for a file of `fileSize` bytes (the blocks of
// one window, and no more than the file needs), and lowers the granted window to what the pool has room for;
// windowsize 1 (lock-step) is the least. A session without a window reserves one block.
BlockPool::Reservation ReserveWindow(BlockPool& pool, TftpOptions& granted, std::uint64_t fileSize,
                                     std::uint64_t limitBytes);

}  // namespace hx::tftp
