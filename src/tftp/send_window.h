#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "tftp/transfer_file.h"

namespace hx::tftp {

// The DATA packets that a sending side has read and that are not yet acknowledged: a ring of at most a
// window of blocks, the first of which is the oldest one unacknowledged. A buffer is taken when a block is
// first read into it and kept for the blocks that follow in its slot; it is never zero-filled, and with a
// known file size it is no larger than what is left of the file (it grows if the file turns out longer).
class SendWindow {
 public:
  // Empties the ring for blocks of `blockSize` bytes, at most `window` of them; `sizeHint` is how many bytes
  // the file is expected to hold (nullopt: unknown).
  void Reset(size_t blockSize, size_t window, std::optional<std::uint64_t> sizeHint);
  // Reads blocks after the last one held, numbered on from `firstBlock` (the number of the first one held),
  // until `upTo` blocks are held or the final block has been read. False on a read error.
  bool Fill(TransferFile* file, std::uint16_t firstBlock, size_t upTo);
  // Drops the first `count` blocks, which the receiver has acknowledged.
  void Drop(size_t count);
  // Frees every buffer: the transfer is over.
  void Release();

  size_t Count() const { return m_count; }
  bool Empty() const { return m_count == 0; }
  // The final block (shorter than the block size) is held or was sent already.
  bool ReadLast() const { return m_readLast; }
  // The `index`-th packet held, counted from the first.
  std::span<const std::uint8_t> Packet(size_t index) const;
  size_t PayloadSize(size_t index) const;
  // The bytes of the buffers held now.
  size_t HeldBytes() const;

 private:
  struct Slot {
    std::unique_ptr<std::uint8_t[]> buffer;
    size_t capacity = 0;  // bytes of `buffer`
    size_t length = 0;    // bytes of the packet in it
  };
  Slot& At(size_t index) { return m_slots[(m_first + index) % m_slots.size()]; }
  const Slot& At(size_t index) const { return m_slots[(m_first + index) % m_slots.size()]; }
  // Makes the slot hold at least `capacity` bytes, keeping the first `keep` of them.
  static void Reserve(Slot& slot, size_t capacity, size_t keep);

  size_t m_blockSize = 0;
  std::vector<Slot> m_slots;
  size_t m_first = 0;
  size_t m_count = 0;
  bool m_readLast = false;
  std::optional<std::uint64_t> m_sizeHint;
  std::uint64_t m_read = 0;  // bytes read from the file so far
};

}  // namespace hx::tftp
