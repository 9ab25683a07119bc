#include "tftp/netascii_file.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace hx::tftp {

long NetasciiReadFile::Read(std::uint8_t* buffer, size_t size) {
  size_t total = 0;
  while (total < size) {
    if (m_wirePos == m_wire.size()) {
      if (m_fileEnded) break;
      std::uint8_t piece[kPiece];
      long count = m_file->Read(piece, sizeof piece);
      if (count < 0) return -1;
      if (static_cast<size_t>(count) < sizeof piece) m_fileEnded = true;
      m_wire.clear();
      m_wirePos = 0;
      EncodeLineEnds(std::string_view(reinterpret_cast<const char*>(piece), static_cast<size_t>(count)),
                     LineEndRules::Netascii, m_wire);
      continue;
    }
    size_t n = std::min(size - total, m_wire.size() - m_wirePos);
    std::memcpy(buffer + total, m_wire.data() + m_wirePos, n);
    m_wirePos += n;
    total += n;
  }
  return static_cast<long>(total);
}

// Never called: the sending side only reads.
bool NetasciiReadFile::Write(const std::uint8_t*, size_t) {
  return false;
}

NetasciiWriteFile::~NetasciiWriteFile() {
  WriteHeldCr();
}

bool NetasciiWriteFile::WriteHeldCr() {
  m_text.clear();
  m_decoder.Finish(m_text);
  return m_text.empty() || m_file->Write(reinterpret_cast<const std::uint8_t*>(m_text.data()), m_text.size());
}

bool NetasciiWriteFile::Complete() {
  return WriteHeldCr() && m_file->Complete();
}

// Never called: the receiving side only writes.
long NetasciiWriteFile::Read(std::uint8_t*, size_t) {
  return -1;
}

bool NetasciiWriteFile::Write(const std::uint8_t* data, size_t size) {
  m_text.clear();
  m_decoder.Decode(std::string_view(reinterpret_cast<const char*>(data), size), m_text);
  return m_file->Write(reinterpret_cast<const std::uint8_t*>(m_text.data()), m_text.size());
}

std::unique_ptr<TransferFile> NetasciiFile(std::unique_ptr<TransferFile> file, Side side) {
  if (side == Side::Sending) return std::make_unique<NetasciiReadFile>(std::move(file));
  return std::make_unique<NetasciiWriteFile>(std::move(file));
}

}  // namespace hx::tftp
