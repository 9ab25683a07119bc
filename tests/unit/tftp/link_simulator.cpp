#include "link_simulator.h"

#include <algorithm>

#include "app/session_table.h"
#include "tftp/option_packets.h"
#include "tftp/tftp_packets.h"

namespace hx::tftp::test {
namespace {

constexpr std::chrono::milliseconds kLatency{1};

}  // namespace

LinkSimulator::LinkSimulator(Side clientSide, const EngineSettings& settings,
                             std::unique_ptr<TransferFile> clientFile,
                             std::unique_ptr<TransferFile> serverFile, Script script,
                             const TftpOptions& options)
    : m_settings(settings),
      m_script(std::move(script)),
      m_clientEngine(TransferEngine::Options{clientSide, true, 1}, settings),
      m_serverEngine(
          TransferEngine::Options{clientSide == Side::Sending ? Side::Receiving : Side::Sending, false, 2},
          settings),
      m_serverFile(std::move(serverFile)) {
  m_request =
      BuildOptionRequest(clientSide == Side::Receiving ? kOpRrq : kOpWrq, "file.bin", "octet", options);
  ClientRequest request;
  request.options = options;
  request.request = std::span(m_request.data(), m_request.size());
  request.server = serverListen;
  request.sendFailurePrefix = "Error connecting to host : ";
  request.noAnswerPrefix = "Error receiving response from host : ";
  Apply(m_clientEngine.StartClient(std::move(clientFile), request, m_now), clientPort, m_client);
}

void LinkSimulator::Inject(const Endpoint& from, const Endpoint& to, Bytes bytes, TimePoint at) {
  m_flight.push_back({at, m_seq++, from, to, std::move(bytes)});
}

void LinkSimulator::Apply(std::span<const Action> actions, const Endpoint& self, SideLog& log) {
  bool fromServer = &log == &m_server;
  for (const Action& a : actions) {
    switch (a.kind) {
      case Action::Kind::Send: {
        Bytes bytes(a.bytes.begin(), a.bytes.end());
        DatagramInfo info;
        info.toServer = !fromServer;
        info.opcode = bytes.size() >= 2 ? ReadU16(bytes.data()) : 0;
        info.block = bytes.size() >= 4 ? ReadU16(bytes.data() + 2) : 0;
        info.occurrence = ++m_seen[{info.toServer, info.opcode, info.block}];
        ++log.sent[{info.opcode, info.block}];
        if (!fromServer && info.opcode != kOpRrq && info.opcode != kOpWrq)
          m_clientDestinations.push_back(a.to);
        Fate fate = m_script ? m_script(info) : Fate{};
        if (fate.drop) break;
        for (int i = 0; i < fate.copies; ++i)
          m_flight.push_back({m_now + kLatency + fate.extraDelay, m_seq++, self, a.to, bytes});
        break;
      }
      case Action::Kind::SetCell:
        if (a.column == kColStatus) log.status = a.text;
        if (a.column == kColBytes) log.bytes = a.text;
        break;
      case Action::Kind::Log:
        log.logs.push_back(a.text);
        break;
      case Action::Kind::End:
        log.ended = true;
        log.endedAt = m_now;
        break;
      default:
        break;
    }
  }
}

void LinkSimulator::Deliver(const InFlight& d) {
  if (d.bytes.size() >= 4 && ReadU16(d.bytes.data()) == kOpError)
    m_errors.emplace_back(d.to, ReadU16(d.bytes.data() + 2),
                          std::string(d.bytes.begin() + 4, std::find(d.bytes.begin() + 4, d.bytes.end(), 0)));
  std::span<const std::uint8_t> view(d.bytes.data(), d.bytes.size());
  if (d.to == serverListen) {
    if (m_serverStarted) return;  // a repeated request would start a second session; not simulated
    m_serverStarted = true;
    m_serverEngine.SetPeer(d.from);
    // The options follow the opcode, the name and the mode.
    auto pairs = view.subspan(2);
    for (int text = 0; text < 2; ++text)
      pairs =
          pairs.subspan(static_cast<size_t>(std::find(pairs.begin(), pairs.end(), 0) - pairs.begin()) + 1);
    TftpOptions granted = GrantOptions(ParseRequestOptions(pairs),
                                       OptionLimits{m_settings.MaxBlockSize(), m_settings.MaxWindowSize()},
                                       ReadU16(view.data()) == kOpRrq, false, 0);
    Apply(m_serverEngine.Start(std::move(m_serverFile), m_now, granted), serverSession, m_server);
  } else if (d.to == serverSession) {
    Apply(m_serverEngine.OnDatagram(view, d.from, m_now), serverSession, m_server);
  } else if (d.to == clientPort) {
    Apply(m_clientEngine.OnDatagram(view, d.from, m_now), clientPort, m_client);
  }
}

void LinkSimulator::Run(int maxEvents) {
  for (int event = 0; event < maxEvents; ++event) {
    auto next = std::min_element(m_flight.begin(), m_flight.end(), [](const InFlight& a, const InFlight& b) {
      return std::tie(a.at, a.seq) < std::tie(b.at, b.seq);
    });
    std::optional<TimePoint> clientTimer = m_clientEngine.Ended() ? std::nullopt : m_clientEngine.Deadline();
    std::optional<TimePoint> serverTimer = m_serverEngine.Ended() ? std::nullopt : m_serverEngine.Deadline();
    std::optional<TimePoint> timer;
    for (auto t : {clientTimer, serverTimer})
      if (t && (!timer || *t < *timer)) timer = t;
    if (next == m_flight.end() && !timer) return;
    if (next != m_flight.end() && (!timer || next->at <= *timer)) {
      InFlight d = std::move(*next);
      m_flight.erase(next);
      m_now = std::max(m_now, d.at);
      Deliver(d);
      continue;
    }
    m_now = std::max(m_now, *timer);
    if (clientTimer && *clientTimer <= m_now) Apply(m_clientEngine.OnTimer(m_now), clientPort, m_client);
    if (serverTimer && *serverTimer <= m_now) Apply(m_serverEngine.OnTimer(m_now), serverSession, m_server);
  }
}

std::vector<std::pair<std::uint16_t, std::string>> LinkSimulator::ErrorsTo(const Endpoint& to) const {
  std::vector<std::pair<std::uint16_t, std::string>> out;
  for (const auto& [where, code, text] : m_errors)
    if (where == to) out.emplace_back(code, text);
  return out;
}

}  // namespace hx::tftp::test
