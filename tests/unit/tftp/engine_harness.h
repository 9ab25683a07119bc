#pragma once

// Helpers for driving a TransferEngine without sockets: settings, files in memory, packet builders and a
// record of the actions of one call.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/session_table.h"
#include "tftp/transfer_engine.h"

namespace hx::tftp::test {

struct FakeSettings : EngineSettings {
  int debugging = 0;
  int retries = 5;
  int timeout = 5;
  bool optionsEnabled = true;
  int maxBlockSize = 65464;
  int maxWindowSize = 64;
  mutable int reads = 0;
  int Debugging() const override { return ++reads, debugging; }
  int Retries() const override { return ++reads, retries; }
  int TimeoutSeconds() const override { return ++reads, timeout; }
  bool OptionsEnabled() const override { return ++reads, optionsEnabled; }
  int MaxBlockSize() const override { return ++reads, maxBlockSize; }
  int MaxWindowSize() const override { return ++reads, maxWindowSize; }
};

// What a file in memory saw; it outlives the file, which the engine closes by destroying it.
struct FileState {
  std::string content;  // read from (sending) or written to (receiving)
  size_t readPos = 0;
  bool failReads = false;
  bool failWrites = false;
  bool closed = false;
  int writes = 0;
};

class MemoryFile : public TransferFile {
 public:
  explicit MemoryFile(std::shared_ptr<FileState> state) : m_state(std::move(state)) {}
  ~MemoryFile() override { m_state->closed = true; }
  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;

 private:
  std::shared_ptr<FileState> m_state;
};

// A file of `size` bytes whose byte at offset i is PatternByte(i); large sizes cost no memory. Writes are
// checked against the pattern.
std::uint8_t PatternByte(std::uint64_t offset);
struct PatternState {
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  bool fill = true;       // false: reads leave the buffer as it is (for very long runs)
  bool mismatch = false;  // a written byte differed from the pattern
  bool closed = false;
};
class PatternFile : public TransferFile {
 public:
  explicit PatternFile(std::shared_ptr<PatternState> state) : m_state(std::move(state)) {}
  ~PatternFile() override { m_state->closed = true; }
  long Read(std::uint8_t* buffer, size_t size) override;
  bool Write(const std::uint8_t* data, size_t size) override;

 private:
  std::shared_ptr<PatternState> m_state;
};

using Bytes = std::vector<std::uint8_t>;
Bytes AckPacket(std::uint16_t block);
Bytes DataPacket(std::uint16_t block, const std::string& payload);
Bytes DataPacket(std::uint16_t block, size_t count, char fill);
Bytes ErrorPacket(std::uint16_t code, const std::string& text);
Bytes Raw(std::initializer_list<int> bytes);
std::span<const std::uint8_t> View(const Bytes& bytes);

struct Sent {
  Bytes bytes;
  Endpoint to;
  bool reportFailure = false;
};

// The actions of one call, sorted by kind (order within a kind kept).
struct Record {
  std::vector<Action::Kind> kinds;
  std::vector<Sent> sends;
  std::vector<std::pair<int, std::string>> cells;
  std::vector<std::string> logs;
  std::vector<std::string> debugs;
  std::vector<std::string> boxes;
  std::optional<TimePoint> armed;  // the last deadline armed
  bool killed = false;
  bool ended = false;

  // The last text written to the column, or nullopt.
  std::optional<std::string> Cell(int column) const;
  std::optional<std::string> Status() const { return Cell(kColStatus); }
  bool Empty() const { return kinds.empty(); }
};
Record Recorded(std::span<const Action> actions);

// The error code and text of an ERROR packet.
std::pair<std::uint16_t, std::string> ErrorOf(const Bytes& packet);
std::uint16_t OpcodeOf(const Bytes& packet);
std::uint16_t BlockOf(const Bytes& packet);

inline Endpoint Local(unsigned short port) {
  return Endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
}

}  // namespace hx::tftp::test
