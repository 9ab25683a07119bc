#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/download_file.h"
#include "app/rooted_file_system.h"
#include "app/shared_file.h"
#include "tftp/request_checks.h"
#include "tftp/transfer_file.h"

// Opening the file of a TFTP transfer, with the refusals a peer or the operator is told about. Every file
// is opened through the application's table of open files, so that a file being received is never read or
// written by another session at the same time.
namespace hx::tftp {

// A SharedFile as the file of a transfer. Reads of small blocks go through a buffer of 64 KiB, so that
// sending a file costs one read from the system per 64 KiB instead of one per block; blocks of a page and
// more are read straight into place. Writes go to the file at once, so that every acknowledged block is in
// the file.
class SharedTransferFile : public TransferFile {
 public:
  explicit SharedTransferFile(SharedFile file) : m_file(std::move(file)) {}
  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;

 private:
  static constexpr size_t kReadAhead = 64 * 1024;
  static constexpr size_t kReadDirect = 4096;

  SharedFile m_file;
  std::unique_ptr<std::uint8_t[]> m_ahead;  // allocated by the first read
  size_t m_aheadPos = 0;
  size_t m_aheadEnd = 0;
  bool m_atEnd = false;
};

// A file received into a DownloadFile beside its target, which takes the target's place when the final block
// completes it. A transfer that ends any other way leaves the target as it was and no file behind.
class ReplacingTransferFile : public TransferFile {
 public:
  // `claim`, when open, holds the existing target against other sessions until it has been replaced.
  ReplacingTransferFile(DownloadFile file, SharedFile claim, DownloadFile::Placement placement);

  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;
  // Puts the received file in place of the target; false when that fails, as for a failed write.
  bool Complete() override;

 private:
  DownloadFile m_file;
  SharedFile m_claim;
  DownloadFile::Placement m_placement;
};

// The settings that decide what a write request may do, read for each request.
struct ReceiveRules {
  bool makeNewDirs = false;     // TFTP/TMakeNewDirs
  bool overwriteFiles = false;  // TFTP/TOverWriteFiles
};

// The open file, or the refusals in the order they go out (a failed directory creation gives two).
using OpenResult = std::variant<std::unique_ptr<TransferFile>, std::vector<Rejection>>;

// A refusal with one ERROR packet.
std::vector<Rejection> Refuse(std::uint16_t code, std::string text);

// What a peer is told when the server has no descriptor left for its session or its file, and the log line
// that tells the operator why.
inline constexpr const char* kServerBusy = "Server busy, try again";
inline constexpr const char* kOutOfDescriptorsLine = "TFTP: ERROR. Server busy: out of file descriptors";
// True for the refusal of a server out of descriptors.
bool IsServerBusy(const std::vector<Rejection>& rejections);

// Opens an existing regular file for reading; others may read and write it meanwhile, but a file that
// another session is receiving is refused. Every path goes through `files`, which keeps the server inside
// TDLDir.
OpenResult OpenForSend(FileShareTable& shares, const RootedFileSystem& files, const std::string& path);
// Opens the file for writing, alone: creates it (and the directories leading to it, when allowed) or,
// when allowed, replaces an existing writable one. The replacement is written beside it and takes its place
// only when the transfer completes; until then the old file stays whole and claimed, so that other sessions
// neither read nor write it, as while a file is being received.
OpenResult OpenForReceive(FileShareTable& shares, const RootedFileSystem& files, const std::string& path,
                          const ReceiveRules& rules);
// Opens the replacement of the existing file `path` (see OpenForReceive), without any check of the rules.
OpenResult OpenReplacement(FileShareTable& shares, const RootedFileSystem& files, const std::string& path);
// The refusals of a write request, checked before anything is written: a link out of the directory, a
// protected file, an existing file without TOverWriteFiles, or missing directories that may not or cannot
// be created (those that can are created here). nullopt when the transfer may go on; `exists` then tells
// whether the file is there already.
std::optional<std::vector<Rejection>> CheckReceiveTarget(const RootedFileSystem& files,
                                                         const std::string& path, const ReceiveRules& rules,
                                                         bool& exists);
// The same for the operator's own client, on any local path.
OpenResult OpenForSend(FileShareTable& shares, const std::string& path);
// Whether the file system of `directory` (a path in `files`) has `size` bytes free for an unprivileged
// writer; true when that cannot be told.
bool HasRoomFor(const RootedFileSystem& files, const std::string& directory, std::uint64_t size);
OpenResult OpenForReceive(FileShareTable& shares, const std::string& path, const ReceiveRules& rules);
// Creates the missing directories leading to the file `path` ("/" separated). nullopt on success.
std::optional<Rejection> MakeDirectories(const RootedFileSystem& files, const std::string& path,
                                         bool makeNewDirs);

}  // namespace hx::tftp
