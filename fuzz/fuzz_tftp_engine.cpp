// Fuzzes the transfer engine with a stream of events read from the input: datagrams from the peer or from a
// stranger, timers, receive failures. Whatever comes, the engine never sends more than a packet, never
// answers anyone but its peer with anything but ERROR code 5, never acts after its end, and writes exactly
// what it counted.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tftp/tftp_options.h"
#include "tftp/transfer_engine.h"

namespace {

using namespace hx::tftp;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Settings : EngineSettings {
  int debugging = 1;
  int Debugging() const override { return debugging; }
  int Retries() const override { return 3; }
  int TimeoutSeconds() const override { return 1; }
  bool OptionsEnabled() const override { return true; }
  int MaxBlockSize() const override { return kMaxBlockSize; }
  int MaxWindowSize() const override { return 64; }
};

struct Sink {
  std::uint64_t written = 0;
  std::uint64_t readPos = 0;
};

class FuzzFile : public TransferFile {
 public:
  explicit FuzzFile(Sink& sink) : m_sink(sink) {}
  long Read(std::uint8_t* buffer, size_t size) override {
    const std::uint64_t total = 3000;
    size_t n = static_cast<size_t>(std::min<std::uint64_t>(size, total - m_sink.readPos));
    std::memset(buffer, 'r', n);
    m_sink.readPos += n;
    return static_cast<long>(n);
  }
  bool Write(const std::uint8_t*, size_t size) override {
    Check(size <= kBlockSize);
    m_sink.written += size;
    return true;
  }

 private:
  Sink& m_sink;
};

class Reader {
 public:
  Reader(const std::uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Empty() const { return m_pos >= m_size; }
  std::uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }
  size_t Take(size_t n, const std::uint8_t*& out) {
    n = std::min(n, m_size - m_pos);
    out = m_data + m_pos;
    m_pos += n;
    return n;
  }

 private:
  const std::uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  Reader in(data, size);
  std::uint8_t setup = in.Byte();
  Side side = (setup & 1) ? Side::Sending : Side::Receiving;
  bool client = (setup & 2) != 0;
  Settings settings;
  settings.debugging = (setup >> 2) & 3;
  TransferEngine engine(TransferEngine::Options{side, client, 1}, settings);
  const Endpoint peer(asio::ip::make_address_v4("127.0.0.1"), 1000);
  const Endpoint stranger(asio::ip::make_address_v4("127.0.0.1"), 2000);
  Sink sink;
  TimePoint now = TimePoint{} + std::chrono::hours(1);

  bool ended = false;
  auto observe = [&](std::span<const Action> actions) {
    if (ended) Check(actions.empty());
    for (const Action& a : actions) {
      if (a.kind == Action::Kind::Send) {
        Check(a.bytes.size() <= kMaxPacket && a.bytes.size() >= 4);
        // Anything not for the peer is a stranger's ERROR code 5.
        if (engine.Peer() && a.to != *engine.Peer())
          Check(a.bytes[1] == kOpError && a.bytes[3] == kErrUnknownTransferId);
      }
      if (a.kind == Action::Kind::End) ended = true;
    }
    Check(ended == engine.Ended());
  };

  if (client) {
    std::uint8_t request[] = {
        0, static_cast<std::uint8_t>(side == Side::Sending ? 2 : 1), 'f', 0, 'o', 'c', 't', 'e', 't', 0};
    ClientRequest r;
    r.request = std::span(request, sizeof request);
    r.server = Endpoint(asio::ip::make_address_v4("127.0.0.1"), 69);
    r.sendFailurePrefix = "send: ";
    r.noAnswerPrefix = "answer: ";
    observe(engine.StartClient(std::make_unique<FuzzFile>(sink), r, now));
  } else {
    engine.SetPeer(peer);
    observe(engine.Start(std::make_unique<FuzzFile>(sink), now));
  }

  while (!in.Empty()) {
    std::uint8_t kind = in.Byte();
    now += std::chrono::milliseconds(kind >> 3) * 100;
    switch (kind & 7) {
      case 0:
      case 1:
      case 2: {
        size_t length = in.Byte() % 80;
        if (kind & 1) length = 516;  // full blocks now and then
        const std::uint8_t* bytes = nullptr;
        length = in.Take(length, bytes);
        // A heap copy of exactly the received length, so that a read past it is caught.
        std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[length + 1]);
        if (length) std::memcpy(datagram.get(), bytes, length);
        const Endpoint& from = (kind & 7) == 2 ? stranger : peer;
        observe(engine.OnDatagram(std::span<const std::uint8_t>(datagram.get(), length), from, now));
        break;
      }
      case 3:
        observe(engine.OnTimer(now));
        break;
      case 4:
        if (auto deadline = engine.Deadline()) now = *deadline;
        observe(engine.OnTimer(now));
        break;
      case 5:
        observe(engine.OnReceiveFailed(10054));
        break;
      case 6:
        observe(engine.OnSendFailed(10065));
        break;
      default: {
        std::uint8_t big[kMaxPacket] = {0, 3, 0, 1};
        observe(engine.OnDatagram(std::span<const std::uint8_t>(big, kMaxPacket), peer, now, true));
        break;
      }
    }
  }
  if (side == Side::Receiving) Check(sink.written == engine.TotalBytes());
  return 0;
}
