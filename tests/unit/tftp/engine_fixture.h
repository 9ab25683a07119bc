#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine_harness.h"

namespace hx::tftp::test {

// One engine on a virtual clock, with its peer, a stranger and a file in memory.
class EngineFixture : public testing::Test {
 protected:
  static constexpr int kThread = 77;
  const Endpoint peer = Local(40000);
  const Endpoint stranger = Local(40001);
  const TimePoint t0 = TimePoint{} + std::chrono::hours(1);
  static constexpr std::chrono::seconds kTimeout{5};

  FakeSettings settings;
  std::shared_ptr<FileState> file = std::make_shared<FileState>();
  std::unique_ptr<TransferEngine> engine;

  void Make(Side side, bool clientSide = false) {
    engine = std::make_unique<TransferEngine>(TransferEngine::Options{side, clientSide, kThread}, settings);
  }
  // A server session whose request came from `peer`; the file holds `content` (sending) or is empty.
  Record StartServer(Side side, const std::string& content = {}) {
    Make(side);
    file = std::make_shared<FileState>();
    file->content = content;
    engine->SetPeer(peer);
    return Recorded(engine->Start(std::make_unique<MemoryFile>(file), t0));
  }
  Record Feed(const Bytes& datagram, TimePoint now, const Endpoint* from = nullptr) {
    return Recorded(engine->OnDatagram(View(datagram), from ? *from : peer, now));
  }
  Record Feed(const Bytes& datagram) { return Feed(datagram, t0); }
  Record FeedFrom(const Endpoint& from, const Bytes& datagram) { return Feed(datagram, t0, &from); }
  Record Timer(TimePoint now) { return Recorded(engine->OnTimer(now)); }
};

}  // namespace hx::tftp::test
