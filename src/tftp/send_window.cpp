#include "tftp/send_window.h"

#include <algorithm>
#include <cstring>

#include "tftp/tftp_packets.h"

namespace hx::tftp {

void SendWindow::Reset(size_t blockSize, size_t window, std::optional<std::uint64_t> sizeHint) {
  m_blockSize = blockSize;
  m_slots.clear();
  m_slots.resize(std::max<size_t>(window, 1));
  m_first = 0;
  m_count = 0;
  m_readLast = false;
  m_sizeHint = sizeHint;
  m_read = 0;
}

void SendWindow::Reserve(Slot& slot, size_t capacity, size_t keep) {
  if (slot.capacity >= capacity) return;
  // Not value-initialised: every byte sent is read into the buffer first.
  std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
  if (keep != 0) std::memcpy(grown.get(), slot.buffer.get(), keep);
  slot.buffer = std::move(grown);
  slot.capacity = capacity;
}

bool SendWindow::Fill(TransferFile* file, std::uint16_t firstBlock, size_t upTo) {
  upTo = std::min(upTo, m_slots.size());
  while (m_count < upTo && !m_readLast) {
    Slot& slot = At(m_count);
    // With a known size, one byte more than is left: a file that has grown since shows.
    size_t want = m_blockSize;
    if (m_sizeHint) {
      std::uint64_t left = *m_sizeHint - std::min(*m_sizeHint, m_read);
      want = static_cast<size_t>(std::min<std::uint64_t>(want, left + 1));
    }
    Reserve(slot, kHeaderSize + want, 0);
    long count = file ? file->Read(slot.buffer.get() + kHeaderSize, want) : 0;
    if (count < 0) return false;
    auto payload = static_cast<size_t>(count);
    // The file is longer than it was said to be: the block takes what there is, up to the block size.
    if (payload == want && want < m_blockSize) {
      Reserve(slot, kHeaderSize + m_blockSize, kHeaderSize + payload);
      long more = file->Read(slot.buffer.get() + kHeaderSize + payload, m_blockSize - payload);
      if (more < 0) return false;
      payload += static_cast<size_t>(more);
    }
    if (payload < m_blockSize) m_readLast = true;
    m_read += payload;
    WriteU16(slot.buffer.get(), kOpData);
    WriteU16(slot.buffer.get() + 2, static_cast<std::uint16_t>(firstBlock + m_count));
    slot.length = kHeaderSize + payload;
    ++m_count;
  }
  return true;
}

void SendWindow::Drop(size_t count) {
  count = std::min(count, m_count);
  m_first = (m_first + count) % m_slots.size();
  m_count -= count;
}

void SendWindow::Release() {
  m_slots.clear();
  m_slots.resize(1);
  m_first = 0;
  m_count = 0;
}

std::span<const std::uint8_t> SendWindow::Packet(size_t index) const {
  const Slot& slot = At(index);
  return {slot.buffer.get(), slot.length};
}

size_t SendWindow::PayloadSize(size_t index) const {
  return At(index).length - kHeaderSize;
}

size_t SendWindow::HeldBytes() const {
  size_t bytes = 0;
  for (const Slot& slot : m_slots) bytes += slot.capacity;
  return bytes;
}

}  // namespace hx::tftp
