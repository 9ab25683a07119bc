// Option negotiation with real peers, one test per peer: curl and the atftp client against the TFTP service,
// harbinex's own client against tftpd-hpa, atftpd and the service, and the service and client together over a
// link that loses every 50th datagram. Every transfer passes a relay of the test, whose record of the
// datagrams shows what was negotiated: the OACK, the size of the DATA packets and how few ACKs a window
// needs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "integration/clients/ftp_client_peers.h"
#include "integration/clients/ftp_client_tool.h"
#include "integration/clients/tftp_client_support.h"
#include "server_fixture.h"
#include "support/lossy_relay.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;
using Options = std::map<std::string, std::string>;

constexpr const char* kAtftp = "/usr/bin/atftp";
constexpr const char* kCurl = "/usr/bin/curl";
// Unpacked there by scripts/install-deps: installing the package would remove tftpd-hpa.
constexpr const char* kAtftpd = "/opt/atftpd/usr/sbin/atftpd";

std::string SuccessPrefix(size_t total) {
  return "TFTP: Successful. Total bytes transferred: " + std::to_string(total);
}

// The options of a packet that carries them (a request or an OACK), names in lower case.
Options OptionsOf(const std::string& packet) {
  if (packet.size() < 2) return {};
  std::vector<std::string> fields;
  for (size_t at = 2; at < packet.size();) {
    size_t end = packet.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(packet.substr(at, end - at));
    at = end + 1;
  }
  // A request starts with its file name and mode.
  const size_t first = packet[1] == 6 ? 0 : 2;
  Options options;
  for (size_t i = first; i + 1 < fields.size(); i += 2) {
    std::string name = fields[i];
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    options[name] = fields[i + 1];
  }
  return options;
}

// The first packet with `opcode` among `datagrams`; empty when there is none.
std::string FirstOf(const std::vector<std::string>& datagrams, int opcode) {
  for (const std::string& d : datagrams)
    if (d.size() >= 2 && d[0] == 0 && d[1] == opcode) return d;
  return {};
}
Options OackOf(const std::vector<std::string>& datagrams) {
  std::string oack = FirstOf(datagrams, 6);
  return oack.empty() ? Options{} : OptionsOf(oack);
}
// The size of the first DATA packet: the negotiated block size plus 4 when the file is larger.
size_t FirstDataSize(const std::vector<std::string>& datagrams) {
  return FirstOf(datagrams, 3).size();
}

// Datagrams the receiving side sends for `size` bytes in windows of `window` blocks of `blockSize`: its
// request or the OACK's acknowledgement, one ACK per window (the last block, perhaps empty, included), one
// per doubling while the sender's slow start opens the window, and a little room for a retransmission.
size_t AcksAtMost(size_t size, size_t blockSize, size_t window) {
  size_t blocks = size / blockSize + 1;
  return (blocks + window - 1) / window + std::bit_width(window) + 4;
}

// Whether the file holds exactly `content` (without printing megabytes when it does not).
testing::AssertionResult Holds(const fs::path& path, const std::string& content) {
  std::string actual = ReadFile(path);
  if (actual == content) return testing::AssertionSuccess();
  size_t at =
      std::mismatch(actual.begin(), actual.end(), content.begin(), content.end()).first - actual.begin();
  return testing::AssertionFailure() << path << " holds " << actual.size() << " bytes of " << content.size()
                                     << ", the first difference at " << at;
}

// atftpd serving `dir` on a free port of 127.0.0.1 as a daemon of the test, ended by its process id.
class Atftpd {
 public:
  explicit Atftpd(const fs::path& dir) {
    if (::access(kAtftpd, X_OK) != 0) return;
    // It drops to nobody, who must read and write the folder.
    fs::permissions(dir, fs::perms::all);
    // A port another test takes between the probe and the bind is retried with a new one.
    for (int attempt = 0; attempt < 3 && !m_started; ++attempt) {
      m_port = tftpc::FreeUdpPort();
      m_process = std::make_unique<PeerProcess>(std::vector<std::string>{
          kAtftpd, "--daemon", "--no-fork", "--logfile", "-", "--port", std::to_string(m_port),
          "--bind-address", "127.0.0.1", "--user", "nobody", "--group", "nogroup", dir.string()});
      m_started = WaitUntil([&] { return tftpc::UdpPortTaken(m_port) || !m_process->Running(); },
                            std::chrono::seconds(5)) &&
                  m_process->Running();
    }
  }
  bool Started() const { return m_started; }
  std::uint16_t Port() const { return m_port; }
  std::string Output() const { return m_process ? m_process->Output() : std::string(); }

 private:
  std::unique_ptr<PeerProcess> m_process;
  std::uint16_t m_port = 0;
  bool m_started = false;
};

class OptionsPeers : public TftpServerFixture {
 protected:
  static void RequirePeer(const char* path) {
    ASSERT_EQ(::access(path, X_OK), 0) << path << " is missing (scripts/install-deps installs it)";
  }
  std::string UrlVia(const LossyRelay& relay, const std::string& name) const {
    return "tftp://127.0.0.1:" + std::to_string(relay.Port()) + "/" + name;
  }
  // atftp in the work directory, e.g. {"-g", "-r", remote, "-l", local}, with blksize 1468, windowsize 16 and
  // tsize; returns its exit status (0 only when the transfer succeeded).
  int Atftp(const LossyRelay& relay, std::vector<std::string> args, std::string& output) const {
    std::vector<std::string> argv = {kAtftp,          "--option", "blksize 1468", "--option",
                                     "windowsize 16", "--option", "tsize 0"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("127.0.0.1");
    argv.push_back(std::to_string(relay.Port()));
    return RunCommand(argv, output, std::chrono::seconds(60), {}, Work());
  }
  // harbinex tftp get|put through `port` with the client's program directory `clientDir`.
  static ToolRun HarbinexTftp(const fs::path& clientDir, const std::string& direction, std::uint16_t port,
                              const std::string& remote, const fs::path& local,
                              const std::vector<std::string>& options,
                              std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::vector<std::string> args = {
        "tftp",  direction,         "127.0.0.1:" + std::to_string(port), remote, local.string(),
        "--dir", clientDir.string()};
    args.insert(args.end(), options.begin(), options.end());
    return RunHarbinex(args, {}, limit);
  }
  // Waits until an upload has arrived whole in the served folder (the service may still be closing it).
  static testing::AssertionResult Arrived(const fs::path& path, const std::string& content) {
    std::error_code ignored;
    WaitUntil([&] { return fs::file_size(path, ignored) == content.size(); });
    return Holds(path, content);
  }
  // `harbinex tftp get` of `name` from the server on `port`, served from `served`, into the client's folder,
  // then `put` of it back as up.bin, each through a relay: byte for byte, with `granted` in the OACK, DATA
  // of `block` bytes, and with a window no more ACKs than about one a window.
  static void GetAndPut(const fs::path& client, std::uint16_t port, const fs::path& served,
                        const std::string& name, const std::string& content,
                        const std::vector<std::string>& options, const Options& granted, size_t block,
                        size_t window) {
    for (const char* direction : {"get", "put"}) {
      SCOPED_TRACE(direction);
      bool get = direction == std::string("get");
      std::error_code ignored;
      if (!get) fs::remove(served / "up.bin", ignored);  // left by the server before
      LossyRelay relay(port, 0);
      ToolRun run =
          HarbinexTftp(client, direction, relay.Port(), get ? name : "up.bin", client / name, options);
      EXPECT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_TRUE(run.out.starts_with(SuccessPrefix(content.size()))) << run.out;
      EXPECT_TRUE(get ? Holds(client / name, content) : Arrived(served / "up.bin", content));
      LossyRelay::Counts counts = relay.Snapshot();
      EXPECT_EQ(OackOf(counts.firstToClient), granted);
      EXPECT_EQ(FirstDataSize(get ? counts.firstToClient : counts.firstToServer), 4 + block);
      if (window > 1) {
        EXPECT_LE(get ? counts.toServer : counts.toClient, AcksAtMost(content.size(), block, window));
      }
    }
  }
};

TEST_F(OptionsPeers, CurlDownloadsWithBlockSizes8_1468And65464) {
  RequirePeer(kCurl);
  Start();
  for (size_t blockSize : {size_t{8}, size_t{1468}, size_t{65464}}) {
    SCOPED_TRACE(blockSize);
    const size_t size = blockSize == 8 ? 3'000 : 300'000;
    const std::string name = "c" + std::to_string(blockSize) + ".bin";
    const std::string content = Content(size, static_cast<unsigned>(blockSize));
    WriteFile(Dl() / name, content);
    LossyRelay relay(Port(), 0);
    EXPECT_EQ(Curl({"--tftp-blksize", std::to_string(blockSize), "-o", name, UrlVia(relay, name)}), 0);
    EXPECT_TRUE(Holds(Work() / name, content));
    // curl asks for tsize, blksize and a timeout that it derives from --max-time.
    LossyRelay::Counts counts = relay.Snapshot();
    ASSERT_FALSE(counts.firstToServer.empty());
    const std::string timeout = OptionsOf(counts.firstToServer[0])["timeout"];
    EXPECT_EQ(OackOf(counts.firstToClient), (Options{{"blksize", std::to_string(blockSize)},
                                                     {"timeout", timeout},
                                                     {"tsize", std::to_string(size)}}));
    EXPECT_EQ(FirstDataSize(counts.firstToClient), 4 + blockSize);
  }
}

TEST_F(OptionsPeers, AtftpGetsAndPutsWithBlksizeWindowsizeAndTsize) {
  RequirePeer(kAtftp);
  Start();
  const size_t size = 400'000;
  const std::string content = Content(size, 11);
  WriteFile(Dl() / "a.bin", content);
  {
    LossyRelay relay(Port(), 0);
    std::string output;
    EXPECT_EQ(Atftp(relay, {"-g", "-r", "a.bin", "-l", "a.bin"}, output), 0) << output;
    EXPECT_TRUE(Holds(Work() / "a.bin", content));
    LossyRelay::Counts counts = relay.Snapshot();
    EXPECT_EQ(OackOf(counts.firstToClient),
              (Options{{"blksize", "1468"}, {"tsize", std::to_string(size)}, {"windowsize", "16"}}));
    EXPECT_EQ(FirstDataSize(counts.firstToClient), 4u + 1468);
    EXPECT_LE(counts.toServer, AcksAtMost(size, 1468, 16));
  }
  {
    LossyRelay relay(Port(), 0);
    std::string output;
    EXPECT_EQ(Atftp(relay, {"-p", "-l", "a.bin", "-r", "back.bin"}, output), 0) << output;
    EXPECT_TRUE(Arrived(Dl() / "back.bin", content));
    // atftp sends the file's size as tsize with a write request.
    LossyRelay::Counts counts = relay.Snapshot();
    EXPECT_EQ(OackOf(counts.firstToClient),
              (Options{{"blksize", "1468"}, {"tsize", std::to_string(size)}, {"windowsize", "16"}}));
    EXPECT_EQ(FirstDataSize(counts.firstToServer), 4u + 1468);
    EXPECT_LE(counts.toClient, AcksAtMost(size, 1468, 16));
  }
}

TEST_F(OptionsPeers, HarbinexClientAgainstTftpdHpaAtftpdAndTheService) {
  TempDir served;
  TempDir client;
  WriteIni(client.Path(), {"TFTP/TTimeout=2", "TFTP/TRetries=3", "TFTP/TOverWriteFiles=1"});
  const size_t size = 300'000;
  const std::string content = Content(size, 13);
  const std::string tsize = std::to_string(size);
  WriteFile(served.Path() / "h.bin", content);
  {
    SCOPED_TRACE("tftpd-hpa: blksize and tsize");
    tftpc::Tftpd server(served.Path(), /*allowCreate=*/true);
    ASSERT_TRUE(server.Started()) << "tftpd-hpa (/usr/sbin/in.tftpd) is missing or did not start: "
                                  << server.Output();
    GetAndPut(client.Path(), server.Port(), served.Path(), "h.bin", content, {"--blksize", "65464"},
              {{"blksize", "65464"}, {"tsize", tsize}}, 65464, 1);
  }
  {
    SCOPED_TRACE("atftpd: windowsize too");
    Atftpd server(served.Path());
    ASSERT_TRUE(server.Started()) << "atftpd (" << kAtftpd
                                  << ", unpacked by scripts/install-deps) is missing or "
                                  << "did not start: " << server.Output();
    GetAndPut(client.Path(), server.Port(), served.Path(), "h.bin", content,
              {"--blksize", "1468", "--windowsize", "16"},
              {{"blksize", "1468"}, {"tsize", tsize}, {"windowsize", "16"}}, 1468, 16);
  }
  {
    SCOPED_TRACE("Harbinex: all four options");
    Start();
    WriteFile(Dl() / "h.bin", content);
    GetAndPut(client.Path(), Port(), Dl(), "h.bin", content,
              {"--blksize", "1468", "--windowsize", "16", "--timeout", "2"},
              {{"blksize", "1468"}, {"timeout", "2"}, {"tsize", tsize}, {"windowsize", "16"}}, 1468, 16);
  }
}

// 40 MiB in blocks of 1,468 bytes are 28,572 blocks: the block number rolls over inside a window of 16. Every
// 50th datagram of either direction is lost, so windows end early on gaps and lost ACKs are waited out.
class OptionsOverALossyLink : public OptionsPeers {
 protected:
  static constexpr size_t kSize = 40 * 1024 * 1024;
  // The negotiated timeout of 1 s keeps the waits for lost window ends short; a transfer that falls back to
  // lock-step would wait out every 50th datagram and is cut off at the limit.
  const std::vector<std::string> kOptions = {"--blksize", "1468", "--windowsize", "16", "--timeout", "1"};
  static constexpr std::chrono::seconds kLimit{240};

  void SetUp() override {
    Start();
    WriteIni(client.Path(), {"TFTP/TTimeout=2", "TFTP/TRetries=5", "TFTP/TOverWriteFiles=1"});
  }
  void ExpectLossAndBlockSize(const LossyRelay& relay) {
    LossyRelay::Counts counts = relay.Snapshot();
    EXPECT_GT(counts.dropped, 0u);
    EXPECT_GE(counts.dropped, (counts.toServer + counts.toClient) / 50);
    EXPECT_EQ(std::max(counts.largestToClient, counts.largestToServer), 4u + 1468);
  }

  TempDir client;
};

TEST_F(OptionsOverALossyLink, HarbinexClientGetsAndPuts40MiB) {
  const std::string content = Content(kSize, 19);
  WriteFile(Dl() / "big.bin", content);
  {
    LossyRelay relay(Port(), 50);
    ToolRun run = HarbinexTftp(client.Path(), "get", relay.Port(), "big.bin", client.Path() / "big.bin",
                               kOptions, kLimit);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.out.starts_with(SuccessPrefix(kSize))) << run.out;
    EXPECT_TRUE(Holds(client.Path() / "big.bin", content));
    ExpectLossAndBlockSize(relay);
  }
  LossyRelay relay(Port(), 50);
  ToolRun run =
      HarbinexTftp(client.Path(), "put", relay.Port(), "up.bin", client.Path() / "big.bin", kOptions, kLimit);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.out.starts_with(SuccessPrefix(kSize))) << run.out;
  EXPECT_TRUE(Arrived(Dl() / "up.bin", content));
  ExpectLossAndBlockSize(relay);
}

}  // namespace
}  // namespace hx::test
