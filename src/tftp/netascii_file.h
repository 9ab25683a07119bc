#pragma once

#include <memory>
#include <string>

#include "app/line_endings.h"
#include "tftp/transfer_engine.h"
#include "tftp/transfer_file.h"

// The netascii mode as a file of the transfer: the engine moves blocks of wire bytes as in octet mode and
// never sees the conversion. A block boundary may fall anywhere, also between CR and LF or CR and NUL.
namespace hx::tftp {

// The sending side: reads the file and hands out its text with LF as CR LF and CR as CR NUL. A read is
// filled up to the size asked for until the file ends, as the engine expects; a pair that does not fit
// starts the next read.
class NetasciiReadFile : public TransferFile {
 public:
  explicit NetasciiReadFile(std::unique_ptr<TransferFile> file) : m_file(std::move(file)) {}
  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;

 private:
  static constexpr size_t kPiece = 4096;  // file bytes converted at a time

  std::unique_ptr<TransferFile> m_file;
  std::string m_wire;  // converted bytes not yet handed out, from m_wirePos
  size_t m_wirePos = 0;
  bool m_fileEnded = false;
};

// The receiving side: stores CR LF as LF and CR NUL as CR. A CR at the end of a block waits for the next
// one; when the transfer ends on it (which a correct peer never sends), it is written when the transfer
// completes, or as the file is closed.
class NetasciiWriteFile : public TransferFile {
 public:
  explicit NetasciiWriteFile(std::unique_ptr<TransferFile> file) : m_file(std::move(file)) {}
  ~NetasciiWriteFile() override;
  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;
  bool Complete() override;

 private:
  bool WriteHeldCr();

  std::unique_ptr<TransferFile> m_file;
  LineEndDecoder m_decoder{LineEndRules::Netascii};
  std::string m_text;
};

// The file of a netascii transfer on `side`: `file` wrapped in the conversion of that direction.
std::unique_ptr<TransferFile> NetasciiFile(std::unique_ptr<TransferFile> file, Side side);

}  // namespace hx::tftp
