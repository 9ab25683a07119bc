// Memory under many windowed reads that are never answered: the blocks they may send come from one pool with
// a ceiling, so the server's resident memory stays near TMemoryLimit whatever the requests ask for.
#include <chrono>
#include <cstring>
#include <fstream>

#include "server_fixture.h"

namespace hx::test {
namespace {

// A resident-memory figure of /proc/PID/status ("VmRSS", "VmHWM") in KiB, or 0.
long StatusKib(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  return 0;
}

Bytes WindowedRequest(const std::string& name) {
  Bytes request = Request(1, name, "octet");
  for (const char* text : {"blksize", "65464", "windowsize", "64"}) {
    request.insert(request.end(), text, text + std::strlen(text));
    request.push_back(0);
  }
  return request;
}

class MemoryBound : public TftpServerFixture {};

TEST_F(MemoryBound, FiveHundredSilentWindowedReadsStayWithinTheLimit) {
  constexpr int kRequests = 500;
  constexpr long kLimitMib = 256;
  WriteFile(Dl() / "big.bin", std::string(16u << 20, 'b'));
  // Every request comes from 127.0.0.1: no cap per address here. Retries far apart, so that every session
  // lives through the test.
  Start({"TFTP/TPerAddress=0", "TFTP/TMemoryLimit=" + std::to_string(kLimitMib), "TFTP/TTimeout=30"});
  // Fifty at a time, so that the requests fit the buffer of the server's port. Each session answers with its
  // OACK; ACK 0 lets its first blocks go, and then the client falls silent.
  constexpr int kGroup = 50;
  std::vector<std::unique_ptr<UdpPeer>> peers;
  int answered = 0;
  for (int group = 0; group < kRequests / kGroup; ++group) {
    for (int i = 0; i < kGroup; ++i) {
      peers.push_back(std::make_unique<UdpPeer>());
      peers.back()->SendTo(Port(), WindowedRequest("big.bin"));
    }
    for (size_t i = peers.size() - kGroup; i < peers.size(); ++i) {
      std::optional<Datagram> oack = peers[i]->Receive(std::chrono::seconds(10));
      if (!oack || OpcodeOf(*oack) != 6) continue;
      ++answered;
      peers[i]->SendTo(oack->port, Ack(0));
    }
  }
  EXPECT_EQ(answered, kRequests);
  // The first block of each: the sessions have read what they may send.
  int data = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (auto& peer : peers) {
    if (std::chrono::steady_clock::now() > deadline) break;
    std::optional<Datagram> block = peer->Receive(std::chrono::seconds(2));
    if (block && OpcodeOf(*block) == 3) ++data;
  }
  EXPECT_EQ(data, kRequests);
  long peakMib = StatusKib(program->Pid(), "VmHWM") / 1024;
  RecordProperty("peak_rss_mib", static_cast<int>(peakMib));
  EXPECT_GT(peakMib, 0);
  EXPECT_LT(peakMib, kLimitMib + 64) << "peak resident memory in MiB";
}

}  // namespace
}  // namespace hx::test
