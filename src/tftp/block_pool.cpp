#include "tftp/block_pool.h"

#include <algorithm>
#include <utility>

#include "tftp/tftp_packets.h"

namespace hx::tftp {

BlockPool::Reservation::Reservation(Reservation&& other) noexcept
    : m_pool(std::exchange(other.m_pool, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

BlockPool::Reservation& BlockPool::Reservation::operator=(Reservation&& other) noexcept {
  if (this != &other) {
    if (m_pool) m_pool->Release(m_bytes);
    m_pool = std::exchange(other.m_pool, nullptr);
    m_bytes = std::exchange(other.m_bytes, 0);
  }
  return *this;
}

BlockPool::Reservation::~Reservation() {
  if (m_pool) m_pool->Release(m_bytes);
}

std::pair<BlockPool::Reservation, size_t> BlockPool::Reserve(size_t blocks, size_t blockBytes,
                                                             std::uint64_t limitBytes) {
  blocks = std::max<size_t>(blocks, 1);
  std::lock_guard lock(m_lock);
  size_t granted = blocks;
  if (limitBytes != 0 && blockBytes != 0) {
    std::uint64_t room = limitBytes > m_inUse ? limitBytes - m_inUse : 0;
    granted = static_cast<size_t>(std::clamp<std::uint64_t>(room / blockBytes, 1, blocks));
  }
  size_t bytes = granted * blockBytes;
  m_inUse += bytes;
  return {Reservation(this, bytes), granted};
}

std::uint64_t BlockPool::InUse() const {
  std::lock_guard lock(m_lock);
  return m_inUse;
}

void BlockPool::Release(size_t bytes) {
  std::lock_guard lock(m_lock);
  m_inUse -= std::min<std::uint64_t>(bytes, m_inUse);
}

BlockPool::Reservation ReserveWindow(BlockPool& pool, TftpOptions& granted, std::uint64_t fileSize,
                                     std::uint64_t limitBytes) {
  auto blockSize = static_cast<std::uint64_t>(granted.blockSize.value_or(kBlockSize));
  // The file's blocks, the last one shorter than the block size (empty when the size is a multiple of it).
  std::uint64_t fileBlocks = fileSize / blockSize + 1;
  auto window = static_cast<std::uint64_t>(granted.windowSize.value_or(1));
  size_t blocks = static_cast<size_t>(std::min(window, fileBlocks));
  // A file shorter than a block needs a buffer of its size only (and a byte to see that it ends there).
  size_t blockBytes = kHeaderSize + static_cast<size_t>(std::min(blockSize, fileSize + 1));
  auto [reservation, fitting] = pool.Reserve(blocks, blockBytes, limitBytes);
  if (granted.windowSize && fitting < blocks) granted.windowSize = static_cast<int>(fitting);
  return std::move(reservation);
}

}  // namespace hx::tftp
