#pragma once

#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/blocking_pool.h"
#include "app/download_file.h"
#include "app/line_endings.h"
#include "app/rooted_file_system.h"
#include "app/shared_file.h"
#include "ftp/server/data_transfer.h"

namespace hx::ftpd {

// The file of an upload as far as its command got before the data connection: an existing file is open
// and claimed but untouched; a missing one is created only once the connection is up.
struct UploadFile {
  FileShareTable& shares;
  std::shared_ptr<const RootedFileSystem> files;
  std::string path;
  SharedFile file;             // open when the file existed
  bool replace = false;        // STOR without REST: an existing file is replaced whole when the upload ends
  bool append = false;         // APPE: writing starts at the end of the file as it is when opened
  bool mayOverwrite = false;   // the Overwrite right: a file that appeared since the command may be written
  std::uint64_t position = 0;  // where writing starts
};

// One running STOR or APPE: writes what arrives on the data connection to the file until the client closes
// the connection, which marks the end of the file; every byte received is written before the upload ends.
// A receive takes up to 256 KiB and is written at once, so the file always holds what has arrived: with
// 10,240-byte receives the server spent twice the processor time per byte (the writes straddle pages), and
// with 40 KiB ones it still took 1.3 to 1.5 times vsftpd's time, woken for every few segments. A receive or
// write failure, a client that resets the connection, or ABOR ends it as aborted ("426 Transfer terminated
// abnormally"), keeping the bytes written so far; so does a connection that moves no byte for FDataTimeout
// seconds. A connect that fails gets "425 Can't open data connection". Only ABOR is answered with "226 ABORT
// command successful", after the upload's own final reply: one reply per command.
//
// A STOR over an existing file writes into a temporary file beside it, which takes its place only when the
// upload has succeeded: an aborted or failed one leaves the old file as it was and no temporary behind. The
// old file stays claimed meanwhile, so that no other session reads or writes it, as during any upload. A new
// file, an APPE and a STOR after REST are written in place and keep what arrived.
//
// In type A the CR LF line ends that arrive are stored as LF; the Bytes cell and the debug lines then count
// the bytes written to the file, which is the file position that REST names.
class Upload : public DataTransfer {
 public:
  static constexpr size_t kReceive = 256 * 1024;

  // A replacement is flushed and put in the old file's place on `pool`.
  Upload(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
         TransferSettings settings, BlockingPool& pool, UploadFile target);

  // TYPE A: CR LF arrives for every line end and is stored as LF. Called before the connection is up.
  void ConvertLineEnds();
  // ABOR: ends the upload at once.
  void Abort() override;

 private:
  void Connected() override;
  void ConnectFailed(std::error_code error) override;
  void ConnectionReset() override { EndReceive(true); }
  void Stalled() override { EndReceive(true); }
  void Release() override;

  // Ends the upload before a byte came, with `refusal`.
  void Refuse(const char* refusal);
  // Creates or opens and positions the file now that data can come; nullptr when it is ready, otherwise
  // the reply that refuses the upload.
  const char* PrepareFile();
  // The descriptor that received data goes to: the replacement, or the file itself.
  int TargetHandle() const;
  bool WriteTarget(const void* data, size_t size);
  void Receive();
  void OnReceived(std::error_code error, size_t count);
  // Binary: the connection has data (or its end) to move into the file.
  void OnReadable(std::error_code error);
  // `count` more bytes are in the file: the Bytes cell, the debug line, the next receive.
  void Received(std::uint64_t count);
  // Writes what a receive brought, converted in type A; false when the file could not take it.
  bool WriteReceived(size_t count);
  // The end of the data: a CR held back by the conversion goes to the file.
  bool WriteHeldCr();
  void EndReceive(bool aborted);
  // The replies and the log line of the end, once the replacement (if any) has taken the old file's place.
  void Finish(bool aborted);

  BlockingPool& m_pool;
  UploadFile m_target;
  SharedFile& m_file;          // m_target's file
  DownloadFile m_replacement;  // open while it is to replace m_file
  bool m_copying = false;      // the bytes pass through m_buffer: type A, or a stream that cannot move them
  std::vector<char> m_buffer;  // the copying path
  std::uint64_t m_total;
  bool m_debug = false;
  bool m_committing = false;                // the replacement is being put in place on the pool
  bool m_abor = false;                      // ABOR came: its answer follows the final reply
  std::optional<LineEndDecoder> m_decoder;  // type A
  std::string m_text;                       // type A: a receive as it goes to the file
};

}  // namespace hx::ftpd
