#pragma once

// A client engine and a server engine joined by a simulated network on a virtual clock. A script decides the
// fate of every datagram (lost, duplicated, delayed), so that loss, duplication and reordering can be
// replayed exactly.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine_harness.h"

namespace hx::tftp::test {

struct Fate {
  bool drop = false;
  int copies = 1;
  std::chrono::milliseconds extraDelay{0};
};

struct DatagramInfo {
  bool toServer = false;
  std::uint16_t opcode = 0;
  std::uint16_t block = 0;
  int occurrence = 0;  // 1 for the first datagram of this direction, opcode and block, 2 for the next...
};

// What one side showed over the whole run.
struct SideLog {
  std::string status;
  std::string bytes;
  std::vector<std::string> logs;
  bool ended = false;
  std::optional<TimePoint> endedAt;
  std::map<std::pair<std::uint16_t, std::uint16_t>, int> sent;  // (opcode, block) -> count
  int SentCount(std::uint16_t opcode, std::uint16_t block) const {
    auto it = sent.find({opcode, block});
    return it == sent.end() ? 0 : it->second;
  }
};

class LinkSimulator {
 public:
  using Script = std::function<Fate(const DatagramInfo&)>;

  // The client downloads (`clientSide` Receiving) or uploads (Sending), asking for `options`. The server
  // answers from its own port and grants what the settings allow.
  LinkSimulator(Side clientSide, const EngineSettings& settings, std::unique_ptr<TransferFile> clientFile,
                std::unique_ptr<TransferFile> serverFile, Script script = {},
                const TftpOptions& options = {});

  // Runs until both sides have ended and nothing is in flight, or `maxEvents` have happened.
  void Run(int maxEvents = 2'000'000);
  // Delivers a datagram from `from` to the server's session port now (for stray traffic).
  void Inject(const Endpoint& from, const Endpoint& to, Bytes bytes, TimePoint at);

  const SideLog& Client() const { return m_client; }
  const SideLog& Server() const { return m_server; }
  TimePoint Now() const { return m_now; }
  TimePoint Start() const { return m_start; }
  // ERROR packets that reached the given endpoint: (code, text).
  std::vector<std::pair<std::uint16_t, std::string>> ErrorsTo(const Endpoint& to) const;
  // Where the client sent its packets after the request.
  std::vector<Endpoint> ClientDestinations() const { return m_clientDestinations; }

  const Endpoint clientPort = Local(50000);
  const Endpoint serverListen = Local(69);
  const Endpoint serverSession = Local(50001);

 private:
  struct InFlight {
    TimePoint at;
    std::uint64_t seq;
    Endpoint from;
    Endpoint to;
    Bytes bytes;
  };
  void Apply(std::span<const Action> actions, const Endpoint& self, SideLog& log);
  void Deliver(const InFlight& datagram);

  const EngineSettings& m_settings;
  Script m_script;
  TransferEngine m_clientEngine;
  TransferEngine m_serverEngine;
  std::unique_ptr<TransferFile> m_serverFile;
  bool m_serverStarted = false;
  TimePoint m_start = TimePoint{} + std::chrono::hours(2);
  TimePoint m_now = m_start;
  std::uint64_t m_seq = 0;
  std::vector<InFlight> m_flight;
  std::map<std::tuple<bool, std::uint16_t, std::uint16_t>, int> m_seen;
  SideLog m_client;
  SideLog m_server;
  std::vector<std::tuple<Endpoint, std::uint16_t, std::string>> m_errors;
  std::vector<Endpoint> m_clientDestinations;
  Bytes m_request;
};

}  // namespace hx::tftp::test
